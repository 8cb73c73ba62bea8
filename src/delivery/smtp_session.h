#pragma once
// The SMTP client: one session speaks to one mail exchanger, for one message and one recipient. Each
// command is one line and gets one reply, judged by the single code its step expects; a refusing reply is
// kept word for word so the final report can quote the server.

#include <cstddef>
#include <string>

#include "delivery/blocking_socket.h"
#include "delivery/smtp_conversation.h"

namespace vox {

enum SmtpStage {
    STAGE_GREETING = 0,
    STAGE_HELO = 1,
    STAGE_MAIL_FROM = 2,
    STAGE_RCPT_TO = 3,
    STAGE_DATA = 4,
    STAGE_END_DATA = 5,
    STAGE_QUIT = 6,
};

// Reasons of our own for a command that is never sent.
inline constexpr const char kReasonBadArgument[] = "命令参数含有回车、换行或空字符，未发送";
inline constexpr const char kReasonCommandTooLong[] = "命令行超过255字节，未发送";

class CSmtpSession : public SmtpConversation {
public:
    static constexpr int kSmtpPort = 25;
    static constexpr std::size_t kCommandBuffer = 256;  // a command line holds at most 255 bytes
    static constexpr std::size_t kMaxReply = 64 * 1024;  // a longer reply is not worth waiting for

    explicit CSmtpSession(int timeoutSeconds = 10, int port = kSmtpPort);

    bool Connect(const std::string& host) override;
    bool Helo(const std::string& name) override;
    bool MailFrom(const std::string& sender) override;
    bool RcptTo(const std::string& recipient) override;
    bool Data() override;
    // Sends message bytes unchanged except that a line beginning with "." gets one more "." in front, which
    // the server takes away again; without it a line of a single "." would end the message there.
    int SendRaw(const char* bytes, int count) override;
    bool EndData() override;
    bool Quit() override;
    std::string GetErrorText() override;

    // Reads one whole reply (every continuation line up to the last line) and compares the last line's
    // code with the stage's success code.
    bool ReadReply(SmtpStage stage);

    // The reply code as this client reads it: the first three characters of the line, parsed as a signed
    // decimal number (leading blanks, optional sign, digits; no digits give 0).
    static int ParseReplyCode(const std::string& line);

private:
    bool Command(const char* verb, const std::string& argument, const char* tail, SmtpStage stage);

    std::string m_strError;
    std::string m_pending;     // received bytes beyond the last reply read
    bool m_atLineStart = true;  // the next message byte begins a line (dot-stuffing)
    int m_nPort;
    CBlockingSocket m_sock;
};

}  // namespace vox
