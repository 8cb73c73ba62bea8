#pragma once
// The numbers and the size line of a recording, shared by the recording window and voxletter-cli record.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vox {

// The byte limit for a record length: (seconds × bits × channels × rate) / 8. The window works this out
// in 32 bits, which is exact only while the product fits; longer lengths have no limit here (nullopt)
// and are refused rather than wrapped round to a short one.
std::optional<int32_t> RecordLimitBytes(uint64_t seconds, uint32_t rate, uint32_t bits, uint32_t channels);

// The longest record length whose limit RecordLimitBytes can give.
uint64_t MaxRecordSeconds(uint32_t rate, uint32_t bits, uint32_t channels);

// The divisor that brings byte counts up to the limit into a progress bar's range: a power of ten, the
// smallest for which limit / scale is at most 1000.
int32_t ProgressScale(int32_t limitBytes);

// The loudest sample of a captured block, 0 (silence) to 32768 (full scale): 8-bit samples are unsigned
// around 128, 16-bit ones signed little-endian. A trailing odd byte of a 16-bit block is ignored.
uint32_t BlockPeak(const uint8_t* data, size_t bytes, uint32_t bitsPerSample);

// The running size line: "录音内容当前大小78KB", or "录音内容当前大小1.68MB" above 1048576 bytes.
std::string RecordSizeText(uint32_t bytes);

}  // namespace vox
