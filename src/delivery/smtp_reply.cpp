#include "delivery/smtp_reply.h"

#include <cctype>

#include "base/number_text.h"

namespace vox {

namespace {

// A line "ddd-text" announces more lines of the same reply; any other line ends it.
bool IsContinuation(std::string_view line) {
    return line.size() >= 4 && line[3] == '-';
}

std::string LineText(std::string_view line) {
    std::size_t end = line.size();
    while (end > 0 && (line[end - 1] == '\n' || line[end - 1] == '\r')) --end;
    return end > 4 ? std::string(line.substr(4, end - 4)) : std::string();
}

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '=')) ++i;
        const std::size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '=') ++i;
        if (i > start) words.push_back(text.substr(start, i - start));
    }
    return words;
}

}  // namespace

int ParseReplyCode(std::string_view line) {
    const std::string_view head = line.substr(0, 3);
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

std::optional<SmtpReply> ReplyReader::Next() {
    // Scanning resumes where the last call stopped: a server that trickles a long reply byte by byte must
    // not cost time that grows with the square of its length.
    std::size_t lineEnd;
    while ((lineEnd = m_buffer.find('\n', m_resume)) != std::string::npos) {
        ++lineEnd;  // past the LF
        const std::string_view line(m_buffer.data() + m_resume, lineEnd - m_resume);
        if (!IsContinuation(line)) {
            SmtpReply reply;
            reply.code = ParseReplyCode(line);
            reply.text = m_buffer.substr(0, lineEnd);
            for (std::size_t start = 0; start < lineEnd;) {
                const std::size_t end = m_buffer.find('\n', start) + 1;
                reply.lines.push_back(LineText(std::string_view(m_buffer.data() + start, end - start)));
                start = end;
            }
            m_buffer.erase(0, lineEnd);
            m_resume = 0;
            return reply;
        }
        m_resume = lineEnd;
    }
    if (m_buffer.size() < kMaxReply) return std::nullopt;
    // Endless continuation lines: the server's words so far are all it gets to say.
    SmtpReply reply;
    reply.text = std::move(m_buffer);
    m_buffer.clear();
    m_resume = 0;
    return reply;
}

EhloExtensions ParseEhlo(const SmtpReply& reply) {
    EhloExtensions ext;
    // The first line names the server; each further line is one extension with its parameters.
    for (std::size_t i = 1; i < reply.lines.size(); ++i) {
        const std::vector<std::string> words = Words(Upper(reply.lines[i]));
        if (words.empty()) continue;
        if (words[0] == "STARTTLS") {
            ext.startTls = true;
        } else if (words[0] == "SMTPUTF8") {
            ext.smtpUtf8 = true;
        } else if (words[0] == "SIZE") {
            ext.size = true;
            // A limit past 32 bits is larger than any mail this program holds: no limit for us.
            if (words.size() > 1) ext.sizeLimit = ParseUnsignedDecimal(words[1]).value_or(0);
        } else if (words[0] == "AUTH") {
            for (std::size_t w = 1; w < words.size(); ++w) {
                if (words[w] == "PLAIN") ext.authPlain = true;
                if (words[w] == "LOGIN") ext.authLogin = true;
            }
        }
    }
    return ext;
}

bool AsksForAppPassword(const std::string& answer) {
    return answer.rfind("534", 0) == 0 || answer.find("5.7.9") != std::string::npos;
}

}  // namespace vox
