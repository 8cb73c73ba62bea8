#include "account/registrable_domain.h"

#include <libpsl.h>

namespace vox {

std::string RegistrableDomain(const std::string& host) {
    std::string name = host;
    while (!name.empty() && name.back() == '.') name.pop_back();
    if (name.empty()) return "";
    // The newest list on the system (the publicsuffix package), else the one built into the library.
    psl_ctx_t* psl = psl_latest(nullptr);
    if (psl == nullptr) return "";
    const char* found = psl_registrable_domain(psl, name.c_str());
    std::string domain = found != nullptr ? found : "";
    psl_free(psl);
    return domain;
}

}  // namespace vox
