#include "delivery/smtp_session.h"

#include <cctype>
#include <cstring>

#include "base/text_rules.h"
#include "delivery/delivery_failure.h"

namespace vox {

namespace {

constexpr int kSuccessCode[] = {220, 250, 250, 250, 354, 250, 221};

// A line "ddd-text" announces more lines of the same reply; any other line ends it.
bool IsContinuation(const std::string& text, std::size_t lineStart, std::size_t lineEnd) {
    return lineEnd - lineStart >= 4 && text[lineStart + 3] == '-';
}

}  // namespace

CSmtpSession::CSmtpSession(int timeoutSeconds, int port) : m_nPort(port), m_sock(timeoutSeconds) {}

int CSmtpSession::ParseReplyCode(const std::string& line) {
    const std::string head = line.substr(0, 3);
    std::size_t i = 0;
    while (i < head.size() && std::isspace(static_cast<unsigned char>(head[i]))) ++i;
    bool negative = false;
    if (i < head.size() && (head[i] == '+' || head[i] == '-')) {
        negative = head[i] == '-';
        ++i;
    }
    int code = 0;
    for (; i < head.size() && head[i] >= '0' && head[i] <= '9'; ++i) code = code * 10 + (head[i] - '0');
    return negative ? -code : code;
}

bool CSmtpSession::ReadReply(SmtpStage stage) {
    // A reply may span several lines and arrive in several segments: collect until its last line is
    // complete. Bytes after it stay for the next reply, so nothing shifts the replies that follow.
    std::string text = std::move(m_pending);
    m_pending.clear();
    std::size_t lineStart = 0;
    for (;;) {
        std::size_t lineEnd;
        while ((lineEnd = text.find('\n', lineStart)) != std::string::npos) {
            ++lineEnd;  // past the LF
            if (!IsContinuation(text, lineStart, lineEnd)) {
                m_pending = text.substr(lineEnd);
                text.resize(lineEnd);
                if (ParseReplyCode(text.substr(lineStart)) == kSuccessCode[stage]) return true;
                m_strError = std::move(text);
                return false;
            }
            lineStart = lineEnd;
        }
        if (text.size() >= kMaxReply) {
            // Endless continuation lines: the server's words so far are the reason.
            m_strError = std::move(text);
            return false;
        }
        char buf[512];
        const int n = m_sock.Receive(buf, sizeof buf);
        if (n <= 0) return false;  // closed, error or time-out: no reply text to keep
        text.append(buf, static_cast<std::size_t>(n));
    }
}

bool CSmtpSession::Command(const char* verb, const std::string& argument, const char* tail, SmtpStage stage) {
    // An argument with a line end would smuggle a second command onto the wire; one that does not fit the
    // command buffer is refused rather than cut, since a cut address names someone else.
    if (HasLineBreakOrNul(argument)) {
        m_strError = kReasonBadArgument;
        return false;
    }
    std::string line = verb;
    line += argument;
    line += tail;
    if (line.size() >= kCommandBuffer) {
        m_strError = kReasonCommandTooLong;
        return false;
    }
    if (m_sock.Send(line.data(), static_cast<int>(line.size())) < 0) return false;
    return ReadReply(stage);
}

bool CSmtpSession::Connect(const std::string& host) {
    if (!m_sock.Connect(host.c_str(), m_nPort)) {
        m_strError = kReasonCannotConnect;
        return false;
    }
    return ReadReply(STAGE_GREETING);
}

bool CSmtpSession::Helo(const std::string& name) { return Command("HELO ", name, "\r\n", STAGE_HELO); }

bool CSmtpSession::MailFrom(const std::string& sender) {
    return Command("MAIL FROM:<", sender, ">\r\n", STAGE_MAIL_FROM);
}

bool CSmtpSession::RcptTo(const std::string& recipient) {
    return Command("RCPT TO:<", recipient, ">\r\n", STAGE_RCPT_TO);
}

bool CSmtpSession::Data() {
    m_atLineStart = true;
    return Command("DATA", "", "\r\n", STAGE_DATA);
}

int CSmtpSession::SendRaw(const char* bytes, int count) {
    // Runs of bytes go out straight from the caller's buffer; only a line-leading dot costs an extra send.
    if (count <= 0) return m_sock.Send(bytes, 0);
    int from = 0;
    auto stuffAt = [&](int dot) {
        if (dot > from && m_sock.Send(bytes + from, dot - from) < 0) return false;
        if (m_sock.Send(".", 1) < 0) return false;
        from = dot;  // the line's own dot follows with the next run
        return true;
    };
    if (m_atLineStart && bytes[0] == '.' && !stuffAt(0)) return -1;
    // Dots are rare in a mail (none in Base64), so look for them rather than for line ends.
    for (const char* dot = bytes + 1; (dot = static_cast<const char*>(std::memchr(dot, '.', bytes + count - dot))) != nullptr; ++dot) {
        if (dot[-1] == '\n' && !stuffAt(static_cast<int>(dot - bytes))) return -1;
    }
    m_atLineStart = bytes[count - 1] == '\n';
    if (m_sock.Send(bytes + from, count - from) < 0) return -1;
    return count;
}

bool CSmtpSession::EndData() { return Command("\r\n.", "", "\r\n", STAGE_END_DATA); }

bool CSmtpSession::Quit() { return Command("QUIT", "", "\r\n", STAGE_QUIT); }

std::string CSmtpSession::GetErrorText() {
    if (m_strError.empty()) return kReasonConnectionBroken;
    std::string text = std::move(m_strError);
    m_strError.clear();
    return text;
}

}  // namespace vox
