#pragma once
// The RIFF/WAVE file of a recording: "fmt " chunk of 18 bytes (extra format size 18, no extra bytes),
// "data" chunk with the raw samples, and a zero pad byte after odd data (counted in the RIFF size only).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "sound/wave_device.h"

namespace vox {

constexpr size_t kWavHeaderSize = 46;

// The 46 bytes in front of dataSize bytes of samples.
std::vector<uint8_t> WavHeader(const WaveFormatEx& format, uint32_t dataSize);

// Writes header, data and pad, whole: an existing file is replaced only once the new one is complete.
// Empty on success, else the system's reason.
std::string WriteWavFile(const std::filesystem::path& path, const WaveFormatEx& format, const uint8_t* data,
                 uint32_t dataSize);

}  // namespace vox
