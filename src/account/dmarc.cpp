#include "account/dmarc.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "account/registrable_domain.h"
#include "base/text_rules.h"
#include "delivery/mx_resolver.h"

namespace vox {

namespace {

std::string Trim(const std::string& text) { return TrimBlanks(text, " \t"); }
std::string Lower(std::string text) { return AsciiLower(std::move(text)); }

// The one DMARC record among a name's TXT records; several make none (RFC 7489 6.6.3).
std::optional<DmarcPolicy> PolicyOf(const DnsAnswer<std::string>& answer, bool subdomain, bool* found) {
    std::optional<DmarcPolicy> policy;
    int records = 0;
    for (const std::string& text : answer.records) {
        if (std::optional<DmarcPolicy> p = ParseDmarcRecord(text, subdomain)) {
            policy = p;
            ++records;
        }
    }
    *found = records > 0;
    return records == 1 ? policy : std::nullopt;
}

struct Pending {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::optional<DmarcPolicy> policy;
};

}  // namespace

const char* DmarcPolicyName(DmarcPolicy policy) {
    switch (policy) {
        case DmarcPolicy::None: return "none";
        case DmarcPolicy::Quarantine: return "quarantine";
        case DmarcPolicy::Reject: return "reject";
        case DmarcPolicy::Unknown: break;
    }
    return "unknown";
}

std::optional<DmarcPolicy> ParseDmarcRecord(const std::string& text, bool subdomain) {
    std::istringstream tags(text);
    std::string tag;
    bool first = true;
    std::optional<DmarcPolicy> p, sp;
    while (std::getline(tags, tag, ';')) {
        const std::size_t eq = tag.find('=');
        const std::string name = Lower(Trim(tag.substr(0, eq)));
        const std::string value = eq == std::string::npos ? "" : Lower(Trim(tag.substr(eq + 1)));
        if (first) {
            // The version tag must come first and say DMARC1, or this is some other TXT record.
            if (name != "v" || Trim(tag.substr(eq == std::string::npos ? 0 : eq + 1)) != "DMARC1")
                return std::nullopt;
            first = false;
            continue;
        }
        DmarcPolicy policy = DmarcPolicy::Unknown;
        if (value == "none") policy = DmarcPolicy::None;
        else if (value == "quarantine") policy = DmarcPolicy::Quarantine;
        else if (value == "reject") policy = DmarcPolicy::Reject;
        if (name == "p") p = policy;
        else if (name == "sp") sp = policy;
    }
    if (first) return std::nullopt;
    if (subdomain && sp) return sp;
    return p ? *p : DmarcPolicy::Unknown;
}

std::optional<DmarcPolicy> LookupDmarc(const std::string& domain, std::chrono::milliseconds bound) {
    if (domain.empty()) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    const int seconds = std::max<int>(1, static_cast<int>((bound.count() + 999) / 1000));
    auto pending = std::make_shared<Pending>();
    // The resolver cannot be interrupted, and with several name servers its own waits add up; the
    // look-up runs on a thread of its own that the caller does not wait for beyond the bound. It touches
    // nothing but what it shares here.
    std::thread([pending, domain, seconds] {
        CMxResolver resolver;
        bool found = false;
        std::optional<DmarcPolicy> policy = PolicyOf(resolver.QueryTxt("_dmarc." + domain, seconds), false, &found);
        if (!found) {
            const std::string organisational = RegistrableDomain(domain);
            if (!organisational.empty() && organisational != Lower(domain))
                policy = PolicyOf(resolver.QueryTxt("_dmarc." + organisational, seconds), true, &found);
        }
        std::lock_guard<std::mutex> lock(pending->mutex);
        pending->policy = policy;
        pending->finished = true;
        pending->done.notify_all();
    }).detach();
    std::unique_lock<std::mutex> lock(pending->mutex);
    if (!pending->done.wait_until(lock, deadline, [&] { return pending->finished; })) return std::nullopt;
    return pending->policy;
}

}  // namespace vox
