#include "delivery/mx_resolver.h"

#include <arpa/nameser.h>
#include <netinet/in.h>
#include <resolv.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace vox {

namespace {

const char kResolvConf[] = "/etc/resolv.conf";

DeliveryFailure NoMailServer(const std::string& address) { return {address, kReasonNoMailServer}; }

}  // namespace

CMxResolver::CMxResolver() : m_res(std::make_unique<struct __res_state>()) {
    m_lookup = [this](const std::string& domain) { return QueryMx(domain); };
}

CMxResolver::CMxResolver(MxLookup lookup) : m_lookup(std::move(lookup)), m_res(std::make_unique<struct __res_state>()) {}

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
    const int count = ns_msg_count(handle, ns_s_an);
    for (int i = 0; i < count; ++i) {
        ns_rr rr;
        if (ns_parserr(&handle, ns_s_an, i, &rr) < 0) break;
        // Only the exchanger's name is wanted; the preference is deliberately not read: the exchangers
        // are tried in the order the server gave them.
        if (ns_rr_type(rr) != ns_t_mx || ns_rr_rdlen(rr) < 3) continue;
        char name[NS_MAXDNAME];
        if (ns_name_uncompress(ns_msg_base(handle), ns_msg_end(handle), ns_rr_rdata(rr) + 2, name, sizeof name) < 0)
            continue;
        answer.exchangers.emplace_back(name);
    }
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
    res_nclose(m_res.get());
    if (n < 0) return {};
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
    if (answer.status != MxStatus::Ok || answer.exchangers.empty()) return NoMailServer(address);

    DeliveryResult last;
    for (const std::string& exchanger : answer.exchangers) {
        last = attempt(exchanger, address);
        if (!last) return std::nullopt;  // delivered; earlier exchangers' failures are of no interest
    }
    return last;
}

}  // namespace vox
