#pragma once
// The form the voice takes in the mail. "Sound.wav" itself is always the recording's plain WAV; only the
// copy that goes into the mail changes.

#include <optional>
#include <string_view>

namespace vox {

enum class VoiceFormat { Wav, Opus, Mp3 };

// "wav", "opus", "mp3" (the command line's and the settings file's words).
std::string_view VoiceFormatName(VoiceFormat format);
std::optional<VoiceFormat> ParseVoiceFormat(std::string_view name);

// The part's file name and Content-Type for an encoded copy.
std::string_view VoiceFileName(VoiceFormat format);
std::string_view VoiceContentType(VoiceFormat format);

// Bits per second the encoders aim at, for a sound of that rate and channel count.
//
// Opus: 32 kbit/s for mono is where Opus carries full-band speech without audible loss; a stereo
// recording from one microphone is two nearly equal channels, which Opus codes jointly, so 40 kbit/s is
// enough. A recording at 8000 Hz holds nothing above 4 kHz: 16/24 kbit/s carry all of it. One minute of
// 44100 Hz stereo is then 300 KB, about 410 KB in the mail.
//
// MP3 is only there for readers that play nothing else; it needs about twice Opus's rate for the same
// speech: 64/96 kbit/s from 16000 Hz up, 32/48 below. Less than 56 kbit/s at 22050 Hz mono leaves frames
// too small for the Info frame that tells players the exact length (the voice would grow by 56 ms).
int VoiceBitRate(VoiceFormat format, int sampleRate, int channels);

// What goes into the mail for the voice.
struct VoiceOptions {
    VoiceFormat format = VoiceFormat::Wav;
    bool normalize = false;  // bring the copy to -16 LUFS, true peak at most -1 dBTP
};

}  // namespace vox
