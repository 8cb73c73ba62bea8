#include "delivery/outbox.h"

#include "base/program_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "base/whole_file.h"
#include "delivery/relay_settings.h"

namespace vox {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr int kStateVersion = 1;
const char kNoRelayPassword[] = N_("无法取得发信中继的密码");

std::string NewMailId(std::int64_t now) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char id[64];
    std::snprintf(id, sizeof id, "%lld-%016llx", static_cast<long long>(now),
                  static_cast<unsigned long long>(random()));
    return id;
}

bool ReadFile(const fs::path& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    bytes = text.str();
    return true;
}

// The outbox is one user's business: at most one program retries at a time.
class OutboxLock {
public:
    explicit OutboxLock(const fs::path& folder) {
        m_fd = ::open((folder / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd != -1 && ::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~OutboxLock() {
        if (m_fd != -1) ::close(m_fd);  // closing releases the lock
    }
    bool Held() const { return m_fd != -1; }

private:
    int m_fd = -1;
};

// The relay of a waiting mail, with its password read again from where the first send had it.
std::optional<RelaySettings> RelayOf(const OutboxRoute& route, const std::string& sender,
                                     const KeyringPasswordReader& keyring, std::string* why) {
    RelaySettings relay{route.relayHost, route.relayPort, route.relayUser, "", route.tlsMode};
    if (route.passwordSource == "config") {
        std::optional<RelaySettings> config = LoadRelayConfig(RelayConfigPath(), why);
        if (!config || config->host != relay.host || config->port != relay.port || config->user != relay.user)
            return std::nullopt;
        relay.password = config->password;
    } else if (route.passwordSource.rfind(kPasswordFromKeyring, 0) == 0) {
        // The account's item is named by the sender address as the account has it.
        std::string address = route.passwordSource.substr(std::strlen(kPasswordFromKeyring));
        if (address.empty()) address = sender;
        std::string problem;
        std::optional<std::string> password =
            keyring ? keyring(address, relay.host, relay.port, &problem) : std::nullopt;
        if (!keyring) problem = Tr("本程序此时无法读取密钥环");
        if (!password) {
            const std::string server = relay.host + ":" + std::to_string(relay.port);
            *why = problem.empty() ? Format(Tr("无法从密钥环取得发件账户 %s（%s）的密码"), address.c_str(), server.c_str())
                                   : Format(Tr("无法从密钥环取得发件账户 %s（%s）的密码：%s"), address.c_str(),
                                            server.c_str(), problem.c_str());
            return std::nullopt;
        }
        relay.password = std::move(*password);
    } else if (route.passwordSource.rfind("file:", 0) == 0) {
        if (!ReadPasswordFile(route.passwordSource.substr(5), relay.password, why)) return std::nullopt;
    } else if (const char* password = std::getenv(kRelayPasswordVariable)) {
        relay.password = password;
    } else {
        return std::nullopt;
    }
    return relay;
}

// The state file's names for the TLS modes a relay may be given.
const char* TlsName(TlsMode mode) { return mode == TlsMode::Implicit ? "tls" : "starttls"; }

// Passes the progress on, and hands each verdict to the outbox as soon as it is known.
class VerdictObserver : public DeliveryObserver {
public:
    VerdictObserver(DeliveryObserver& inner, std::function<void(const std::string&, const DeliveryFailure*)> onVerdict)
        : m_inner(inner), m_onVerdict(std::move(onVerdict)) {}
    void SetRecipientText(const std::string& address) override { m_inner.SetRecipientText(address); }
    void StepRecipientBar() override { m_inner.StepRecipientBar(); }
    void SetStepBar(int position) override { m_inner.SetStepBar(position); }
    void StepStepBar() override { m_inner.StepStepBar(); }
    void SetStepLine(const std::string& text) override { m_inner.SetStepLine(text); }
    void Delivered(const std::string& address, bool encrypted, const std::string& reply) override {
        m_inner.Delivered(address, encrypted, reply);
    }
    void Finished(const std::string& address, const DeliveryFailure* failure) override {
        m_onVerdict(address, failure);
        m_inner.Finished(address, failure);
    }

private:
    DeliveryObserver& m_inner;
    std::function<void(const std::string&, const DeliveryFailure*)> m_onVerdict;
};

}  // namespace

Outbox::Outbox(fs::path folder) : m_folder(std::move(folder)) {}

fs::path Outbox::DefaultFolder() {
    // Empty when there is no home to keep it in: nothing waits in the current folder.
    const fs::path state = XdgProgramFolder("XDG_STATE_HOME", ".local/state");
    return state.empty() ? fs::path() : state / "outbox";
}

std::int64_t Outbox::NextTry(int tries, std::int64_t firstTry, std::int64_t now) {
    const std::int64_t end = firstTry + kLifetime;
    if (now >= end) return 0;
    const std::size_t n = std::size(kDelays);
    const std::size_t index = tries < 1 ? 0 : std::min(static_cast<std::size_t>(tries - 1), n - 1);
    // The last try falls on the end of the two days rather than beyond it.
    return std::min(now + kDelays[index], end);
}

std::string Outbox::WriteState(const WaitingRecipient& w) const {
    json state = {
        {"version", kStateVersion}, {"mail", w.mailId},       {"address", w.address},
        {"sender", w.sender},       {"tries", w.tries},       {"first-try", w.firstTry},
        {"next-try", w.nextTry},    {"last-reason", w.lastReason},
    };
    if (!w.route.relayHost.empty())
        state["relay"] = {{"host", w.route.relayHost},
                          {"port", w.route.relayPort},
                          {"user", w.route.relayUser},
                          {"password-from", w.route.passwordSource}};
    if (!w.route.relayHost.empty() && w.route.tlsMode) state["relay"]["tls"] = TlsName(*w.route.tlsMode);
    // Reasons are a stranger server's bytes: invalid UTF-8 is replaced rather than refused.
    return WriteWholeFile(m_folder / w.stateFile, state.dump(1, ' ', false, json::error_handler_t::replace) + "\n");
}

std::string Outbox::Keep(const std::string& message, const std::string& sender, const OutboxRoute& route,
                         const FailureList& failures, std::int64_t now) {
    const bool any = std::any_of(failures.begin(), failures.end(),
                                 [](const DeliveryFailure& f) { return f.kind == FailureKind::Temporary; });
    if (!any) return "";
    std::error_code ec;
    fs::create_directories(m_folder, ec);
    if (ec) return ec.message();
    fs::permissions(m_folder, fs::perms::owner_all, fs::perm_options::replace, ec);
    const std::string mailId = NewMailId(now);
    // The mail before any state that names it: a state file never points at nothing.
    if (std::string why = WriteWholeFile(m_folder / (mailId + ".eml"), message); !why.empty()) return why;
    int n = 0;
    for (const DeliveryFailure& f : failures) {
        ++n;
        if (f.kind != FailureKind::Temporary) continue;
        WaitingRecipient w;
        w.stateFile = mailId + "." + std::to_string(n) + ".json";
        w.mailId = mailId;
        w.address = f.szAddress;
        w.sender = sender;
        w.route = route;
        w.tries = 1;
        w.firstTry = now;
        w.nextTry = NextTry(1, now, now);
        w.lastReason = f.szReason;
        if (std::string why = WriteState(w); !why.empty()) return why;
    }
    return "";
}

std::vector<WaitingRecipient> Outbox::List() const {
    std::vector<WaitingRecipient> list;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(m_folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".json" || !entry.is_regular_file(ec)) continue;
        std::string bytes;
        if (!ReadFile(entry.path(), bytes)) continue;
        const json state = json::parse(bytes, nullptr, false);
        if (!state.is_object() || state.value("version", 0) != kStateVersion) continue;
        WaitingRecipient w;
        w.stateFile = name;
        w.mailId = state.value("mail", "");
        w.address = state.value("address", "");
        w.sender = state.value("sender", "");
        w.tries = state.value("tries", 0);
        w.firstTry = state.value("first-try", std::int64_t{0});
        w.nextTry = state.value("next-try", std::int64_t{0});
        w.lastReason = state.value("last-reason", "");
        if (state.contains("relay") && state["relay"].is_object()) {
            const json& relay = state["relay"];
            w.route.relayHost = relay.value("host", "");
            w.route.relayPort = relay.value("port", 0);
            w.route.relayUser = relay.value("user", "");
            w.route.passwordSource = relay.value("password-from", "");
            const std::string tls = relay.value("tls", "");
            if (tls == "tls") w.route.tlsMode = TlsMode::Implicit;
            else if (tls == "starttls") w.route.tlsMode = TlsMode::Required;
        }
        if (w.mailId.empty() || w.address.empty()) continue;
        list.push_back(std::move(w));
    }
    std::sort(list.begin(), list.end(), [](const WaitingRecipient& a, const WaitingRecipient& b) {
        return a.nextTry != b.nextTry ? a.nextTry < b.nextTry : a.stateFile < b.stateFile;
    });
    return list;
}

void Outbox::RemoveMailIfUnused(const std::string& mailId) const {
    for (const WaitingRecipient& w : List())
        if (w.mailId == mailId) return;
    std::error_code ec;
    fs::remove(m_folder / (mailId + ".eml"), ec);
}

std::size_t Outbox::Drop(const std::string& address) {
    std::size_t dropped = 0;
    for (const WaitingRecipient& w : List()) {
        if (w.address != address) continue;
        std::error_code ec;
        if (fs::remove(m_folder / w.stateFile, ec)) ++dropped;
        RemoveMailIfUnused(w.mailId);
    }
    return dropped;
}

RetryOutcome Outbox::Retry(std::int64_t now, bool onlyDue, DeliveryObserver& observer,
                           const std::atomic<bool>& cancel, const DeliveryRoute& route) {
    RetryOutcome outcome;
    std::error_code ec;
    if (!fs::is_directory(m_folder, ec)) return outcome;
    const OutboxLock lock(m_folder);
    if (!lock.Held()) {
        outcome.busy = true;
        return outcome;
    }
    // One delivery per mail and route, its due recipients in the order they were first sent.
    std::map<std::string, std::vector<WaitingRecipient>> groups;
    for (WaitingRecipient& w : List())
        if (!onlyDue || w.nextTry <= now) groups[w.mailId + "\n" + w.route.relayHost].push_back(std::move(w));
    bool anyUnreachable = false;
    bool anyAnswered = false;
    for (auto& [key, waiting] : groups) {
        if (cancel) break;
        std::sort(waiting.begin(), waiting.end(),
                  [](const WaitingRecipient& a, const WaitingRecipient& b) { return a.stateFile < b.stateFile; });
        const WaitingRecipient& first = waiting.front();
        outcome.tried += waiting.size();
        // A verdict on one recipient, written down at once.
        auto settle = [&](WaitingRecipient& w, const DeliveryFailure* failure) {
            if (failure == nullptr) {
                ++outcome.delivered;
                anyAnswered = true;
                fs::remove(m_folder / w.stateFile, ec);
                return;
            }
            DeliveryFailure report = *failure;
            if (report.unreachable) anyUnreachable = true;
            else if (report.szReason != Tr(kReasonNoMailServer)) anyAnswered = true;
            if (report.szReason == Tr(kReasonCancelled)) return;  // not a try: it waits as it was
            // A recipient that already waits is not given up because DNS failed once: a machine offline
            // has no name server either.
            if (report.szReason == Tr(kReasonNoMailServer)) report.kind = FailureKind::Temporary;
            w.tries += 1;
            w.lastReason = report.szReason;
            w.nextTry = report.kind == FailureKind::Temporary ? NextTry(w.tries, w.firstTry, now) : 0;
            if (w.nextTry == 0) {
                // Refused for good, or its two days are up: reported as not delivered, with the last reason.
                report.kind = FailureKind::Final;
                fs::remove(m_folder / w.stateFile, ec);
            } else if (std::string why = WriteState(w); !why.empty()) {
                report.szReason += Format(Tr("（%s）"), why.c_str());
            }
            outcome.failures.push_back(std::move(report));
        };

        std::string message;
        std::optional<RelaySettings> relay;
        std::string why;
        const bool haveMail = ReadFile(m_folder / (first.mailId + ".eml"), message);
        if (haveMail && !first.route.relayHost.empty()) relay = RelayOf(first.route, first.sender, m_keyring, &why);
        if (!haveMail || (!first.route.relayHost.empty() && !relay)) {
            // Nothing to send, or no way to log in at the relay: counts as a try that could not be made.
            for (WaitingRecipient& w : waiting) {
                DeliveryFailure f{w.address, haveMail ? (why.empty() ? Tr(kNoRelayPassword) : why) : Tr("发件箱中的邮件已丢失"),
                                  haveMail ? FailureKind::Temporary : FailureKind::Final};
                settle(w, &f);
            }
            RemoveMailIfUnused(first.mailId);
            continue;
        }

        DeliveryRequest request;
        request.message = std::make_shared<const std::string>(std::move(message));
        request.envelopeSender = first.sender;
        request.relay = std::move(relay);
        for (const WaitingRecipient& w : waiting) request.recipients.push_back(w.address);
        std::size_t next = 0;  // verdicts come in the order of the recipients
        VerdictObserver verdicts(observer, [&](const std::string& address, const DeliveryFailure* failure) {
            while (next < waiting.size() && waiting[next].address != address) ++next;
            if (next < waiting.size()) settle(waiting[next++], failure);
        });
        DeliveryJob job(std::move(request), verdicts, cancel, route);
        job.RunDelivery();
        RemoveMailIfUnused(first.mailId);
    }
    outcome.portBlocked = anyUnreachable && !anyAnswered;
    return outcome;
}

}  // namespace vox
