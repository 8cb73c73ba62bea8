#pragma once
// Server replies as the SMTP session reads them: whole replies cut from the bytes received, and the
// extensions an EHLO reply announces. Everything here reads text a stranger's server chose.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vox {

struct SmtpReply {
    int code = 0;                    // the last line's code, as ParseReplyCode reads it
    std::vector<std::string> lines;  // every line's text after the code and its blank or hyphen
    std::string text;                // the reply as received, line ends included: what a report quotes
};

// The reply code as this client reads it: the first three characters of the line, parsed as a signed
// decimal number (leading blanks, optional sign, digits; no digits give 0).
int ParseReplyCode(std::string_view line);

// Cuts whole replies out of a byte stream. A reply may span several lines ("250-…" up to "250 …") and
// arrive in several segments; bytes after it stay for the next one, so nothing shifts later replies.
class ReplyReader {
public:
    static constexpr std::size_t kMaxReply = 64 * 1024;  // a longer reply is not worth waiting for

    void Feed(const char* bytes, std::size_t count) { m_buffer.append(bytes, count); }

    // The next whole reply, when one is buffered. A reply that grows past kMaxReply without ending is
    // handed out as it stands, with code 0, so it refuses whatever step waits for it.
    std::optional<SmtpReply> Next();

    // Forgets every byte not yet read as a reply. After the server's 220 to STARTTLS nothing sent in
    // plain text may be taken for a reply of the protected session.
    void Discard() {
        m_buffer.clear();
        m_resume = 0;
    }
    bool Empty() const { return m_buffer.empty(); }

private:
    std::string m_buffer;
    std::size_t m_resume = 0;  // start of the first line not yet known to continue the reply
};

// What an EHLO reply says about the server, from its lines after the first.
struct EhloExtensions {
    bool startTls = false;
    bool size = false;
    std::uint64_t sizeLimit = 0;  // 0: no limit announced
    bool authPlain = false;
    bool authLogin = false;
    bool smtpUtf8 = false;  // takes addresses with characters beyond ASCII
};

EhloExtensions ParseEhlo(const SmtpReply& reply);

// A refused login that asks for an app-specific password, as big providers answer mail programs that
// log in with the account's usual password: "534 5.7.9 Application-specific password required".
bool AsksForAppPassword(const std::string& answer);

}  // namespace vox
