// voxletter-cli send: the composer's Send without a window. The draft is filled, checked and assembled as
// for "compose", then delivered to every recipient (or handed to the user's relay); progress goes to
// standard error and the final report, exactly as the report box would show it, to standard output.

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>

#include "account/account_route.h"
#include "account/dmarc.h"
#include "account/keyring.h"
#include "cli/cli_commands.h"
#include "cli/cli_draft.h"
#include "cli/interrupt_watch.h"
#include "compose/mail_size.h"
#include "delivery/delivery_job.h"
#include "delivery/outbox.h"
#include "delivery/relay_settings.h"
#include "draft/sent_folder.h"

namespace vox::cli {
namespace {

const char kRelayGroup[] = "RELAY (instead of each recipient's exchangers on port 25)";

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
        std::fprintf(stderr, "%s: %s：%s\n", address.c_str(),
                     encrypted ? "已投递（加密传输）" : "已投递（未加密）", said.c_str());
    }

private:
    std::string m_recipient;
};

struct SendRequest {
    DraftRequest draft;
    std::string relay;  // --relay HOST[:PORT]; empty: relay.conf when it exists, else direct delivery
    std::string relayUser;
    std::string relayPasswordFile;
    bool noSentCopy = false;  // --no-sent-copy
};

// The password of an account whose keyring holds none: one line of standard input when that is not a
// terminal (a script pipes it, as for "account set"); a terminal gets a refusal that says what to do,
// since a prompt there would wait for a person the script may not have.
bool AskAccountPassword(const AccountRoute& route, RelaySettings& settings) {
    const std::string server = route.account.server.Name();
    if (isatty(STDIN_FILENO) == 0) {
        std::string line;
        if (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) {
                settings.password = std::move(line);
                return true;
            }
        }
    }
    Complain("send", "no password for the account " + route.account.address + " on " + server + " (" + route.note +
                         "): store it with \"voxletter-cli account set\" or give it as one line on standard input");
    return false;
}

// The DMARC policy of the sender's domain, said before a direct send: receivers that follow it refuse or
// file as spam what this machine sends under that domain. The send goes on as asked.
void WarnOfDmarc(const std::string& sender) {
    const std::string domain = AddressDomain(sender);
    if (domain.empty()) return;
    const std::optional<DmarcPolicy> policy = LookupDmarc(domain);
    if (!policy || (*policy != DmarcPolicy::Reject && *policy != DmarcPolicy::Quarantine)) return;
    std::fprintf(stderr,
                 "voxletter-cli send: warning: %s publishes the DMARC policy \"%s\": most receivers will %s mail "
                 "sent from this machine under %s; set up a sending account (voxletter-cli account set) to send "
                 "through your provider\n",
                 domain.c_str(), DmarcPolicyName(*policy),
                 *policy == DmarcPolicy::Reject ? "refuse" : "file as spam", sender.c_str());
}

// The route of this send, first that applies: --relay, the sending account of the From address,
// relay.conf, and (relay left empty) direct delivery; with it, where a later try of a recipient that waits
// in the outbox finds the password again. False after a refusal was printed.
bool ChooseRelay(const SendRequest& req, const std::string& sender, std::optional<RelaySettings>& relay,
                 std::string& passwordSource) {
    std::string why;
    if (req.relay.empty()) {
        SecretServiceKeyring keyring;
        std::optional<AccountRoute> account = AccountRouteFor(sender, keyring, &why);
        if (!why.empty()) {
            Complain("send", "sending accounts not usable: " + why);
            return false;
        }
        if (account) {
            RelaySettings settings = account->relay;
            settings.tlsMode = account->tls;
            if (!account->havePassword && !AskAccountPassword(*account, settings)) return false;
            std::fprintf(stderr, "voxletter-cli send: through the account of %s\n", account->account.address.c_str());
            // Never the password itself: a retry asks the keyring again for this account's item.
            passwordSource = std::string(kPasswordFromKeyring) + account->account.address;
            relay = std::move(settings);
            return true;
        }
        relay = LoadRelayConfig(RelayConfigPath(), &why);
        if (!why.empty()) Complain("send", "relay settings not usable: " + why);
        passwordSource = "config";
        return why.empty();
    }
    RelaySettings settings;
    if (!ParseRelayAddress(req.relay, settings, &why)) {
        Complain("send", why);
        return false;
    }
    settings.user = req.relayUser;
    if (!req.relayPasswordFile.empty()) {
        if (!ReadPasswordFile(req.relayPasswordFile, settings.password, &why)) {
            Complain("send", why);
            return false;
        }
        std::error_code ec;
        passwordSource = "file:" + std::filesystem::absolute(req.relayPasswordFile, ec).string();
    } else if (const char* password = std::getenv(kRelayPasswordVariable)) {
        settings.password = password;
        passwordSource = "environment";
    } else {
        Complain("send", std::string("no relay password: give --relay-password-file FILE or set $") +
                             kRelayPasswordVariable);
        return false;
    }
    relay = std::move(settings);
    return true;
}

// The report as the report box shows it, and after the sentence about port 25 how to follow its advice
// here: a sending account for the sender (named when known), or a relay. 0 when every recipient was
// delivered, else 1.
int PrintReport(const FailureList& failures, bool portBlocked, const std::string& sender = "") {
    DeliveryReport report = BuildReport(failures, portBlocked);
    // The box shows "发送完毕" as it stands; a terminal wants the report's last line ended, in the
    // report's own CR LF.
    if (report.text.empty() || report.text.back() != '\n') report.text += "\r\n";
    std::fwrite(report.text.data(), 1, report.text.size(), stdout);
    if (report.portBlocked) {
        const char* address = sender.empty() ? "ADDRESS" : sender.c_str();
        std::printf(
            "\nTo send through your mail provider's server instead, set up the sending account of your address:\n"
            "  voxletter-cli account discover %s\n"
            "finds the provider's server; then\n"
            "  voxletter-cli account set %s --host HOST --port PORT [--user NAME]\n"
            "reads the password from standard input into the keyring, and every later send from that address,\n"
            "here and in the composer, goes through that server.\n"
            "Or name a server with --relay:\n"
            "  voxletter-cli send --relay smtp.example.com:587 --relay-user NAME --relay-password-file FILE ...\n"
            "or put it in %s (lines \"host = HOST:PORT\", \"user = NAME\", \"password-file = FILE\";\n"
            "chmod 600), which every later send and the composer then use.\n",
            address, address, RelayConfigPath().c_str());
    }
    std::fflush(stdout);
    return report.allDelivered ? 0 : 1;
}

int RunSend(SendRequest& req) {
    MailDraft& draft = req.draft.draft;
    if (!CheckDraft(draft, "send")) return kExitRefused;
    std::optional<RelaySettings> relay;
    std::string passwordSource;
    // The account belongs to the address as the user wrote it (as "account set" took it).
    if (!ChooseRelay(req, draft.m_fromAddress.address, relay, passwordSource)) return kExitRefused;
    if (!AssembleDraft(draft, "send")) {
        Complain("send", "the mail is incomplete; nothing was sent");
        return kExitFailed;
    }
    // Said, not asked: a script gets the mail it asked for.
    if (const MailSizeCheck size = CheckMailSize(draft); size.tooBig) Complain("send", MailSizeWarningLine(size));
    if (relay)
        std::fprintf(stderr, "voxletter-cli send: through the relay %s:%d\n", relay->host.c_str(), relay->port);
    else
        WarnOfDmarc(draft.m_fromAddress.envelope);

    StderrProgress progress;
    FailureList failures;
    bool portBlocked = false;
    std::shared_ptr<const std::string> mail;
    std::size_t recipients = 0;
    {
        // Ctrl+C plays the Cancel button; the next one ends the process, for a lookup or connect that the
        // cancel request cannot reach.
        InterruptWatch interrupt({SIGINT}, "voxletter-cli send: cancelling (Ctrl+C again to stop at once)\n");
        DeliveryRequest request;
        request.recipients = std::move(draft.m_recipients);
        request.envelopeSender = draft.m_fromAddress.envelope;
        request.message = std::make_shared<const std::string>(std::move(draft.m_strMime));
        OutboxRoute route;
        if (relay) route = {relay->host, relay->port, relay->user, passwordSource, relay->tlsMode};
        request.relay = std::move(relay);
        const std::string sender = request.envelopeSender;
        mail = request.message;
        recipients = request.recipients.size();
        DeliveryJob job(std::move(request), progress, interrupt.Flag());
        job.RunDelivery();
        failures = job.Failures();
        portBlocked = job.PortBlocked();
        Outbox outbox;
        if (const std::string why = outbox.Keep(*mail, sender, route, failures, std::time(nullptr)); !why.empty()) {
            // Nowhere to wait: those recipients are simply not delivered.
            Complain("send", "cannot keep the waiting recipients in " + outbox.Folder().string() + ": " + why);
            for (DeliveryFailure& f : failures) f.kind = FailureKind::Final;
        }
    }
    // Every mail that reached someone is kept as it went out.
    if (!req.noSentCopy && failures.size() < recipients) {
        const SentCopy copy = KeepSentCopy(DefaultSentFolder(), *mail);
        if (copy.error.empty())
            std::fprintf(stderr, "voxletter-cli send: sent copy: %s\n", copy.path.c_str());
        else
            Complain("send", SentCopyLine(copy));
    }
    return PrintReport(failures, portBlocked, req.draft.draft.m_fromAddress.address);
}

struct OutboxRequest {
    std::string action;
    std::string address;
};

std::string LocalTime(std::int64_t when) {
    const std::time_t t = static_cast<std::time_t>(when);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm);
    return text;
}

int RunOutbox(const OutboxRequest& req) {
    if (req.action != "drop" && !req.address.empty()) {
        Complain("outbox", req.action + " takes no ADDRESS (only drop does)");
        return kExitRefused;
    }
    Outbox outbox;
    outbox.SetKeyringReader(OutboxKeyringReader(std::make_shared<SecretServiceKeyring>()));
    if (req.action == "list") {
        for (const WaitingRecipient& w : outbox.List()) {
            std::string reason = w.lastReason;
            for (char& c : reason)
                if (c == '\r' || c == '\n') c = ' ';
            while (!reason.empty() && reason.back() == ' ') reason.pop_back();
            std::printf("%s\ttries %d\tnext %s\t%s\n", w.address.c_str(), w.tries, LocalTime(w.nextTry).c_str(),
                        reason.c_str());
        }
        return 0;
    }
    if (req.action == "drop") {
        if (req.address.empty()) {
            Complain("outbox", "drop needs the ADDRESS to remove");
            return kExitRefused;
        }
        if (outbox.Drop(req.address) == 0) {
            Complain("outbox", req.address + " does not wait in the outbox");
            return 1;
        }
        return 0;
    }
    StderrProgress progress;
    InterruptWatch interrupt({SIGINT}, "voxletter-cli outbox: cancelling (Ctrl+C again to stop at once)\n");
    const RetryOutcome outcome = outbox.Retry(std::time(nullptr), false, progress, interrupt.Flag());
    if (outcome.busy) {
        Complain("outbox", "another program is retrying the outbox just now");
        return 1;
    }
    if (outcome.tried == 0) return 0;
    const int status = PrintReport(outcome.failures, outcome.portBlocked);
    return outcome.delivered == outcome.tried ? status : 1;
}

}  // namespace

void AddSendCommand(CommandLine& cli) {
    auto req = std::make_shared<SendRequest>();
    CLI::App& command =
        cli.AddCommand("send", "Build the mail and deliver it to every recipient's mail exchangers.",
                       [req] { return RunSend(*req); });
    AddDraftOptions(command, req->draft, false);
    CLI::Option* relay =
        command
            .add_option("--relay", req->relay,
                        "your provider's server: 587 (default) STARTTLS, 465 TLS")
            ->type_name("HOST[:PORT]")
            ->group(kRelayGroup);
    command.add_option("--relay-user", req->relayUser, "login name at the relay (AUTH PLAIN or LOGIN)")
        ->type_name("NAME")
        ->group(kRelayGroup)
        ->needs(relay);
    relay->needs(command.get_option("--relay-user"));
    command
        .add_option("--relay-password-file", req->relayPasswordFile,
                    "first line: the password; chmod 600. Else $VOXLETTER_RELAY_PASSWORD")
        ->type_name("FILE")
        ->group(kRelayGroup)
        ->needs(relay);
    command.add_flag("--no-sent-copy", req->noSentCopy,
                     "keep no copy in $XDG_DATA_HOME/voxletter/Sent (a Maildir)");
    // Anything on a command line can be read by every user of the machine.
    command
        .add_option_function<std::string>(
            "--relay-password",
            [](const std::string&) {
                throw Refusal(std::string("a password on the command line is visible to every user; use "
                                          "--relay-password-file or $") +
                              kRelayPasswordVariable);
            },
            "refused: use --relay-password-file or $VOXLETTER_RELAY_PASSWORD")
        ->group("");
    command.footer(
        std::string(kDraftRulesNote) +
        "Progress goes to standard error, one line per status change; then the report to standard output.\n"
        "Routes, first that applies: --relay; the sending account of the --from address (voxletter-cli\n"
        "account; a password the keyring lacks is read as one line from standard input when that is not a\n"
        "terminal); $XDG_CONFIG_HOME/voxletter/relay.conf; else each recipient's exchangers, after a warning\n"
        "on standard error when the sender's domain publishes a DMARC policy of reject or quarantine.\n"
        "Ctrl+C cancels like the Cancel button; a second Ctrl+C stops at once.\n"
        "A mail delivered to at least one recipient is kept, byte for byte, in the Maildir\n"
        "$XDG_DATA_HOME/voxletter/Sent (~/.local/share/voxletter/Sent) unless --no-sent-copy; the copy's path\n"
        "is printed on standard error.\n"
        "Exit status: 0 every recipient delivered; 1 some recipient was not, or the mail could not be built\n"
        "whole; 2 an option or the field check\n"
        "refused the input (the reason is on standard error).");
}

void AddOutboxCommand(CommandLine& cli) {
    auto req = std::make_shared<OutboxRequest>();
    CLI::App& command = cli.AddCommand(
        "outbox", "The recipients that wait for another try: list them, retry them now, or drop one.",
        [req] { return RunOutbox(*req); });
    command.add_option("action", req->action, "list, retry or drop")
        ->required()
        ->check(CLI::IsMember({"list", "retry", "drop"}));
    command.add_option("address", req->address, "drop: the recipient to remove")->type_name("ADDRESS");
    command.footer(
        "A recipient waits when its server answered 4xx or no exchanger could be reached; it is tried after\n"
        "1, 5, 15 and 30 minutes, then hourly, for two days, whenever the composer runs or \"retry\" is given.\n"
        "The outbox is $XDG_STATE_HOME/voxletter/outbox (~/.local/state/voxletter/outbox).\n"
        "list: one line per waiting recipient (address, tries, next try, last reason); nothing when none waits.\n"
        "retry: tries every waiting recipient now and prints the report as send does; exit status 0 when every\n"
        "one was delivered, 1 otherwise.");
}

}  // namespace vox::cli
