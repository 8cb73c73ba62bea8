#pragma once
// A sound as floating-point samples, the form the encoders and the loudness measure work on.

#include <cstddef>
#include <string>
#include <vector>

namespace vox {

struct PcmSound {
    int rate = 0;
    int channels = 0;
    std::vector<float> samples;  // interleaved, -1 to 1

    std::size_t Frames() const { return channels > 0 ? samples.size() / static_cast<std::size_t>(channels) : 0; }
    double Seconds() const { return rate > 0 ? static_cast<double>(Frames()) / rate : 0.0; }
};

// What a sound file holds, by its content (not its name).
enum class SoundFileKind {
    Wav,         // a RIFF/WAVE file of any sample format
    Compressed,  // Ogg (Opus, Vorbis) or MP3: already small, sent as it is
    Other,       // anything else the sound library reads (AIFF, AU, FLAC ...) or does not read at all
};

SoundFileKind SoundFileKindOf(const std::string& path);

// A sound file's format and length, without reading its samples.
struct SoundInfo {
    int rate = 0;
    int channels = 0;
    long long frames = 0;
};
bool ReadSoundInfo(const std::string& path, SoundInfo& info);

// Reads any file the sound library reads: WAV of every sample format, Ogg Opus and Vorbis, MP3, FLAC,
// AIFF, AU. False with the library's reason (or the system's) otherwise.
bool ReadSound(const std::string& path, PcmSound& sound, std::string& error);

// The sound as a 16-bit PCM WAV file, in memory.
bool EncodeWav16(const PcmSound& sound, std::string& bytes, std::string& error);

}  // namespace vox
