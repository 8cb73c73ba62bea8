#pragma once
// Loudness after EBU R128 (libebur128), and bringing a voice to the loudness of spoken programmes.

#include <string>

#include "voice/pcm_sound.h"

namespace vox {

inline constexpr double kVoiceLoudness = -16.0;  // LUFS
inline constexpr double kVoicePeakCeiling = -1.0;  // dBTP

struct Loudness {
    double integrated = 0;  // LUFS; minus infinity for silence
    double truePeak = 0;    // dBTP, the highest of the channels
};

bool MeasureLoudness(const PcmSound& sound, Loudness& result, std::string& error);

// Brings the sound to kVoiceLoudness (within a few tenths) with its true peak below kVoicePeakCeiling.
// Speech peaks stand 15-20 dB above its loudness, so a plain gain would clip: the peaks that would pass
// the ceiling are held down by a look-ahead limiter (5 ms attack, 50 ms release). The ceiling leaves
// 1 dB more room, which the lossy encoders' own overshoot takes. Silence is left as it is, and a very
// quiet recording is raised by at most 40 dB.
bool NormalizeLoudness(PcmSound& sound, std::string& error);

}  // namespace vox
