#include "sound/record_values.h"
#include "base/translate.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace vox {

std::optional<int32_t> RecordLimitBytes(uint64_t seconds, uint32_t rate, uint32_t bits, uint32_t channels) {
    const uint64_t perSecond = uint64_t{rate} * bits * channels;
    if (perSecond != 0 && seconds > std::numeric_limits<uint32_t>::max() / perSecond) return std::nullopt;
    return static_cast<int32_t>((seconds * perSecond) >> 3);
}

uint64_t MaxRecordSeconds(uint32_t rate, uint32_t bits, uint32_t channels) {
    const uint64_t perSecond = uint64_t{rate} * bits * channels;
    return perSecond == 0 ? std::numeric_limits<uint64_t>::max() : std::numeric_limits<uint32_t>::max() / perSecond;
}

int32_t ProgressScale(int32_t limitBytes) {
    int32_t scale = 1;
    while (limitBytes / scale > 1000) scale *= 10;
    return scale;
}

uint32_t BlockPeak(const uint8_t* data, size_t bytes, uint32_t bitsPerSample) {
    uint32_t peak = 0;
    if (bitsPerSample == 8) {
        for (size_t i = 0; i < bytes; ++i) {
            const int v = data[i] - 128;
            peak = std::max<uint32_t>(peak, static_cast<uint32_t>(v < 0 ? -v : v) << 8);
        }
        return peak;
    }
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        const int v = static_cast<int16_t>(static_cast<uint16_t>(data[i] | data[i + 1] << 8));
        peak = std::max<uint32_t>(peak, static_cast<uint32_t>(v < 0 ? -v : v));
    }
    return peak;
}

std::string RecordSizeText(uint32_t bytes) {
    if (bytes / 1024.0 > 1024) return Format(Tr("录音内容当前大小%.2fMB"), bytes / 1048576.0);
    return Format(Tr("录音内容当前大小%uKB"), bytes / 1024);
}

}  // namespace vox
