#include "account/discovery.h"
#include "base/translate.h"

#include <algorithm>
#include <future>

#include "account/client_config.h"
#include "account/provider_table.h"
#include "account/registrable_domain.h"
#include "account/submission_probe.h"
#include "delivery/mx_resolver.h"

namespace vox {

namespace {

constexpr int kSubmissionsPort = 465;
constexpr int kSubmissionPort = 587;

std::string WithoutTrailingDot(std::string name) {
    while (!name.empty() && name.back() == '.') name.pop_back();
    return name;
}

std::string ConfigUrl(const ConfigLocation& location) {
    // Shown without the query: the address is the user's own, not news to them.
    return "https://" + location.host + location.pathAndQuery.substr(0, location.pathAndQuery.find('?'));
}

}  // namespace

std::string CandidateLine(const Candidate& candidate) {
    return candidate.server.Name() + " " + SecurityName(candidate.server.security) + " (" + candidate.where + ")";
}

CAccountDiscovery::CAccountDiscovery(DiscoveryOptions options) : m_options(std::move(options)) {
    if (m_options.providerTable.empty()) m_options.providerTable = DefaultProviderTable();
    m_results.resize(kSlots);
}

CAccountDiscovery::~CAccountDiscovery() {
    m_stop = true;
    for (std::thread& thread : m_threads) thread.join();
}

int CAccountDiscovery::SecondsLeft() const {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - std::chrono::steady_clock::now()).count();
    return std::max<int>(1, static_cast<int>((left + 999) / 1000));
}

void CAccountDiscovery::Finish(int slot, std::vector<Candidate> found) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_results[slot]) return;
    m_results[slot] = std::move(found);
    --m_pending;
    m_changed.notify_all();
}

void CAccountDiscovery::Start(int slot, std::function<std::vector<Candidate>()> work) {
    m_threads.emplace_back([this, slot, work = std::move(work)] { Finish(slot, work()); });
}

std::vector<Candidate> CAccountDiscovery::Srv(const std::string& domain, bool tls) {
    const std::string name = std::string(tls ? "_submissions" : "_submission") + "._tcp." + domain;
    CMxResolver resolver;
    DnsAnswer<SrvRecord> answer = resolver.QuerySrv(name, SecondsLeft());
    std::vector<Candidate> found;
    // A lone record with the target "." says the service is not offered at all (RFC 2782).
    if (answer.records.size() == 1 && WithoutTrailingDot(answer.records[0].target).empty()) return found;
    // Lowest priority first; among equals the heavier weight first (a fixed order instead of the random
    // pick RFC 2782 asks of a client spreading load: one user, one server), else the answer's order.
    std::stable_sort(answer.records.begin(), answer.records.end(), [](const SrvRecord& a, const SrvRecord& b) {
        return a.priority != b.priority ? a.priority < b.priority : a.weight > b.weight;
    });
    for (const SrvRecord& record : answer.records) {
        const std::string target = WithoutTrailingDot(record.target);
        if (target.empty() || record.port == 0) continue;
        Candidate candidate;
        candidate.server = {target, record.port, tls ? Security::Tls : Security::StartTls};
        candidate.foundBy = FoundBy::Srv;
        candidate.where = "SRV " + name;
        found.push_back(std::move(candidate));
    }
    return found;
}

std::vector<Candidate> CAccountDiscovery::ConfigFile(const std::string& domain, const std::string& address,
                                                      int which, FoundBy foundBy, const std::string& prefix) {
    const ConfigLocation location = ClientConfigLocations(domain, address)[static_cast<std::size_t>(which)];
    HttpsOptions https;
    https.trustFile = m_options.trustFile;
    https.port = m_options.httpsPort;
    https.deadline = m_deadline;
    https.cancel = &m_stop;
    std::vector<Candidate> found;
    for (ConfiguredServer& entry : ParseClientConfig(FetchHttps(location.host, location.pathAndQuery, https), address)) {
        Candidate candidate;
        candidate.server = std::move(entry.server);
        candidate.user = std::move(entry.user);
        candidate.foundBy = foundBy;
        candidate.where = prefix + Format(Tr("配置文件%s"), ConfigUrl(location).c_str());
        found.push_back(std::move(candidate));
    }
    return found;
}

void CAccountDiscovery::MailHost(const std::string& domain, const std::string& address) {
    // The registrable domain of the first exchanger: a company domain whose mail a big provider keeps.
    CMxResolver resolver;
    MxAnswer mx = resolver.QueryMx(domain, SecondsLeft());
    std::string hostDomain;
    if (mx.status == MxStatus::Ok && !mx.exchangers.empty()) hostDomain = RegistrableDomain(mx.exchangers[0]);
    if (hostDomain.empty() || hostDomain == domain) {
        Finish(kProviderMailHost, {});
        Finish(kMailHostConfig, {});
        return;
    }
    std::vector<Candidate> known;
    for (SubmissionServer& server : LookupProvider(m_options.providerTable, hostDomain)) {
        known.push_back({std::move(server), "", FoundBy::KnownProvider, Format(Tr("已知服务商%s，邮件主机"), hostDomain.c_str())});
    }
    Finish(kProviderMailHost, std::move(known));

    const std::string prefix = Format(Tr("邮件主机%s，"), hostDomain.c_str());
    auto autoconfig = std::async(std::launch::async, [&] {
        return ConfigFile(hostDomain, address, 0, FoundBy::MailHostConfigFile, prefix);
    });
    std::vector<Candidate> found = ConfigFile(hostDomain, address, 1, FoundBy::MailHostConfigFile, prefix);
    std::vector<Candidate> first = autoconfig.get();
    first.insert(first.end(), found.begin(), found.end());
    Finish(kMailHostConfig, std::move(first));
}

std::vector<Candidate> CAccountDiscovery::Guess(const std::string& host, const SubmissionServer& server) {
    // Looked up here, with the deadline's wait, rather than by the socket's own unbounded look-up.
    CMxResolver resolver;
    const DnsAnswer<std::string> a = resolver.QueryA(host, SecondsLeft());
    if (a.records.empty() || m_stop) return {};
    ProbeOptions probe;
    probe.trustFile = m_options.trustFile;
    probe.timeoutSeconds = SecondsLeft();
    probe.cancel = &m_stop;
    if (!ProbeSubmission(server, a.records[0], probe)) return {};
    return {{server, "", FoundBy::Guess, Tr("推测，提供登录")}};
}

std::vector<Candidate> CAccountDiscovery::Run(const std::string& address) {
    const std::string domain = AddressDomain(address);
    m_deadline = std::chrono::steady_clock::now() + m_options.bound;
    if (domain.empty() || !m_threads.empty()) return {};
    m_pending = kSlots;

    Start(kSrvTls, [this, domain] { return Srv(domain, true); });
    Start(kSrvStartTls, [this, domain] { return Srv(domain, false); });
    Start(kConfigAutoconfig, [this, domain, address] {
        return ConfigFile(domain, address, 0, FoundBy::ConfigFile, "");
    });
    Start(kConfigWellKnown, [this, domain, address] {
        return ConfigFile(domain, address, 1, FoundBy::ConfigFile, "");
    });
    // Fills two slots: the mail host's file and its line in the provider list.
    m_threads.emplace_back([this, domain, address] { MailHost(domain, address); });
    std::vector<Candidate> known;
    for (SubmissionServer& server : LookupProvider(m_options.providerTable, domain))
        known.push_back({std::move(server), "", FoundBy::KnownProvider, Format(Tr("已知服务商%s"), domain.c_str())});
    Finish(kProviderDomain, std::move(known));
    int slot = kGuess0;
    for (const char* prefix : {"smtp.", "mail.", ""}) {
        const std::string host = prefix + domain;
        for (const auto& [port, security] : {std::pair{kSubmissionsPort, Security::Tls},
                                             std::pair{kSubmissionPort, Security::StartTls}}) {
            const SubmissionServer server{host, port, security};
            Start(slot++, [this, host, server] { return Guess(host, server); });
        }
    }

    {
        std::unique_lock<std::mutex> lock(m_mutex);
        // The user's Cancel is a plain flag, so the wait looks at it in short slices.
        while (m_pending > 0 && std::chrono::steady_clock::now() < m_deadline &&
               !(m_options.cancel != nullptr && m_options.cancel->load())) {
            m_changed.wait_until(lock, std::min(m_deadline, std::chrono::steady_clock::now() +
                                                                std::chrono::milliseconds(50)));
        }
    }
    m_stop = true;  // whatever still runs gives up; its answer would come too late
    // A cancelled search has no answer, whatever its quicker sources found before the user said so.
    if (m_options.cancel != nullptr && m_options.cancel->load()) return {};

    std::vector<Candidate> best;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& slotResult : m_results) {
        if (!slotResult) continue;
        for (const Candidate& candidate : *slotResult) {
            const bool seen = std::any_of(best.begin(), best.end(), [&](const Candidate& b) {
                return b.server == candidate.server;
            });
            if (seen) continue;
            best.push_back(candidate);
            if (best.back().user.empty()) best.back().user = address;
        }
    }
    return best;
}

}  // namespace vox
