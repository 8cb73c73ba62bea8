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

// One SRV record (RFC 2782); target "." means the service is not offered there.
struct SrvRecord {
    int priority = 0;
    int weight = 0;
    int port = 0;
    std::string target;
};

// The records of one query of another type, through the same resolver code as MX.
template <typename Record>
struct DnsAnswer {
    MxStatus status = MxStatus::Failed;
    std::vector<Record> records;  // in answer order
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

    // One query through this object's own resolver state (timeoutSeconds as below).
    MxAnswer QueryMx(const std::string& domain, int timeoutSeconds = 0);
    // SRV, TXT (each record's strings joined) and A (dotted quads) through the same state. timeoutSeconds
    // above 0 caps the resolver's own wait for this query (one try per name server, which share it), for
    // callers bound to a deadline.
    DnsAnswer<SrvRecord> QuerySrv(const std::string& name, int timeoutSeconds = 0);
    DnsAnswer<std::string> QueryTxt(const std::string& name, int timeoutSeconds = 0);
    DnsAnswer<std::string> QueryA(const std::string& name, int timeoutSeconds = 0);

    // Where the system has no name server, the resolver would silently ask 127.0.0.1; a missing file or
    // one without any "nameserver" line is what other systems report as "no DNS server configured".
    static bool HasNameServer(const std::string& resolvConfPath);

    // The MX exchangers of a DNS reply's answer section in the order to try them; other record types are
    // skipped.
    static MxAnswer ParseMxAnswer(const unsigned char* message, int length);
    static DnsAnswer<SrvRecord> ParseSrvAnswer(const unsigned char* message, int length);
    static DnsAnswer<std::string> ParseTxtAnswer(const unsigned char* message, int length);
    static DnsAnswer<std::string> ParseAAnswer(const unsigned char* message, int length);

private:
    // res_nquery with a freshly initialised state: the reply's length, or -1 (status in *status).
    int Query(const std::string& name, int type, int timeoutSeconds, std::vector<unsigned char>& reply,
              MxStatus* status);
    template <typename Record>
    DnsAnswer<Record> QueryRecords(const std::string& name, int type, int timeoutSeconds,
                                   DnsAnswer<Record> (*parse)(const unsigned char*, int));

    MxLookup m_lookup;
    AddressCheck m_hasAddress;
    std::unique_ptr<struct __res_state> m_res;  // this object's own resolver state
};

}  // namespace vox
