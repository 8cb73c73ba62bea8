#pragma once
// The SMTP client as the delivery attempt sees it. CSmtpSession is the real one; tests and benchmarks put
// their own in its place to drive the delivery job without a mail server.

#include <string>

namespace vox {

class SmtpConversation {
public:
    virtual ~SmtpConversation() = default;
    virtual bool Connect(const std::string& host) = 0;
    virtual bool Helo(const std::string& name) = 0;
    virtual bool MailFrom(const std::string& sender) = 0;
    virtual bool RcptTo(const std::string& recipient) = 0;
    virtual bool Data() = 0;
    virtual int SendRaw(const char* bytes, int count) = 0;  // negative: failed
    virtual bool EndData() = 0;
    virtual bool Quit() = 0;
    // Why the conversation failed; clears the text it held.
    virtual std::string GetErrorText() = 0;
};

}  // namespace vox
