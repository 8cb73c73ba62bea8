#include "delivery/smtp_session.h"

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "base/text_rules.h"
#include "delivery/delivery_failure.h"

namespace vox {

namespace {

std::string Base64(const std::string& text) {
    std::vector<unsigned char> out(4 * ((text.size() + 2) / 3) + 1);
    const int n = EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(n));
}

}  // namespace

CSmtpSession::CSmtpSession(int timeoutSeconds, SessionOptions options)
    : m_options(std::move(options)), m_sock(timeoutSeconds) {
    m_sock.SetCancel(m_options.cancel);
    m_sock.SetConnectTimeout(m_options.connectTimeoutMs);
}

int CSmtpSession::Sent(int result) {
    if (result == kStreamTimedOut) m_strError = Tr(kReasonReplyTimedOut);
    return result;
}

ByteStream& CSmtpSession::Stream() {
    if (m_tls) return *m_tls;
    return m_sock;
}

std::optional<SmtpReply> CSmtpSession::ReadReply(int limitMs) {
    // Each piece has its own wait, but a server that drips a byte at a time must not restart it for ever:
    // the whole reply has a deadline too.
    const int limit = limitMs > 0 ? limitMs : m_options.replyTimeoutMs;
    m_sock.SetDeadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(limit));
    std::optional<SmtpReply> reply;
    for (;;) {
        if ((reply = m_reader.Next())) {
            m_lastReply = reply->text;
            break;
        }
        char buf[4096];
        const int n = Stream().Receive(buf, sizeof buf);
        if (n <= 0) {
            // Closed, error, time-out or cancel: no reply text to keep, but a wait that ran out says so.
            if (n == kStreamTimedOut) m_strError = Tr(kReasonReplyTimedOut);
            break;
        }
        m_reader.Feed(buf, static_cast<std::size_t>(n));
    }
    m_sock.ClearDeadline();
    return reply;
}

bool CSmtpSession::Refused(const std::optional<SmtpReply>& reply) {
    if (reply) m_strError = reply->text;
    return false;
}

bool CSmtpSession::Sendable(const std::string& argument) {
    // A line end inside would smuggle a second command onto the wire.
    if (!HasLineBreakOrNul(argument)) return true;
    m_strError = Tr(kReasonBadArgument);
    return false;
}

std::optional<SmtpReply> CSmtpSession::Exchange(const std::string& line, int limitMs) {
    // A line too long for the server is refused rather than cut, since a cut address names someone else.
    if (line.size() > kMaxCommandLine) {
        m_strError = Tr(kReasonCommandTooLong);
        return std::nullopt;
    }
    if (Sent(Stream().Send(line.data(), static_cast<int>(line.size()))) < 0) return std::nullopt;
    return ReadReply(limitMs);
}

bool CSmtpSession::Command(const std::string& line, int code, int limitMs) {
    std::optional<SmtpReply> reply = Exchange(line, limitMs);
    if (reply && reply->code == code) return true;
    return Refused(reply);
}

bool CSmtpSession::Greeting() {
    if (m_options.tls == TlsMode::Implicit) {
        m_tls = std::make_unique<CTlsStream>(m_sock);
        m_tls->SetTrustFile(m_options.trustFile);
        std::string why;
        if (!m_tls->Handshake(m_host, m_options.verifyPeer, &why)) {
            m_tlsFailed = true;
            m_strError = std::string(Tr(m_options.verifyPeer ? kReasonCertificate : kReasonTlsFailed)) + why;
            return false;
        }
    }
    std::optional<SmtpReply> reply = ReadReply();
    if (reply && reply->code == 220) return true;
    return Refused(reply);
}

bool CSmtpSession::Open(int fd, const std::string& host) {
    m_host = host;
    m_sock.Adopt(fd);
    return Greeting();
}

bool CSmtpSession::Connect(const std::string& host) {
    m_host = host;
    if (!m_sock.Connect(host.c_str(), m_options.port)) {
        m_strError = Tr(kReasonCannotConnect);
        return false;
    }
    return Greeting();
}

bool CSmtpSession::Greet(const std::string& name) {
    const std::string greeting = name.empty() ? m_sock.LocalAddressLiteral() : name;
    if (!Sendable(greeting)) return false;
    std::optional<SmtpReply> reply = Exchange("EHLO " + greeting + "\r\n");
    if (!reply) return false;
    if (reply->code == 250) {
        m_ehlo = true;
        m_ext = ParseEhlo(*reply);
    } else if (reply->code >= 500 && reply->code <= 599) {
        // A server that knows no extensions: greet as plain SMTP does.
        if (!Command("HELO " + greeting + "\r\n", 250)) return false;
    } else {
        return Refused(reply);
    }

    const bool wantTls =
        m_options.tls == TlsMode::Required || (m_options.tls == TlsMode::Opportunistic && m_ext.startTls);
    if (wantTls && !m_tls) {
        if (!StartTls()) return false;
        if (m_tls) {
            // Everything learnt before the handshake is forgotten; only what the server says now counts.
            m_ext = {};
            reply = Exchange("EHLO " + greeting + "\r\n");
            if (!reply || reply->code != 250) return Refused(reply);
            m_ext = ParseEhlo(*reply);
        }
    }
    if (!m_options.user.empty()) return Authenticate();
    return true;
}

bool CSmtpSession::StartTls() {
    const bool required = m_options.tls == TlsMode::Required;
    if (!m_ext.startTls) {
        if (required) m_strError = Tr(kReasonNoStartTls);
        return !required;
    }
    std::optional<SmtpReply> reply = Exchange("STARTTLS\r\n");
    if (!reply) return false;
    if (reply->code != 220) {
        // A server that offers STARTTLS and then declines it still takes mail in plain text, unless
        // encryption is what the user asked for.
        if (required) return Refused(reply);
        return true;
    }
    // Bytes that came after the 220 were sent before any protection existed: a man in the middle may have
    // put them there. They are dropped, never read as the protected session's replies.
    m_reader.Discard();
    m_tls = std::make_unique<CTlsStream>(m_sock);
    m_tls->SetTrustFile(m_options.trustFile);
    std::string why;
    if (m_tls->Handshake(m_host, m_options.verifyPeer, &why)) return true;
    m_tlsFailed = true;
    m_strError = std::string(Tr(m_options.verifyPeer ? kReasonCertificate : kReasonTlsFailed)) + why;
    return false;
}

bool CSmtpSession::Authenticate() {
    if (!Sendable(m_options.user) || !Sendable(m_options.password)) return false;
    // A refusal is a reply that came (its code first); a broken connection is no verdict on the password.
    auto refused = [this] {
        m_loginRefused = !m_strError.empty() && m_strError[0] >= '0' && m_strError[0] <= '9';
        return false;
    };
    if (m_ext.authPlain) {
        const std::string credentials =
            std::string(1, '\0') + m_options.user + std::string(1, '\0') + m_options.password;
        return Command("AUTH PLAIN " + Base64(credentials) + "\r\n", 235) || refused();
    }
    if (m_ext.authLogin) {
        return (Command("AUTH LOGIN\r\n", 334) && Command(Base64(m_options.user) + "\r\n", 334) &&
                Command(Base64(m_options.password) + "\r\n", 235)) ||
               refused();
    }
    m_strError = Tr(kReasonNoAuth);
    return false;
}

bool CSmtpSession::MailFrom(const std::string& sender, std::uint64_t messageSize) {
    if (!Sendable(sender)) return false;
    std::string line = "MAIL FROM:<" + sender + ">";
    if (m_ext.size && messageSize > 0) line += " SIZE=" + std::to_string(messageSize);
    // A sender written in Chinese needs a server that takes such addresses; any other would have to
    // mangle it, and bounces would then go nowhere.
    const bool ascii = std::all_of(sender.begin(), sender.end(), [](char c) { return (c & 0x80) == 0; });
    if (!ascii) {
        if (!m_ext.smtpUtf8) {
            m_strError = Tr(kReasonSenderNotAscii);
            return false;
        }
        line += " SMTPUTF8";
    }
    return Command(line + "\r\n", 250);
}

bool CSmtpSession::RcptTo(const std::string& recipient) {
    return Sendable(recipient) && Command("RCPT TO:<" + recipient + ">\r\n", 250);
}

bool CSmtpSession::Data() {
    m_atLineStart = true;
    return Command("DATA\r\n", 354);
}

int CSmtpSession::SendRaw(const char* bytes, int count) {
    // Runs of bytes go out straight from the caller's buffer; only a line-leading dot costs an extra send.
    ByteStream& out = Stream();
    if (count <= 0) return Sent(out.Send(bytes, 0));
    int from = 0;
    auto stuffAt = [&](int dot) {
        if (dot > from && Sent(out.Send(bytes + from, dot - from)) < 0) return false;
        if (Sent(out.Send(".", 1)) < 0) return false;
        from = dot;  // the line's own dot follows with the next run
        return true;
    };
    if (m_atLineStart && bytes[0] == '.' && !stuffAt(0)) return -1;
    // Dots are rare in a mail (none in Base64), so look for them rather than for line ends.
    for (const char* dot = bytes + 1;
         (dot = static_cast<const char*>(
              std::memchr(dot, '.', static_cast<std::size_t>(bytes + count - dot)))) != nullptr;
         ++dot) {
        if (dot[-1] == '\n' && !stuffAt(static_cast<int>(dot - bytes))) return -1;
    }
    m_atLineStart = bytes[count - 1] == '\n';
    if (Sent(out.Send(bytes + from, count - from)) < 0) return -1;
    return count;
}

bool CSmtpSession::EndData() {
    m_sock.SetCancelGrace(kEndDataCancelGraceMs);
    const bool ok = Command("\r\n.\r\n", 250, m_options.endDataTimeoutMs);
    m_sock.SetCancelGrace(0);
    return ok;
}

bool CSmtpSession::Quit() {
    // After a broken handshake neither plain text nor TLS means anything to the server: just close.
    if (m_tlsFailed) return false;
    // Whatever QUIT gets must not replace the reason of the step that failed before it.
    std::string reason = std::move(m_strError);
    const bool ok = Command("QUIT\r\n", 221, m_options.quitTimeoutMs);
    m_strError = std::move(reason);
    return ok;
}

std::string CSmtpSession::GetErrorText() {
    if (m_strError.empty()) return Tr(kReasonConnectionBroken);
    std::string text = std::move(m_strError);
    m_strError.clear();
    return text;
}

}  // namespace vox
