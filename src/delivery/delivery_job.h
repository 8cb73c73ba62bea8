#pragma once
// Delivering one finished mail to every recipient, without a window: the delivery window and the
// command-line tool both drive this and show its progress through an observer.

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "delivery/delivery_failure.h"
#include "delivery/smtp_conversation.h"

namespace vox {

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

// What a delivery talks to. Every member left empty takes the real thing: the system's DNS through
// CMxResolver, CSmtpSession on port 25 with 10-second waits, and the local host name.
struct DeliveryRoute {
    // Finds the recipient's exchangers and tries each through attempt.
    std::function<DeliveryResult(const std::string& address, const ExchangerAttempt& attempt)> deliverToRecipient;
    // A fresh, unconnected conversation for one attempt.
    std::function<std::unique_ptr<SmtpConversation>()> openSession;
    // The name announced by HELO, also the envelope sender's "%s@%s.com".
    std::string helloName;
};

class DeliveryJob {
public:
    static constexpr int kChunk = 2048;

    // Neither the message nor the list is copied: both must outlive the job.
    DeliveryJob(std::string_view message, const std::vector<std::string>& recipients, DeliveryObserver& observer,
                const std::atomic<bool>& cancel);
    DeliveryJob(std::string_view message, const std::vector<std::string>& recipients, DeliveryObserver& observer,
                const std::atomic<bool>& cancel, DeliveryRoute route);

    // The step bar's range: message length / 2048 + 8.
    int StepRange() const;

    // Walks the recipients in order until the end or a cancel request; blocks for the whole delivery.
    void RunDelivery();

    // One attempt at one exchanger: empty when it accepted the message.
    DeliveryResult DeliverViaExchanger(const std::string& exchangerHost, const std::string& address);

    // Every recipient that failed, in order, then (after a cancel) every recipient never begun, with
    // the reason "发送已取消".
    const FailureList& Failures() const { return m_failures; }

private:
    std::string_view m_message;
    const std::vector<std::string>& m_recipients;
    DeliveryObserver& m_observer;
    const std::atomic<bool>& m_cancel;
    DeliveryRoute m_route;
    int m_nSteps;
    FailureList m_failures;
};

// The final report as the user reads it.
struct DeliveryReport {
    bool allDelivered = false;  // true: "发送完毕" with the information icon
    std::string text;           // "发送完毕", or "以下邮件地址不能正确投递\r\n\r\n" and one block per failure
};

DeliveryReport BuildReport(const FailureList& failures);

// The local host name, as HELO announces it; "localhost" when the system has none.
std::string LocalHostName();

}  // namespace vox
