// What a stranger's server sends: any bytes, cut into any segments, read as replies and as EHLO lines.
// However the bytes are cut, the replies read must be the same as when they all come at once.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "delivery/smtp_reply.h"

namespace {

std::vector<vox::SmtpReply> ReadAll(const char* bytes, std::size_t size, std::size_t segment) {
    vox::ReplyReader reader;
    std::vector<vox::SmtpReply> replies;
    for (std::size_t at = 0; at < size; at += segment) {
        reader.Feed(bytes + at, at + segment <= size ? segment : size - at);
        while (auto reply = reader.Next()) {
            const vox::EhloExtensions ext = vox::ParseEhlo(*reply);
            if (reply->text.empty() || (ext.sizeLimit != 0 && !ext.size)) __builtin_trap();
            replies.push_back(std::move(*reply));
        }
    }
    return replies;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte decides the segment length, so one input covers replies split anywhere.
    const std::size_t segment = 1 + data[0] % 64;
    const char* bytes = reinterpret_cast<const char*>(data) + 1;
    const std::vector<vox::SmtpReply> cut = ReadAll(bytes, size - 1, segment);
    const std::vector<vox::SmtpReply> whole = ReadAll(bytes, size - 1, size);
    if (cut.size() != whole.size()) __builtin_trap();
    for (std::size_t i = 0; i < cut.size(); ++i)
        if (cut[i].code != whole[i].code || cut[i].text != whole[i].text || cut[i].lines != whole[i].lines)
            __builtin_trap();
    return 0;
}
