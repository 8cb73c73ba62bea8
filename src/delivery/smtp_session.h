#pragma once
// The SMTP client: one session speaks to one mail exchanger (or the user's relay) over one connection.
// Each command is one line and gets one whole reply, judged by the step that sent it; a refusing reply is
// kept word for word so the final report can quote the server.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "delivery/blocking_socket.h"
#include "delivery/smtp_conversation.h"
#include "delivery/smtp_reply.h"
#include "delivery/tls_stream.h"

namespace vox {

class CSmtpSession : public SmtpConversation {
public:
    static constexpr int kSmtpPort = 25;
    // The wait for each piece of a reply, and for each part of a send.
    static constexpr int kPieceTimeoutSeconds = 10;
    // The longest command line, line end included: what an AUTH line may need.
    static constexpr std::size_t kMaxCommandLine = 12288;
    // After the end-of-data line a cancel still waits this long for the server's verdict: a mail the server
    // took must not be reported as cancelled, and a silent server must not hold the user.
    static constexpr int kEndDataCancelGraceMs = 200;

    explicit CSmtpSession(int timeoutSeconds = 10, SessionOptions options = {});

    // Over a descriptor that is already connected (a socketpair in tests): reads the greeting.
    bool Open(int fd, const std::string& host);

    bool Connect(const std::string& host) override;
    bool Greet(const std::string& name) override;
    bool MailFrom(const std::string& sender, std::uint64_t messageSize) override;
    bool RcptTo(const std::string& recipient) override;
    bool Data() override;
    // Sends message bytes unchanged except that a line beginning with "." gets one more "." in front, which
    // the server takes away again; without it a line of a single "." would end the message there.
    int SendRaw(const char* bytes, int count) override;
    bool EndData() override;
    bool Quit() override;
    std::string GetErrorText() override;

    std::string LastReply() const override { return m_lastReply; }
    bool Encrypted() const override { return m_tls != nullptr && !m_tlsFailed; }
    bool TlsFailed() const override { return m_tlsFailed; }
    bool LoginRefused() const override { return m_loginRefused; }
    std::uint64_t SizeLimit() const override { return m_ext.sizeLimit; }
    bool ConnectTimedOut() const override { return m_sock.ConnectTimedOut(); }
    const EhloExtensions& Extensions() const { return m_ext; }
    bool SaidEhlo() const { return m_ehlo; }

    // One whole reply, which must be in within limitMs (0: the options' reply limit); empty when the
    // connection closed, failed, timed out or was cancelled first. A time-out stores its reason.
    std::optional<SmtpReply> ReadReply(int limitMs = 0);

private:
    ByteStream& Stream();
    bool Greeting();
    bool StartTls();
    bool Authenticate();
    // Sends one command line and reads its reply; a line that may not be sent stores its reason.
    std::optional<SmtpReply> Exchange(const std::string& line, int limitMs = 0);
    // Exchange, then the reply must carry code; any other reply is kept as the refusal.
    bool Command(const std::string& line, int code, int limitMs = 0);
    // A send that failed: a wait that ran out keeps its reason.
    int Sent(int result);
    bool Refused(const std::optional<SmtpReply>& reply);
    // False, with the reason stored, for an argument that would break the command line.
    bool Sendable(const std::string& argument);

    SessionOptions m_options;
    std::string m_host;
    std::string m_strError;
    std::string m_lastReply;
    ReplyReader m_reader;
    EhloExtensions m_ext;
    bool m_ehlo = false;
    bool m_tlsFailed = false;
    bool m_loginRefused = false;  // the server answered the login with a refusal
    bool m_atLineStart = true;  // the next message byte begins a line (dot-stuffing)
    CBlockingSocket m_sock;
    std::unique_ptr<CTlsStream> m_tls;
};

}  // namespace vox
