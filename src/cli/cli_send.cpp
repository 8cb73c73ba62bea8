// voxletter-cli send: the composer's Send without a window. The draft is filled, checked and assembled as
// for "compose", then delivered to every recipient (or handed to the user's relay); progress goes to
// standard error and the final report, exactly as the report box would show it, to standard output.

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cli/cli_commands.h"
#include "cli/cli_draft.h"
#include "cli/interrupt_watch.h"
#include "delivery/delivery_job.h"
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

// The relay to use, from the options or the settings file. False after a refusal was printed.
bool ChooseRelay(const SendRequest& req, std::optional<RelaySettings>& relay) {
    std::string why;
    if (req.relay.empty()) {
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
    std::optional<RelaySettings> relay;
    if (!ChooseRelay(req, relay)) return kExitRefused;
    MailDraft& draft = req.draft.draft;
    if (!CheckDraft(draft, "send")) return kExitRefused;
    if (!AssembleDraft(draft, "send")) {
        Complain("send", "the mail is incomplete; nothing was sent");
        return kExitFailed;
    }
    if (relay) std::fprintf(stderr, "voxletter-cli send: through the relay %s:%d\n", relay->host.c_str(), relay->port);

    StderrProgress progress;
    FailureList failures;
    std::shared_ptr<const std::string> mail;
    std::size_t recipients = 0;
    {
        // Ctrl+C plays the Cancel button; the next one ends the process, for a lookup or connect that the
        // cancel request cannot reach.
        InterruptWatch interrupt({SIGINT}, "voxletter-cli send: cancelling (Ctrl+C again to stop at once)\n");
        DeliveryRequest request;
        request.recipients = std::move(draft.m_recipients);
        request.envelopeSender = draft.m_strFrom;
        request.message = std::make_shared<const std::string>(std::move(draft.m_strMime));
        request.relay = std::move(relay);
        mail = request.message;
        recipients = request.recipients.size();
        DeliveryJob job(std::move(request), progress, interrupt.Flag());
        job.RunDelivery();
        failures = job.Failures();
    }
    const DeliveryReport report = BuildReport(failures);
    // Every mail that reached someone is kept as it went out.
    if (!req.noSentCopy && failures.size() < recipients) {
        const SentCopy copy = KeepSentCopy(DefaultSentFolder(), *mail);
        if (copy.error.empty())
            std::fprintf(stderr, "voxletter-cli send: sent copy: %s\n", copy.path.c_str());
        else
            Complain("send", SentCopyLine(copy));
    }
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
        "Without --relay, $XDG_CONFIG_HOME/voxletter/relay.conf is used when it exists.\n"
        "Ctrl+C cancels like the Cancel button; a second Ctrl+C stops at once.\n"
        "A mail delivered to at least one recipient is kept, byte for byte, in the Maildir\n"
        "$XDG_DATA_HOME/voxletter/Sent (~/.local/share/voxletter/Sent) unless --no-sent-copy; the copy's path\n"
        "is printed on standard error.\n"
        "Exit status: 0 every recipient delivered; 1 some recipient was not, or the mail could not be built\n"
        "whole; 2 an option or the field check\n"
        "refused the input (the reason is on standard error).");
}

}  // namespace vox::cli
