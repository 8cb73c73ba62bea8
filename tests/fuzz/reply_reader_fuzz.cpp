// What a stranger's server sends: any bytes, cut into any segments, read as replies and as EHLO lines.

#include <cstddef>
#include <cstdint>

#include "delivery/smtp_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vox::ReplyReader reader;
    // The first byte decides the segment length, so one input covers replies split anywhere.
    const std::size_t segment = size > 0 ? 1 + data[0] % 64 : 1;
    const char* bytes = reinterpret_cast<const char*>(data);
    for (std::size_t at = size > 0 ? 1 : 0; at < size; at += segment) {
        reader.Feed(bytes + at, at + segment <= size ? segment : size - at);
        while (auto reply = reader.Next()) {
            const vox::EhloExtensions ext = vox::ParseEhlo(*reply);
            if (reply->text.empty() || (ext.sizeLimit != 0 && !ext.size)) __builtin_trap();
        }
    }
    return 0;
}
