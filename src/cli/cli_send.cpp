// voxletter-cli send: the composer's Send without a window. The draft is filled, checked and assembled as
// for "compose", then delivered to every recipient; progress goes to standard error and the final report,
// exactly as the report box would show it, to standard output.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/cli_commands.h"
#include "cli/cli_draft.h"
#include "delivery/delivery_job.h"
#include "delivery/relay_settings.h"

namespace vox::cli {
namespace {

// Ctrl+C plays the Cancel button. A signal handler can reach only process-wide state, hence this one.
std::atomic<bool> g_bCancel{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
    g_bCancel = true;
    static const char note[] = "voxletter-cli send: cancelling (Ctrl+C again to stop at once)\n";
    (void)!::write(STDERR_FILENO, note, sizeof note - 1);
}

// Installs the handler for one delivery; the next Ctrl+C (SA_RESETHAND) ends the process, for a lookup
// or connect that the cancel request cannot reach.
class InterruptCancels {
public:
    InterruptCancels() {
        g_bCancel = false;
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART | SA_RESETHAND;
        ::sigaction(SIGINT, &action, &m_previous);
    }
    ~InterruptCancels() { ::sigaction(SIGINT, &m_previous, nullptr); }
    InterruptCancels(const InterruptCancels&) = delete;
    InterruptCancels& operator=(const InterruptCancels&) = delete;

private:
    struct sigaction m_previous {};
};

// One line per status change: "recipient: status".
class StderrProgress : public DeliveryObserver {
public:
    void SetRecipientText(const std::string& address) override { m_recipient = address; }
    void StepRecipientBar() override {}
    void SetStepBar(int) override {}
    void StepStepBar() override {}
    void SetStepLine(const std::string& text) override {
        std::fprintf(stderr, "%s: %s\n", m_recipient.c_str(), text.c_str());
    }
    void Delivered(const std::string& address, bool encrypted, const std::string& reply) override {
        std::string said = reply;
        while (!said.empty() && (said.back() == '\n' || said.back() == '\r')) said.pop_back();
        std::fprintf(stderr, "%s: %s：%s\n", address.c_str(), encrypted ? "已投递（加密传输）" : "已投递（未加密）",
                     said.c_str());
    }

private:
    std::string m_recipient;
};

const char kRelayHelp[] =
    "RELAY (instead of delivering to each recipient's exchangers on port 25)\n"
    "  --relay HOST[:PORT]           the user's outgoing server: 587 (default) with STARTTLS, 465 with TLS\n"
    "  --relay-user NAME             login name (AUTH PLAIN or LOGIN)\n"
    "  --relay-password-file FILE    first line is the password; the file must be private (chmod 600)\n"
    "                                otherwise the password comes from $VOXLETTER_RELAY_PASSWORD\n"
    "  Without --relay, $XDG_CONFIG_HOME/voxletter/relay.conf is used when it exists.\n";

// Takes the relay options out of args (the rest are the FIELDS). Returns false after printing a refusal.
bool TakeRelayOptions(Args& args, std::optional<RelaySettings>& relay) {
    std::string address, user, passwordFile;
    bool haveAddress = false, haveUser = false, haveFile = false;
    Args rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const std::size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        std::string* target = name == "--relay" ? &address : name == "--relay-user" ? &user
                              : name == "--relay-password-file" ? &passwordFile : nullptr;
        if (target == nullptr) {
            if (name == "--relay-password") {
                std::fprintf(stderr, "voxletter-cli send: a password on the command line is visible to every user; "
                                     "use --relay-password-file or $%s\n", kRelayPasswordVariable);
                return false;
            }
            rest.push_back(arg);
            continue;
        }
        bool& seen = target == &address ? haveAddress : target == &user ? haveUser : haveFile;
        if (seen) {
            std::fprintf(stderr, "voxletter-cli send: %s given twice\n", name.c_str());
            return false;
        }
        seen = true;
        if (eq != std::string::npos) {
            *target = arg.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            *target = args[++i];
        } else {
            std::fprintf(stderr, "voxletter-cli send: %s needs a value\n", name.c_str());
            return false;
        }
    }
    args = std::move(rest);

    std::string why;
    if (!haveAddress) {
        if (haveUser || haveFile) {
            std::fprintf(stderr, "voxletter-cli send: --relay-user and --relay-password-file need --relay\n");
            return false;
        }
        relay = LoadRelayConfig(RelayConfigPath(), &why);
        if (!why.empty()) std::fprintf(stderr, "voxletter-cli send: relay settings not usable: %s\n", why.c_str());
        return why.empty();
    }
    RelaySettings settings;
    if (!ParseRelayAddress(address, settings, &why)) {
        std::fprintf(stderr, "voxletter-cli send: %s\n", why.c_str());
        return false;
    }
    if (user.empty()) {
        std::fprintf(stderr, "voxletter-cli send: --relay needs --relay-user\n");
        return false;
    }
    settings.user = user;
    if (haveFile) {
        if (!ReadPasswordFile(passwordFile, settings.password, &why)) {
            std::fprintf(stderr, "voxletter-cli send: %s\n", why.c_str());
            return false;
        }
    } else if (const char* password = std::getenv(kRelayPasswordVariable)) {
        settings.password = password;
    } else {
        std::fprintf(stderr, "voxletter-cli send: no relay password: give --relay-password-file FILE or set $%s\n",
                     kRelayPasswordVariable);
        return false;
    }
    relay = std::move(settings);
    return true;
}

}  // namespace

int RunSend(const Args& commandArgs) {
    Args args = commandArgs;
    std::optional<RelaySettings> relay;
    if (!TakeRelayOptions(args, relay)) return kExitRefused;
    int exitCode = 0;
    std::optional<MailDraft> draft = PrepareDraft(args, nullptr, exitCode, "send");
    if (!draft) {
        if (exitCode == 0) std::fputs(kRelayHelp, stdout);
        return exitCode;
    }
    if (relay) std::fprintf(stderr, "voxletter-cli send: through the relay %s:%d\n", relay->host.c_str(), relay->port);

    StderrProgress progress;
    FailureList failures;
    {
        InterruptCancels interrupt;
        DeliveryRequest request;
        request.recipients = std::move(draft->m_recipients);
        request.envelopeSender = draft->m_strFrom;
        request.message = std::make_shared<const std::string>(std::move(draft->m_strMime));
        request.relay = std::move(relay);
        DeliveryJob job(std::move(request), progress, g_bCancel);
        job.RunDelivery();
        failures = job.Failures();
    }
    const DeliveryReport report = BuildReport(failures);
    std::fwrite(report.text.data(), 1, report.text.size(), stdout);
    std::fflush(stdout);
    return report.allDelivered ? 0 : 1;
}

}  // namespace vox::cli
