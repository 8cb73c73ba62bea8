#include "sound/record_values.h"

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

std::string RecordSizeText(uint32_t bytes) {
    char text[64];
    if (bytes / 1024.0 > 1024)
        std::snprintf(text, sizeof text, "录音内容当前大小%.2fMB", bytes / 1048576.0);
    else
        std::snprintf(text, sizeof text, "录音内容当前大小%uKB", bytes / 1024);
    return text;
}

}  // namespace vox
