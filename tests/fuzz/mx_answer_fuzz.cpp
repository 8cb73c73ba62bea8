// What a DNS server answers: any bytes, read as an MX reply.

#include <cstddef>
#include <cstdint>

#include "delivery/mx_resolver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const vox::MxAnswer answer = vox::CMxResolver::ParseMxAnswer(data, static_cast<int>(size));
    for (const std::string& name : answer.exchangers)
        if (name.size() > 1025) __builtin_trap();  // an expanded name never exceeds NS_MAXDNAME
    return 0;
}
