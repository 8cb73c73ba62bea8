#include "voice/voice_format.h"

namespace vox {

std::string_view VoiceFormatName(VoiceFormat format) {
    switch (format) {
        case VoiceFormat::Opus: return "opus";
        case VoiceFormat::Mp3: return "mp3";
        case VoiceFormat::Wav: break;
    }
    return "wav";
}

std::optional<VoiceFormat> ParseVoiceFormat(std::string_view name) {
    for (VoiceFormat f : {VoiceFormat::Wav, VoiceFormat::Opus, VoiceFormat::Mp3}) {
        if (name == VoiceFormatName(f)) return f;
    }
    return std::nullopt;
}

std::string_view VoiceFileName(VoiceFormat format) {
    switch (format) {
        case VoiceFormat::Opus: return "Sound.opus";
        case VoiceFormat::Mp3: return "Sound.mp3";
        case VoiceFormat::Wav: break;
    }
    return "Sound.wav";
}

std::string_view VoiceContentType(VoiceFormat format) {
    switch (format) {
        case VoiceFormat::Opus: return "audio/ogg; codecs=opus";
        case VoiceFormat::Mp3: return "audio/mpeg";
        case VoiceFormat::Wav: break;
    }
    return "audio/wav";
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
