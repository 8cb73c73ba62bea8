#include "account/account.h"

#include <algorithm>
#include <cctype>

#include "base/text_rules.h"

namespace vox {

const char* SecurityName(Security security) { return security == Security::Tls ? "TLS" : "STARTTLS"; }

bool ParseSecurity(const std::string& text, Security& security) {
    std::string upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    if (upper == "TLS" || upper == "SSL") {
        security = Security::Tls;
        return true;
    }
    if (upper == "STARTTLS") {
        security = Security::StartTls;
        return true;
    }
    return false;
}

TlsMode SessionTls(Security security) { return security == Security::Tls ? TlsMode::Implicit : TlsMode::Required; }

std::string AddressDomain(const std::string& address) {
    const std::size_t at = address.rfind('@');
    if (at == std::string::npos) return "";
    std::string domain = address.substr(at + 1);
    domain = AsciiLower(std::move(domain));
    return domain;
}

std::string AddressLocalPart(const std::string& address) {
    const std::size_t at = address.rfind('@');
    return at == std::string::npos ? address : address.substr(0, at);
}

}  // namespace vox
