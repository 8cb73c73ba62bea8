#pragma once
// Turns one recipient address into delivery attempts: the domain's mail exchangers from DNS, tried by
// preference (RFC 5321 5.1) until one accepts the message.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "delivery/delivery_failure.h"

struct __res_state;

namespace vox {

enum class MxStatus {
    Ok,           // an answer came back; it may still hold no MX record
    NoDnsServer,  // the system has no name server configured: nothing was asked
    Failed,       // no answer, an error reply, or no such name
};

struct MxAnswer {
    MxStatus status = MxStatus::Failed;
    // Host names of the MX records in the order to try them: by preference, equal ones shuffled so that
    // senders spread over them.
    std::vector<std::string> exchangers;
    bool nullMx = false;  // the domain says it takes no mail at all: "0 ." alone (RFC 7505)
};

// One MX query for a domain.
using MxLookup = std::function<MxAnswer(const std::string& domain)>;
// Whether a name has an address record (A or AAAA): a domain without MX records is then its own exchanger.
using AddressCheck = std::function<bool(const std::string& name)>;

class CMxResolver {
public:
    // Queries through glibc's resolver with the system's configuration, re-read for every query.
    CMxResolver();
    // Queries through lookup instead, for tests of the walk over the exchangers; without hasAddress no
    // name has an address.
    explicit CMxResolver(MxLookup lookup, AddressCheck hasAddress = {});
    ~CMxResolver();

    CMxResolver(const CMxResolver&) = delete;
    CMxResolver& operator=(const CMxResolver&) = delete;

    // Empty result: one exchanger accepted. Otherwise the refusal of the last exchanger that answered
    // (temporary for a 4xx), a temporary "unreachable" one when none could be connected to, the final
    // "该域名不接收邮件" for a null MX, or the final "无法获得邮件服务器" when no exchanger could be had.
    DeliveryResult DeliverToRecipient(const std::string& address, const ExchangerAttempt& attempt);

    // One query through this object's own resolver state.
    MxAnswer QueryMx(const std::string& domain);

    // Where the system has no name server, the resolver would silently ask 127.0.0.1; a missing file or
    // one without any "nameserver" line is what other systems report as "no DNS server configured".
    static bool HasNameServer(const std::string& resolvConfPath);

    // The MX exchangers of a DNS reply's answer section in the order to try them; other record types are
    // skipped.
    static MxAnswer ParseMxAnswer(const unsigned char* message, int length);

private:
    MxLookup m_lookup;
    AddressCheck m_hasAddress;
    std::unique_ptr<struct __res_state> m_res;  // this object's own resolver state
};

}  // namespace vox
