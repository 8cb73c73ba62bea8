#include "delivery/delivery_job.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <optional>

#include "delivery/mx_resolver.h"
#include "delivery/smtp_session.h"

namespace vox {

namespace {

std::string TransferLine(std::size_t sent, std::size_t total) {
    char line[96];
    std::snprintf(line, sizeof line, "已经传输数据%zu字节，共%zu字节", sent, total);
    return line;
}

}  // namespace

std::string LocalHostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

DeliveryJob::DeliveryJob(std::string_view message, const std::vector<std::string>& recipients,
                         DeliveryObserver& observer, const std::atomic<bool>& cancel)
    : DeliveryJob(message, recipients, observer, cancel, DeliveryRoute{}) {}

DeliveryJob::DeliveryJob(std::string_view message, const std::vector<std::string>& recipients,
                         DeliveryObserver& observer, const std::atomic<bool>& cancel, DeliveryRoute route)
    : m_message(message),
      m_recipients(recipients),
      m_observer(observer),
      m_cancel(cancel),
      m_route(std::move(route)),
      m_nSteps(static_cast<int>(message.size() / kChunk + 8)) {
    if (!m_route.openSession) m_route.openSession = [] { return std::make_unique<CSmtpSession>(); };
    if (m_route.helloName.empty()) m_route.helloName = LocalHostName();
}

int DeliveryJob::StepRange() const { return m_nSteps; }

void DeliveryJob::RunDelivery() {
    // One resolver for the whole job; each query still starts from the system's current configuration.
    auto deliver = m_route.deliverToRecipient;
    std::optional<CMxResolver> resolver;
    if (!deliver) {
        resolver.emplace();
        deliver = [&resolver](const std::string& address, const ExchangerAttempt& attempt) {
            return resolver->DeliverToRecipient(address, attempt);
        };
    }
    const ExchangerAttempt attempt = [this](const std::string& host, const std::string& address) {
        return DeliverViaExchanger(host, address);
    };

    std::size_t i = 0;
    for (; i < m_recipients.size() && !m_cancel; ++i) {
        const std::string& address = m_recipients[i];
        m_observer.SetRecipientText(address);
        m_observer.StepRecipientBar();
        m_observer.SetStepBar(0);
        if (DeliveryResult failure = deliver(address, attempt))
            m_failures.push_back(std::move(*failure));
    }
    // The user must learn who never got the mail, not only who was refused.
    for (; i < m_recipients.size(); ++i) m_failures.push_back({m_recipients[i], kReasonCancelled});
}

DeliveryResult DeliveryJob::DeliverViaExchanger(const std::string& exchangerHost, const std::string& address) {
    std::unique_ptr<SmtpConversation> session = m_route.openSession();
    bool delivered = false;
    bool cutByCancel = false;

    m_observer.SetStepLine("正在建立连接...");
    m_observer.StepStepBar();
    if (session->Connect(exchangerHost)) {
        const std::string& name = m_route.helloName;
        [&] {
            m_observer.SetStepLine("正在标示自己...");
            m_observer.StepStepBar();
            if (!session->Helo(name)) return;
            m_observer.SetStepLine("正在指定发件人...");
            m_observer.StepStepBar();
            // The envelope sender is made from the host name; the user's own address stands only in the
            // message headers.
            if (!session->MailFrom(name + "@" + name + ".com")) return;
            m_observer.SetStepLine("正在指定收件人...");
            m_observer.StepStepBar();
            if (!session->RcptTo(address)) return;
            m_observer.SetStepLine("开始传输数据...");
            m_observer.StepStepBar();
            if (!session->Data()) return;

            // Straight from the message's own buffer, 2048 bytes per send. The cancel request is looked at
            // before every chunk but the last, so a short message is never cut.
            const std::size_t total = m_message.size();
            std::size_t remaining = total;
            std::size_t sent = 0;
            bool transferred = true;
            while (remaining > static_cast<std::size_t>(kChunk)) {
                if (m_cancel) {
                    transferred = false;
                    cutByCancel = true;
                    break;
                }
                m_observer.StepStepBar();
                m_observer.SetStepLine(TransferLine(sent, total));
                if (session->SendRaw(m_message.data() + sent, kChunk) < 0) {
                    transferred = false;
                    break;
                }
                remaining -= kChunk;
                sent += kChunk;
            }
            if (transferred && remaining != 0) {
                m_observer.StepStepBar();
                m_observer.SetStepLine(TransferLine(total - remaining, total));
                if (session->SendRaw(m_message.data() + sent, static_cast<int>(remaining)) < 0) transferred = false;
            }

            m_observer.SetStepBar(m_nSteps - 1);
            m_observer.SetStepLine("结束数据传输...");
            // A transfer cut short never gets its end-of-data line, so the server cannot take the partial
            // text for a message.
            if (transferred && session->EndData()) delivered = true;
        }();
        m_observer.SetStepBar(m_nSteps);
        m_observer.SetStepLine("正在断开连接...");
        if (!m_cancel) session->Quit();
    }

    if (delivered) return std::nullopt;
    DeliveryFailure failure{address, cutByCancel ? kReasonCancelled : session->GetErrorText()};
    return failure;
}

DeliveryReport BuildReport(const FailureList& failures) {
    if (failures.empty()) return {true, "发送完毕"};
    DeliveryReport report{false, "以下邮件地址不能正确投递\r\n\r\n"};
    for (const DeliveryFailure& f : failures) {
        report.text += f.szAddress;
        report.text += "\r\n";
        report.text += "失败原因：";
        report.text += f.szReason;  // a server's reply keeps its own line end
        report.text += "\r\n\r\n";
    }
    return report;
}

}  // namespace vox
