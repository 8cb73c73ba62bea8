// voxletter-cli send: the composer's Send without a window. The draft is filled, checked and assembled as
// for "compose", then delivered to every recipient; progress goes to standard error and the final report,
// exactly as the report box would show it, to standard output.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "cli/cli_commands.h"
#include "cli/cli_draft.h"
#include "delivery/delivery_job.h"

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

private:
    std::string m_recipient;
};

}  // namespace

int RunSend(const Args& args) {
    int exitCode = 0;
    std::optional<MailDraft> draft = PrepareDraft(args, nullptr, exitCode, "send");
    if (!draft) return exitCode;

    StderrProgress progress;
    FailureList failures;
    {
        InterruptCancels interrupt;
        DeliveryJob job(draft->m_strMime, draft->m_recipients, progress, g_bCancel);
        job.RunDelivery();
        failures = job.Failures();
    }
    const DeliveryReport report = BuildReport(failures);
    std::fwrite(report.text.data(), 1, report.text.size(), stdout);
    std::fflush(stdout);
    return report.allDelivered ? 0 : 1;
}

}  // namespace vox::cli
