// voxletter-cli send: the composer's Send without a window. The draft is filled, checked and assembled as
// for "compose", then delivered to every recipient (or handed to the user's relay); progress goes to
// standard error and the final report, exactly as the report box would show it, to standard output.

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "account/account_route.h"
#include "account/dmarc.h"
#include "account/keyring.h"
#include "cli/cli_commands.h"
#include "cli/cli_draft.h"
#include "cli/interrupt_watch.h"
#include "delivery/delivery_job.h"
#include "delivery/relay_settings.h"

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
// relay.conf, and (relay left empty) direct delivery. False after a refusal was printed.
bool ChooseRelay(const SendRequest& req, const std::string& sender, std::optional<RelaySettings>& relay) {
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
            relay = std::move(settings);
            return true;
        }
        relay = LoadRelayConfig(RelayConfigPath(), &why);
        if (!why.empty()) Complain("send", "relay settings not usable: " + why);
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
    } else if (const char* password = std::getenv(kRelayPasswordVariable)) {
        settings.password = password;
    } else {
        Complain("send", std::string("no relay password: give --relay-password-file FILE or set $") +
                             kRelayPasswordVariable);
        return false;
    }
    relay = std::move(settings);
    return true;
}

int RunSend(SendRequest& req) {
    MailDraft& draft = req.draft.draft;
    if (!CheckDraft(draft, "send")) return kExitRefused;
    std::optional<RelaySettings> relay;
    // The account belongs to the address as the user wrote it (as "account set" took it).
    if (!ChooseRelay(req, draft.m_fromAddress.address, relay)) return kExitRefused;
    AssembleDraft(draft, "send");
    if (relay)
        std::fprintf(stderr, "voxletter-cli send: through the relay %s:%d\n", relay->host.c_str(), relay->port);
    else
        WarnOfDmarc(draft.m_fromAddress.envelope);

    StderrProgress progress;
    FailureList failures;
    {
        // Ctrl+C plays the Cancel button; the next one ends the process, for a lookup or connect that the
        // cancel request cannot reach.
        InterruptWatch interrupt({SIGINT}, "voxletter-cli send: cancelling (Ctrl+C again to stop at once)\n");
        DeliveryRequest request;
        request.recipients = std::move(draft.m_recipients);
        request.envelopeSender = draft.m_fromAddress.envelope;
        request.message = std::make_shared<const std::string>(std::move(draft.m_strMime));
        request.relay = std::move(relay);
        DeliveryJob job(std::move(request), progress, interrupt.Flag());
        job.RunDelivery();
        failures = job.Failures();
    }
    DeliveryReport report = BuildReport(failures);
    // The box shows "发送完毕" as it stands; a terminal wants the report's last line ended, in the
    // report's own CR LF.
    if (report.text.empty() || report.text.back() != '\n') report.text += "\r\n";
    std::fwrite(report.text.data(), 1, report.text.size(), stdout);
    std::fflush(stdout);
    return report.allDelivered ? 0 : 1;
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
        "Exit status: 0 every recipient delivered; 1 some recipient was not; 2 an option or the field check\n"
        "refused the input (the reason is on standard error).");
}

}  // namespace vox::cli
