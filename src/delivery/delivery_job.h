#pragma once
// Delivering one finished mail to every recipient, without a window: the delivery window and the
// command-line tool both drive this and show its progress through an observer.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "delivery/delivery_failure.h"
#include "delivery/delivery_request.h"
#include "delivery/smtp_conversation.h"

namespace vox {

// Progress as the delivery window shows it. Called on the delivery worker's thread; each call returns when
// the change is shown (the window marshals it), so the order of calls is the order on screen.
class DeliveryObserver {
public:
    virtual ~DeliveryObserver() = default;
    virtual void SetRecipientText(const std::string& address) = 0;  // control 1001
    virtual void StepRecipientBar() = 0;                            // bar 1033, range 0..recipients
    virtual void SetStepBar(int position) = 0;                      // bar 1034, range 0..DeliveryStepRange
    virtual void StepStepBar() = 0;
    virtual void SetStepLine(const std::string& text) = 0;  // control 1035
    // A server took the mail for address: whether it travelled encrypted, and the server's reply.
    virtual void Delivered(const std::string& /*address*/, bool /*encrypted*/, const std::string& /*reply*/) {
    }
    // The verdict on one recipient, as soon as it is known: failure is null when it was delivered. (The
    // outbox writes down each verdict at once, so a killed program never delivers anyone twice.)
    virtual void Finished(const std::string& /*address*/, const DeliveryFailure* /*failure*/) {}
};

// What a delivery talks to. Every member left empty takes the real thing: the system's DNS through
// CMxResolver, CSmtpSession with 10-second waits, and this machine's own name.
struct DeliveryRoute {
    // Finds the recipient's exchangers and tries each through attempt.
    std::function<DeliveryResult(const std::string& address, const ExchangerAttempt& attempt)>
        deliverToRecipient;
    // A fresh, unconnected conversation for one attempt.
    std::function<std::unique_ptr<SmtpConversation>(const SessionOptions& options)> openSession;
    // The name EHLO or HELO announces; empty: the address literal of each connection's own end. Unset:
    // this machine's fully qualified name, found once per job, or that literal when it has none.
    std::optional<std::string> helloName;
    // The limits every session of the job gets (cancel, port and TLS are the job's own).
    SessionOptions limits;
    // Once connects to the exchangers of two domains have timed out, later connects wait at most this.
    int blockedConnectTimeoutMs = 3000;
};

class DeliveryJob {
public:
    static constexpr int kChunk = 2048;            // one step of the bar
    static constexpr int kWriteBlock = 64 * 1024;  // what one write hands the kernel at most

    DeliveryJob(DeliveryRequest request, DeliveryObserver& observer, const std::atomic<bool>& cancel,
                DeliveryRoute route = {});

    // Walks the recipients in order (or hands them all to the relay) until the end or a cancel request;
    // blocks for the whole delivery.
    void RunDelivery();

    // One attempt at one exchanger: empty when it accepted the message. A broken TLS handshake is tried
    // once more in plain text on a new connection.
    DeliveryResult DeliverViaExchanger(const std::string& exchangerHost, const std::string& address);

    // Every recipient that failed or must wait (FailureKind), in order, then (after a cancel) every
    // recipient never begun, with the reason "发送已取消".
    const FailureList& Failures() const { return m_failures; }
    // Not one exchanger of any recipient could be connected to, although DNS named them: the network
    // most likely blocks port 25.
    bool PortBlocked() const;

private:
    struct Outcome {
        DeliveryResult failure;
        bool tlsFailed = false;
    };
    Outcome Attempt(const std::string& host, const std::string& address, TlsMode tls);
    void RunRelay();
    const std::string& HelloName();
    // Sends the message in large writes while the bar and the line move per 2048 bytes; false when a
    // write failed or cancel cut it (then *cut is set).
    bool Transfer(SmtpConversation& session, bool* cut);
    // False, with the failure filled in, when the server's SIZE limit is below the message.
    bool FitsSizeLimit(const SmtpConversation& session, std::string* reason) const;
    // The opening every transaction shares: greeting, the size check and the sender. False when a step
    // failed; *sizeRefusal is filled only when the size limit refused the message.
    bool OpenTransaction(SmtpConversation& session, std::string* sizeRefusal);
    // The message itself, closing what OpenTransaction and the recipients began: DATA, the text, and the
    // end-of-data line. False when a step failed or cancel cut the text (then *cut is set).
    bool SendMessageData(SmtpConversation& session, bool* cut);
    // The last step of every conversation: QUIT, unless the user cancelled.
    void CloseConversation(SmtpConversation& session);
    // One step of the conversation: its status line, and the step bar moved on.
    void Step(const char* line);
    // One recipient's verdict: to the list and to the observer.
    void Record(DeliveryFailure failure);
    void Record(const std::string& delivered);

    DeliveryRequest m_request;
    DeliveryObserver& m_observer;
    const std::atomic<bool>& m_cancel;
    DeliveryRoute m_route;
    int m_nSteps;
    FailureList m_failures;
    std::size_t m_delivered = 0;
    std::set<std::string> m_timedOutDomains;  // domains whose exchanger let a connect time out
};

// The headings of the report's sections, each followed by an empty line.
inline constexpr const char kReportFailedHeading[] = N_("以下邮件地址不能正确投递");
inline constexpr const char kReportWaitingHeading[] = N_("以下邮件地址暂时未能投递，将自动重试：");
inline constexpr const char kReportPortBlocked[] =
    N_("无法连接任何邮件服务器的25端口，你的网络可能封锁了该端口。可以改为通过你的邮箱服务商的发信服务器发送。");

// The final report as the user reads it.
struct DeliveryReport {
    bool allDelivered = false;  // true: "发送完毕" with the information icon
    // "发送完毕"; or "以下邮件地址不能正确投递\r\n\r\n" and one block per final failure, then
    // "以下邮件地址暂时未能投递，将自动重试：\r\n\r\n" and one block per waiting recipient, then the
    // sentence about port 25 when it seems blocked.
    std::string text;
    bool someWait = false;
    bool portBlocked = false;
};

DeliveryReport BuildReport(const FailureList& failures, bool portBlocked = false);

// This machine's fully qualified domain name, or empty when it has none (a bare host name is not one).
std::string LocalFqdn();

}  // namespace vox
