// voxletter-cli send: the composer's Send without a window. The draft is filled, checked and assembled as
// for "compose", then delivered to every recipient; progress goes to standard error and the final report,
// exactly as the report box would show it, to standard output.

#include <signal.h>

#include <cstdio>
#include <memory>

#include "cli/cli_commands.h"
#include "cli/cli_draft.h"
#include "cli/interrupt_watch.h"
#include "delivery/delivery_job.h"

namespace vox::cli {
namespace {

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

private:
    std::string m_recipient;
};

int RunSend(DraftRequest& req) {
    MailDraft& draft = req.draft;
    if (!CheckDraft(draft, "send")) return kExitRefused;
    AssembleDraft(draft, "send");

    StderrProgress progress;
    FailureList failures;
    {
        // Ctrl+C plays the Cancel button; the next one ends the process, for a lookup or connect that the
        // cancel request cannot reach.
        InterruptWatch interrupt({SIGINT}, "voxletter-cli send: cancelling (Ctrl+C again to stop at once)\n");
        DeliveryJob job(draft.m_strMime, draft.m_recipients, progress, interrupt.Flag());
        job.RunDelivery();
        failures = job.Failures();
    }
    const DeliveryReport report = BuildReport(failures);
    std::fwrite(report.text.data(), 1, report.text.size(), stdout);
    std::fflush(stdout);
    return report.allDelivered ? 0 : 1;
}

}  // namespace

void AddSendCommand(CommandLine& cli) {
    auto req = std::make_shared<DraftRequest>();
    CLI::App& command =
        cli.AddCommand("send", "Build the mail and deliver it to every recipient's mail exchangers.",
                       [req] { return RunSend(*req); });
    AddDraftOptions(command, *req, false);
    command.footer(
        std::string(kDraftRulesNote) +
        "Progress goes to standard error, one line per status change; then the report to standard output.\n"
        "Ctrl+C cancels like the Cancel button; a second Ctrl+C stops at once.\n"
        "Exit status: 0 every recipient delivered; 1 some recipient was not; 2 an option or the field check\n"
        "refused the input (the reason is on standard error).");
}

}  // namespace vox::cli
