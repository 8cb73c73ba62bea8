#include "delivery/delivery_job.h"

#include <netdb.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <optional>
#include <set>

#include "base/translate.h"
#include "delivery/mx_resolver.h"
#include "delivery/smtp_reply.h"
#include "delivery/smtp_session.h"

namespace vox {

namespace {

std::string TransferLine(std::size_t sent, std::size_t total) {
    return Format(Tr("已经传输数据%zu字节，共%zu字节"), sent, total);
}

std::string TooLargeReason(std::size_t size, std::uint64_t limit) {
    return Format(Tr("邮件大小%zu字节，超过服务器接受的上限%llu字节，未发送"), size,
                  static_cast<unsigned long long>(limit));
}

bool IsFqdn(const std::string& name) {
    return name.find('.') != std::string::npos && name.front() != '.' && name.back() != '.' &&
           name.find_first_of(" \t[]") == std::string::npos;
}

}  // namespace

int DeliveryStepRange(std::size_t messageSize) {
    return static_cast<int>(messageSize / DeliveryJob::kChunk + 8);
}

std::string LocalFqdn() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "";
    if (IsFqdn(name)) return name;
    // The canonical name of the host name, as the system's own resolver configuration gives it.
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    std::string fqdn;
    if (::getaddrinfo(name, nullptr, &hints, &found) == 0 && found != nullptr &&
        found->ai_canonname != nullptr && IsFqdn(found->ai_canonname))
        fqdn = found->ai_canonname;
    if (found != nullptr) ::freeaddrinfo(found);
    return fqdn;
}

DeliveryJob::DeliveryJob(DeliveryRequest request, DeliveryObserver& observer, const std::atomic<bool>& cancel,
                         DeliveryRoute route)
    : m_request(std::move(request)),
      m_observer(observer),
      m_cancel(cancel),
      m_route(std::move(route)),
      m_nSteps(DeliveryStepRange(m_request.message ? m_request.message->size() : 0)) {
    if (!m_request.message) m_request.message = std::make_shared<const std::string>();
    if (!m_route.openSession)
        m_route.openSession = [](const SessionOptions& options) {
            return std::make_unique<CSmtpSession>(CSmtpSession::kPieceTimeoutSeconds, options);
        };
}

const std::string& DeliveryJob::HelloName() {
    // Found only when a greeting is due: a recipient without a domain should cost no lookup.
    if (!m_route.helloName) m_route.helloName = LocalFqdn();
    return *m_route.helloName;
}

void DeliveryJob::RunDelivery() {
    if (m_request.relay) {
        RunRelay();
        return;
    }
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
        // No new exchanger is begun once the user has cancelled.
        if (m_cancel) return DeliveryResult(DeliveryFailure{address, Tr(kReasonCancelled)});
        return DeliverViaExchanger(host, address);
    };

    const std::vector<std::string>& recipients = m_request.recipients;
    std::size_t i = 0;
    for (; i < recipients.size() && !m_cancel; ++i) {
        const std::string& address = recipients[i];
        m_observer.SetRecipientText(address);
        m_observer.StepRecipientBar();
        m_observer.SetStepBar(0);
        if (DeliveryResult failure = deliver(address, attempt)) {
            if (failure->szReason == Tr(kReasonCancelled)) failure->kind = FailureKind::Final;
            Record(std::move(*failure));
        } else {
            Record(address);
        }
    }
    // The user must learn who never got the mail, not only who was refused.
    for (; i < recipients.size(); ++i) Record({recipients[i], Tr(kReasonCancelled)});
}

void DeliveryJob::Record(DeliveryFailure failure) {
    m_observer.Finished(failure.szAddress, &failure);
    m_failures.push_back(std::move(failure));
}

void DeliveryJob::Record(const std::string& delivered) {
    ++m_delivered;
    m_observer.Finished(delivered, nullptr);
}

bool DeliveryJob::PortBlocked() const {
    // Every exchanger DNS named refused the connection or let it time out, and no server said a word:
    // the fault is on this side. Recipients without any exchanger do not tell either way.
    if (m_request.relay || m_delivered > 0) return false;
    bool anyUnreachable = false;
    for (const DeliveryFailure& f : m_failures) {
        if (f.unreachable)
            anyUnreachable = true;
        else if (f.szReason != Tr(kReasonNoMailServer))
            return false;
    }
    return anyUnreachable;
}

bool DeliveryJob::FitsSizeLimit(const SmtpConversation& session, std::string* reason) const {
    const std::uint64_t limit = session.SizeLimit();
    const std::size_t size = m_request.message->size();
    if (limit == 0 || size <= limit) return true;
    *reason = TooLargeReason(size, limit);
    return false;
}

bool DeliveryJob::OpenTransaction(SmtpConversation& session, std::string* sizeRefusal) {
    Step(Tr("正在标示自己..."));
    if (!session.Greet(HelloName())) return false;
    if (!FitsSizeLimit(session, sizeRefusal)) return false;
    Step(Tr("正在指定发件人..."));
    return session.MailFrom(m_request.envelopeSender, m_request.message->size());
}

bool DeliveryJob::SendMessageData(SmtpConversation& session, bool* cut) {
    Step(Tr("开始传输数据..."));
    if (!session.Data()) return false;
    const bool transferred = Transfer(session, cut);
    m_observer.SetStepBar(m_nSteps - 1);
    m_observer.SetStepLine(Tr("结束数据传输..."));
    // A transfer cut short never gets its end-of-data line, so the server cannot take the partial text
    // for a message.
    return transferred && session.EndData();
}

void DeliveryJob::CloseConversation(SmtpConversation& session) {
    m_observer.SetStepBar(m_nSteps);
    m_observer.SetStepLine(Tr("正在断开连接..."));
    if (!m_cancel) session.Quit();
}

void DeliveryJob::Step(const char* line) {
    m_observer.SetStepLine(line);
    m_observer.StepStepBar();
}

bool DeliveryJob::Transfer(SmtpConversation& session, bool* cut) {
    // TCP is a stream: the server cannot see how the writes were cut, so the kernel gets up to 64 KiB at
    // a time, while the bar and the line still move per 2048 bytes and the cancel request is looked at
    // before each 2048 bytes but the last, so a short message is never cut.
    const std::string& message = *m_request.message;
    const std::size_t total = message.size();
    std::size_t sent = 0;
    while (sent < total) {
        std::size_t end = sent;
        while (end < total && end - sent < static_cast<std::size_t>(kWriteBlock)) {
            const bool last = total - end <= static_cast<std::size_t>(kChunk);
            if (!last && m_cancel) {
                *cut = true;
                break;
            }
            m_observer.StepStepBar();
            m_observer.SetStepLine(TransferLine(end, total));
            end += last ? total - end : kChunk;
        }
        // What the line has announced goes out, even when cancel stops the transfer after it.
        if (end > sent && session.SendRaw(message.data() + sent, static_cast<int>(end - sent)) < 0) {
            if (m_cancel) *cut = true;
            return false;
        }
        sent = end;
        if (*cut) return false;
    }
    return true;
}

DeliveryJob::Outcome DeliveryJob::Attempt(const std::string& host, const std::string& address, TlsMode tls) {
    SessionOptions options = m_route.limits;
    options.tls = tls;
    options.cancel = &m_cancel;
    // Two domains whose exchangers never answered a connect: the network most likely drops port 25, and
    // every further exchanger would cost the full wait again.
    if (m_timedOutDomains.size() >= 2) {
        const int cap = m_route.blockedConnectTimeoutMs;
        if (options.connectTimeoutMs == 0 || options.connectTimeoutMs > cap) options.connectTimeoutMs = cap;
    }
    std::unique_ptr<SmtpConversation> session = m_route.openSession(options);
    bool delivered = false;
    bool cutByCancel = false;
    bool connected = false;
    std::string ownReason;
    auto failed = [&] {
        // A step that failed because the user cancelled its wait is reported as cancelled.
        cutByCancel = m_cancel.load();
        return false;
    };

    Step(Tr("正在建立连接..."));
    if (session->Connect(host)) {
        connected = true;
        [&] {
            if (!OpenTransaction(*session, &ownReason)) return ownReason.empty() ? failed() : false;
            Step(Tr("正在指定收件人..."));
            if (!session->RcptTo(address)) return failed();
            if (!SendMessageData(*session, &cutByCancel)) return cutByCancel ? false : failed();
            delivered = true;
            m_observer.Delivered(address, session->Encrypted(), session->LastReply());
            return true;
        }();
        CloseConversation(*session);
    } else {
        failed();
    }

    if (delivered) return {};
    const std::string reason = cutByCancel          ? Tr(kReasonCancelled)
                               : !ownReason.empty() ? ownReason
                                                    : session->GetErrorText();
    DeliveryFailure failure{address, reason};
    if (!cutByCancel) {
        failure.kind = KindOfReply(reason);
        // A greeting that refused is an answer; only a connection never made counts as unreachable.
        failure.unreachable = !connected && reason == Tr(kReasonCannotConnect);
        if (session->ConnectTimedOut()) {
            const std::size_t at = address.rfind('@');
            m_timedOutDomains.insert(at == std::string::npos ? address : address.substr(at + 1));
        }
    }
    return {std::move(failure), session->TlsFailed()};
}

DeliveryResult DeliveryJob::DeliverViaExchanger(const std::string& exchangerHost,
                                                const std::string& address) {
    Outcome outcome = Attempt(exchangerHost, address, TlsMode::Opportunistic);
    // Encryption is a bonus with an exchanger, not a condition: a broken TLS server still gets the mail,
    // in plain text, on a fresh connection.
    if (outcome.tlsFailed && !m_cancel) outcome = Attempt(exchangerHost, address, TlsMode::Off);
    return std::move(outcome.failure);
}

void DeliveryJob::RunRelay() {
    // One transaction carries every recipient; the relay's verdict on each is what the report lists.
    const RelaySettings& relay = *m_request.relay;
    const std::vector<std::string>& recipients = m_request.recipients;
    if (recipients.empty()) return;
    SessionOptions options = m_route.limits;
    options.port = relay.port;
    options.tls = relay.Tls();
    options.verifyPeer = true;
    options.user = relay.user;
    options.password = relay.password;
    options.cancel = &m_cancel;
    std::unique_ptr<SmtpConversation> session = m_route.openSession(options);

    std::vector<std::string> accepted;
    std::vector<std::string> refusals(recipients.size());  // the relay's words for each refused recipient
    std::size_t begun = 0;
    bool cancelled = false;
    std::string reason;  // why the whole transaction failed
    auto failed = [&] {
        cancelled = m_cancel.load();
        if (reason.empty()) reason = session->GetErrorText();
        return false;
    };
    m_observer.SetRecipientText(recipients[0]);
    m_observer.SetStepBar(0);
    Step(Tr("正在建立连接..."));
    const bool connected = session->Connect(relay.host);
    if (connected) {
        [&] {
            if (!OpenTransaction(*session, &reason)) return reason.empty() ? failed() : false;
            for (; begun < recipients.size() && !m_cancel; ++begun) {
                const std::string& address = recipients[begun];
                m_observer.SetRecipientText(address);
                m_observer.StepRecipientBar();
                Step(Tr("正在指定收件人..."));
                if (session->RcptTo(address))
                    accepted.push_back(address);
                else if (m_cancel)
                    return failed();
                else
                    refusals[begun] = session->GetErrorText();
            }
            if (m_cancel) return failed();
            if (accepted.empty()) return true;
            if (!SendMessageData(*session, &cancelled)) return failed();
            for (const std::string& address : accepted)
                m_observer.Delivered(address, session->Encrypted(), session->LastReply());
            accepted.clear();
            return true;
        }();
        CloseConversation(*session);
    } else {
        failed();
    }
    // A relay that could not be reached keeps the mail waiting for a later try (decided before the
    // reason names the relay).
    const bool unreachable = !cancelled && !connected && reason == Tr(kReasonCannotConnect);
    const std::string server = relay.host + ":" + std::to_string(relay.port);
    if (!cancelled && reason == Tr(kReasonCannotConnect)) {
        reason = std::string(Tr(kReasonCannotConnectRelay)) + " " + server;
    } else if (!cancelled && session->LoginRefused()) {
        std::string answer = std::move(reason);
        reason = std::string(Tr(kReasonRelayLogin)) + " " + server + Tr(kReasonLoginRefused) + answer;
        if (AsksForAppPassword(answer)) reason += Tr(kReasonAppPassword);
    }
    // In the order of the list: the recipients the relay refused with its own words; those it had
    // accepted when the transaction broke, and those never named to it, with why it broke.
    const std::string why = cancelled ? Tr(kReasonCancelled) : reason;
    // A relay that could not be reached, or that answered 4xx, keeps the mail waiting for a later try.
    const FailureKind whyKind = cancelled     ? FailureKind::Final
                                : unreachable ? FailureKind::Temporary
                                              : KindOfReply(why);
    for (std::size_t i = 0; i < recipients.size(); ++i) {
        const bool wasAccepted = std::find(accepted.begin(), accepted.end(), recipients[i]) != accepted.end();
        if (!refusals[i].empty())
            Record({recipients[i], refusals[i], cancelled ? FailureKind::Final : KindOfReply(refusals[i])});
        else if (wasAccepted || i >= begun)
            Record({recipients[i], why, whyKind});
        else
            Record(recipients[i]);
    }
}

DeliveryReport BuildReport(const FailureList& failures, bool portBlocked) {
    if (failures.empty()) return {true, Tr("发送完毕")};
    DeliveryReport report;
    auto section = [&](FailureKind kind, const char* heading) {
        bool any = false;
        for (const DeliveryFailure& f : failures) {
            if (f.kind != kind) continue;
            if (!any) report.text += Tr(heading) + std::string("\r\n\r\n");
            any = true;
            report.text += f.szAddress;
            report.text += "\r\n";
            report.text += Tr("失败原因：");
            report.text += f.szReason;  // a server's reply keeps its own line end
            report.text += "\r\n\r\n";
        }
        return any;
    };
    section(FailureKind::Final, kReportFailedHeading);
    report.someWait = section(FailureKind::Temporary, kReportWaitingHeading);
    if (portBlocked) {
        report.portBlocked = true;
        report.text += Tr(kReportPortBlocked);
    }
    return report;
}

}  // namespace vox
