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

DeliveryFailure NoMailServer(const std::string& address) { return {address, kReasonNoMailServer}; }

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

MxAnswer CMxResolver::ParseMxAnswer(const unsigned char* message, int length) {
    MxAnswer answer;
    ns_msg handle;
    if (ns_initparse(message, length, &handle) < 0) return answer;
    answer.status = MxStatus::Ok;
    std::vector<std::pair<unsigned, std::string>> records;  // preference, host
    bool rootTarget = false;
    const int count = ns_msg_count(handle, ns_s_an);
    for (int i = 0; i < count; ++i) {
        ns_rr rr;
        if (ns_parserr(&handle, ns_s_an, i, &rr) < 0) break;
        if (ns_rr_type(rr) != ns_t_mx || ns_rr_rdlen(rr) < 3) continue;
        char name[NS_MAXDNAME];
        if (ns_name_uncompress(ns_msg_base(handle), ns_msg_end(handle), ns_rr_rdata(rr) + 2, name, sizeof name) < 0)
            continue;
        const std::string host = name;
        if (host.empty() || host == ".") {
            rootTarget = true;  // "." is no host to connect to
            continue;
        }
        records.emplace_back(ns_get16(ns_rr_rdata(rr)), host);
    }
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

MxAnswer CMxResolver::QueryMx(const std::string& domain) {
    if (!HasNameServer(kResolvConf)) return {MxStatus::NoDnsServer, {}};
    // A state of our own, initialised afresh for each query, so a configuration changed in between is
    // seen and no other thread's resolver state is touched.
    std::memset(m_res.get(), 0, sizeof(struct __res_state));
    if (res_ninit(m_res.get()) != 0) {
        res_nclose(m_res.get());
        return {};
    }
    std::vector<unsigned char> reply(64 * 1024);
    const int n = res_nquery(m_res.get(), domain.c_str(), ns_c_in, ns_t_mx, reply.data(), static_cast<int>(reply.size()));
    const int error = m_res->res_h_errno;
    res_nclose(m_res.get());
    // A name that exists without MX records is an answer too: the domain may be its own exchanger.
    if (n < 0) return {error == NO_DATA ? MxStatus::Ok : MxStatus::Failed, {}};
    return ParseMxAnswer(reply.data(), n < static_cast<int>(reply.size()) ? n : static_cast<int>(reply.size()));
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
    if (answer.nullMx) return DeliveryFailure{address, kReasonNullMx};
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
