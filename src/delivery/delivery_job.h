#pragma once
// Delivering one finished mail to every recipient, without a window: the delivery window and the
// command-line tool both drive this and show its progress through an observer.

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

namespace vox {

// One recipient that was not delivered. Address and reason are kept whole.
struct DeliveryFailure {
    std::string szAddress;
    std::string szReason;  // a fixed text, or the server's reply that refused the recipient
};

using FailureList = std::vector<DeliveryFailure>;

// Progress as the delivery window shows it. Called on the delivery worker's thread; each call returns when
// the change is shown (the window marshals it), so the order of calls is the order on screen.
class DeliveryObserver {
public:
    virtual ~DeliveryObserver() = default;
    virtual void SetRecipientText(const std::string& address) = 0;  // control 1001
    virtual void StepRecipientBar() = 0;                              // bar 1033, range 0..recipients
    virtual void SetStepBar(int position) = 0;                        // bar 1034, range 0..StepRange()
    virtual void StepStepBar() = 0;
    virtual void SetStepLine(const std::string& text) = 0;           // control 1035
};

class DeliveryJob {
public:
    // Neither the message nor the list is copied: both must outlive the job.
    DeliveryJob(std::string_view message, const std::vector<std::string>& recipients, DeliveryObserver& observer,
                const std::atomic<bool>& cancel);

    // The step bar's range: message length / 2048 + 8.
    int StepRange() const;

    // Walks the recipients in order until the end or a cancel request; blocks for the whole delivery.
    void RunDelivery();

    // Every recipient that failed, in order, then (after a cancel) every recipient never begun, with
    // the reason "发送已取消".
    const FailureList& Failures() const { return m_failures; }

private:
    std::string_view m_message;
    const std::vector<std::string>& m_recipients;
    DeliveryObserver& m_observer;
    const std::atomic<bool>& m_cancel;
    FailureList m_failures;
};

// The final report as the user reads it.
struct DeliveryReport {
    bool allDelivered = false;  // true: "发送完毕" with the information icon
    std::string text;           // "发送完毕", or "以下邮件地址不能正确投递\r\n\r\n" and one block per failure
};

DeliveryReport BuildReport(const FailureList& failures);

}  // namespace vox
