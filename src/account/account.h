#pragma once
// A sending account: the user's own provider's submission server for one sender address. Everything but
// the password lives in accounts.conf; the password lives in the desktop's keyring.

#include <string>

#include "delivery/smtp_conversation.h"

namespace vox {

// How a submission server is spoken to. Plain text is never offered: the password would travel in clear.
enum class Security {
    Tls,       // TLS from the first byte (port 465, RFC 8314)
    StartTls,  // plain greeting, then STARTTLS before anything else (port 587)
};

// "TLS" / "STARTTLS", as the command line and accounts.conf write it.
const char* SecurityName(Security security);
// Reads "TLS" or "STARTTLS" (any case; "SSL" is the older name of TLS); false for anything else.
bool ParseSecurity(const std::string& text, Security& security);
// The session's TLS mode for it: the certificate is always verified for a submission server.
TlsMode SessionTls(Security security);

struct SubmissionServer {
    std::string host;
    int port = 0;
    Security security = Security::Tls;

    // "HOST:PORT", the keyring's name for the server.
    std::string Name() const { return host + ":" + std::to_string(port); }
    bool operator==(const SubmissionServer&) const = default;
};

struct Account {
    std::string address;  // the sender address it belongs to, as written in 发件人
    SubmissionServer server;
    std::string user;     // the login name; most providers want the address itself
};

// The part after the last "@", lower-cased; empty when there is none.
std::string AddressDomain(const std::string& address);
// The part before the last "@".
std::string AddressLocalPart(const std::string& address);

}  // namespace vox
