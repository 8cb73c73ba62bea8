#include "delivery/mx_resolver.h"

#include <arpa/nameser.h>
#include <netinet/in.h>
#include <resolv.h>

#include <netdb.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "delivery/smtp_reply.h"

namespace vox {

namespace {

const char kResolvConf[] = "/etc/resolv.conf";

DeliveryFailure NoMailServer(const std::string& address) { return {address, Tr(kReasonNoMailServer)}; }

bool HasAddressRecord(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const bool has = ::getaddrinfo(name.c_str(), nullptr, &hints, &found) == 0 && found != nullptr;
    if (found != nullptr) ::freeaddrinfo(found);
    return has;
}

}  // namespace

FailureKind KindOfReply(const std::string& reason) {
    const int code = ParseReplyCode(reason);
    return code >= 400 && code <= 499 ? FailureKind::Temporary : FailureKind::Final;
}

CMxResolver::CMxResolver() : m_hasAddress(HasAddressRecord), m_res(std::make_unique<struct __res_state>()) {
    m_lookup = [this](const std::string& domain) { return QueryMx(domain); };
}

CMxResolver::CMxResolver(MxLookup lookup, AddressCheck hasAddress)
    : m_lookup(std::move(lookup)), m_hasAddress(std::move(hasAddress)), m_res(std::make_unique<struct __res_state>()) {
    if (!m_hasAddress) m_hasAddress = [](const std::string&) { return false; };
}

CMxResolver::~CMxResolver() = default;

bool CMxResolver::HasNameServer(const std::string& resolvConfPath) {
    std::ifstream in(resolvConfPath);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string keyword, server;
        if (words >> keyword >> server && keyword == "nameserver") return true;
    }
    return false;
}

namespace {

// Calls each(rr, handle) for every record of the given type in a reply's answer section, in wire order;
// other types are skipped. False when the reply itself cannot be read.
template <typename Each>
bool WalkAnswer(const unsigned char* message, int length, ns_type type, Each each) {
    ns_msg handle;
    if (ns_initparse(message, length, &handle) < 0) return false;
    const int count = ns_msg_count(handle, ns_s_an);
    for (int i = 0; i < count; ++i) {
        ns_rr rr;
        if (ns_parserr(&handle, ns_s_an, i, &rr) < 0) break;
        if (ns_rr_type(rr) == type) each(rr, handle);
    }
    return true;
}

// A compressed name inside a record's data; false when it does not expand.
bool ExpandName(const ns_msg& handle, const unsigned char* at, std::string& name) {
    char text[NS_MAXDNAME];
    if (ns_name_uncompress(ns_msg_base(handle), ns_msg_end(handle), at, text, sizeof text) < 0) return false;
    name = text;
    return true;
}

}  // namespace

MxAnswer CMxResolver::ParseMxAnswer(const unsigned char* message, int length) {
    MxAnswer answer;
    std::vector<std::pair<unsigned, std::string>> records;  // preference, host
    bool rootTarget = false;
    const bool read = WalkAnswer(message, length, ns_t_mx, [&](const ns_rr& rr, const ns_msg& handle) {
        std::string host;
        if (ns_rr_rdlen(rr) < 3 || !ExpandName(handle, ns_rr_rdata(rr) + 2, host)) return;
        if (host.empty() || host == ".") {
            rootTarget = true;  // "." is no host to connect to
            return;
        }
        records.emplace_back(ns_get16(ns_rr_rdata(rr)), std::move(host));
    });
    if (!read) return answer;
    answer.status = MxStatus::Ok;
    // A lone "." is the domain's word that it takes no mail; beside real exchangers it is only a mistake.
    answer.nullMx = rootTarget && records.empty();
    // Lowest preference first; equal ones in random order, so no one exchanger of a group takes all mail.
    static thread_local std::minstd_rand random{std::random_device{}()};
    std::shuffle(records.begin(), records.end(), random);
    std::stable_sort(records.begin(), records.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& r : records) answer.exchangers.push_back(std::move(r.second));
    return answer;
}

DnsAnswer<SrvRecord> CMxResolver::ParseSrvAnswer(const unsigned char* message, int length) {
    DnsAnswer<SrvRecord> answer;
    const bool read = WalkAnswer(message, length, ns_t_srv, [&](const ns_rr& rr, const ns_msg& handle) {
        if (ns_rr_rdlen(rr) < 7) return;
        const unsigned char* data = ns_rr_rdata(rr);
        SrvRecord srv;
        srv.priority = ns_get16(data);
        srv.weight = ns_get16(data + 2);
        srv.port = ns_get16(data + 4);
        // The root name expands to ".": kept, since it says the service is not offered.
        if (ExpandName(handle, data + 6, srv.target)) answer.records.push_back(std::move(srv));
    });
    if (read) answer.status = MxStatus::Ok;
    return answer;
}

DnsAnswer<std::string> CMxResolver::ParseTxtAnswer(const unsigned char* message, int length) {
    DnsAnswer<std::string> answer;
    const bool read = WalkAnswer(message, length, ns_t_txt, [&](const ns_rr& rr, const ns_msg&) {
        // A record is a row of length-prefixed strings, which together make its text.
        std::string text;
        const unsigned char* at = ns_rr_rdata(rr);
        const unsigned char* end = at + ns_rr_rdlen(rr);
        while (at < end) {
            const std::size_t n = *at++;
            if (n > static_cast<std::size_t>(end - at)) return;  // a string running past the record
            text.append(reinterpret_cast<const char*>(at), n);
            at += n;
        }
        answer.records.push_back(std::move(text));
    });
    if (read) answer.status = MxStatus::Ok;
    return answer;
}

DnsAnswer<std::string> CMxResolver::ParseAAnswer(const unsigned char* message, int length) {
    DnsAnswer<std::string> answer;
    const bool read = WalkAnswer(message, length, ns_t_a, [&](const ns_rr& rr, const ns_msg&) {
        if (ns_rr_rdlen(rr) != 4) return;
        const unsigned char* a = ns_rr_rdata(rr);
        answer.records.push_back(std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) +
                                 "." + std::to_string(a[3]));
    });
    if (read) answer.status = MxStatus::Ok;
    return answer;
}

int CMxResolver::Query(const std::string& name, int type, int timeoutSeconds, std::vector<unsigned char>& reply,
                       MxStatus* status) {
    *status = MxStatus::Failed;
    if (!HasNameServer(kResolvConf)) {
        *status = MxStatus::NoDnsServer;
        return -1;
    }
    // A state of our own, initialised afresh for each query, so a configuration changed in between is
    // seen and no other thread's resolver state is touched.
    std::memset(m_res.get(), 0, sizeof(struct __res_state));
    if (res_ninit(m_res.get()) != 0) {
        res_nclose(m_res.get());
        return -1;
    }
    if (timeoutSeconds > 0) {
        // One try per name server, the servers sharing the time (the resolver counts whole seconds).
        const int perServer = std::max(1, timeoutSeconds / std::max(1, m_res->nscount));
        if (m_res->retrans > perServer) m_res->retrans = perServer;
        m_res->retry = 1;
    }
    reply.resize(64 * 1024);
    const int n = res_nquery(m_res.get(), name.c_str(), ns_c_in, type, reply.data(), static_cast<int>(reply.size()));
    const int error = m_res->res_h_errno;
    res_nclose(m_res.get());
    // A name that exists without records of the type is an answer too: for mail, the domain may be
    // its own exchanger.
    if (n < 0 && error == NO_DATA) *status = MxStatus::Ok;
    if (n < 0) return -1;
    return n < static_cast<int>(reply.size()) ? n : static_cast<int>(reply.size());
}

MxAnswer CMxResolver::QueryMx(const std::string& domain, int timeoutSeconds) {
    std::vector<unsigned char> reply;
    MxStatus status;
    const int n = Query(domain, ns_t_mx, timeoutSeconds, reply, &status);
    if (n < 0) return {status, {}};
    return ParseMxAnswer(reply.data(), n);
}

template <typename Record>
DnsAnswer<Record> CMxResolver::QueryRecords(const std::string& name, int type, int timeoutSeconds,
                                            DnsAnswer<Record> (*parse)(const unsigned char*, int)) {
    std::vector<unsigned char> reply;
    MxStatus status;
    const int n = Query(name, type, timeoutSeconds, reply, &status);
    if (n < 0) return {status, {}};
    return parse(reply.data(), n);
}

DnsAnswer<SrvRecord> CMxResolver::QuerySrv(const std::string& name, int timeoutSeconds) {
    return QueryRecords(name, ns_t_srv, timeoutSeconds, &ParseSrvAnswer);
}

DnsAnswer<std::string> CMxResolver::QueryTxt(const std::string& name, int timeoutSeconds) {
    return QueryRecords(name, ns_t_txt, timeoutSeconds, &ParseTxtAnswer);
}

DnsAnswer<std::string> CMxResolver::QueryA(const std::string& name, int timeoutSeconds) {
    return QueryRecords(name, ns_t_a, timeoutSeconds, &ParseAAnswer);
}

DeliveryResult CMxResolver::DeliverToRecipient(const std::string& address, const ExchangerAttempt& attempt) {
    const std::size_t at = address.find('@');
    if (at == std::string::npos) return NoMailServer(address);
    // Everything after the first "@", untouched: a second "@" stays in the domain and fails its query.
    const std::string domain = address.substr(at + 1);

    MxAnswer answer = m_lookup(domain);
    if (answer.status == MxStatus::NoDnsServer) {
        // There is no system setting of ours to repair here; ask once more in case one appeared.
        answer = m_lookup(domain);
    }
    if (answer.status != MxStatus::Ok) return NoMailServer(address);
    if (answer.nullMx) return DeliveryFailure{address, Tr(kReasonNullMx)};
    // No MX at all: the domain itself takes the mail when it has an address (RFC 5321 5.1).
    if (answer.exchangers.empty() && m_hasAddress(domain)) answer.exchangers.push_back(domain);
    if (answer.exchangers.empty()) return NoMailServer(address);

    DeliveryResult lastAnswer;   // the last exchanger that was reached: its refusal is the reason
    DeliveryResult unreachable;  // the last that could not be reached
    for (const std::string& exchanger : answer.exchangers) {
        DeliveryResult result = attempt(exchanger, address);
        if (!result) return std::nullopt;  // delivered; earlier exchangers' failures are of no interest
        (result->unreachable ? unreachable : lastAnswer) = std::move(result);
    }
    if (lastAnswer) {
        lastAnswer->unreachable = false;
        return lastAnswer;
    }
    // Not one exchanger could be reached: the network or the exchangers may come back.
    unreachable->kind = FailureKind::Temporary;
    return unreachable;
}

}  // namespace vox
