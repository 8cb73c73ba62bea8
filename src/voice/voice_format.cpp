#include "voice/voice_format.h"

namespace vox {

namespace {

struct FormatNames {
    std::string_view name, fileName, contentType;
};

// In VoiceFormat's order.
constexpr FormatNames kNames[] = {
    {"wav", "Sound.wav", "audio/wav"},
    {"opus", "Sound.opus", "audio/ogg; codecs=opus"},
    {"mp3", "Sound.mp3", "audio/mpeg"},
};

const FormatNames& NamesOf(VoiceFormat format) { return kNames[static_cast<int>(format)]; }

}  // namespace

std::string_view VoiceFormatName(VoiceFormat format) { return NamesOf(format).name; }
std::string_view VoiceFileName(VoiceFormat format) { return NamesOf(format).fileName; }
std::string_view VoiceContentType(VoiceFormat format) { return NamesOf(format).contentType; }

std::optional<VoiceFormat> ParseVoiceFormat(std::string_view name) {
    for (VoiceFormat f : {VoiceFormat::Wav, VoiceFormat::Opus, VoiceFormat::Mp3}) {
        if (name == VoiceFormatName(f)) return f;
    }
    return std::nullopt;
}

int VoiceBitRate(VoiceFormat format, int sampleRate, int channels) {
    const bool stereo = channels > 1;
    switch (format) {
        case VoiceFormat::Opus:
            if (sampleRate <= 8000) return stereo ? 24000 : 16000;
            return stereo ? 40000 : 32000;
        case VoiceFormat::Mp3:
            if (sampleRate >= 16000) return stereo ? 96000 : 64000;
            return stereo ? 48000 : 32000;
        case VoiceFormat::Wav: break;
    }
    return 0;
}

}  // namespace vox
