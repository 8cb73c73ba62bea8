#pragma once
// The voice as Ogg Opus (libopusenc, which also brings any sample rate to Opus's 48 kHz) or as MP3
// (LAME), in memory, at the bit rates of VoiceBitRate.

#include <string>

#include "voice/pcm_sound.h"
#include "voice/voice_format.h"

namespace vox {

// Settings both encoders share with their command-line tools, so that the benchmark compares like with
// like: Opus VBR at complexity 10 tuned for speech; MP3 CBR at LAME's quality 3 with an Info frame.
inline constexpr int kOpusComplexity = 10;
inline constexpr int kMp3Quality = 3;

bool EncodeOpus(const PcmSound& sound, std::string& bytes, std::string& error);
bool EncodeMp3(const PcmSound& sound, std::string& bytes, std::string& error);

// Either of the two above, or EncodeWav16.
bool EncodeVoice(VoiceFormat format, const PcmSound& sound, std::string& bytes, std::string& error);

}  // namespace vox
