// What a DNS server answers: any bytes, read as an MX, SRV and TXT reply.

#include <cstddef>
#include <cstdint>

#include "delivery/mx_resolver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int length = static_cast<int>(size);
    const vox::MxAnswer answer = vox::CMxResolver::ParseMxAnswer(data, length);
    for (const std::string& name : answer.exchangers)
        if (name.size() > 1025) __builtin_trap();  // an expanded name never exceeds NS_MAXDNAME
    for (const vox::SrvRecord& srv : vox::CMxResolver::ParseSrvAnswer(data, length).records)
        if (srv.target.size() > 1025 || srv.port > 65535) __builtin_trap();
    for (const std::string& text : vox::CMxResolver::ParseTxtAnswer(data, length).records)
        if (text.size() > size) __builtin_trap();  // a record's text comes from inside the reply
    return 0;
}
