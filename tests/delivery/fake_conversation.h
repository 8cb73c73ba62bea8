#pragma once
// A scripted SMTP conversation for tests of the delivery job: it refuses where told and records every call
// and every chunk.

#include <map>
#include <string>
#include <vector>

#include "delivery/smtp_conversation.h"

namespace vox::test {

struct ConversationLog {
    std::vector<std::string> calls;  // "Connect host", "Greet name", "SendRaw 2048", "Quit" ...
    std::string data;                // every byte given to SendRaw
};

class FakeConversation : public SmtpConversation {
public:
    FakeConversation(ConversationLog& log, std::string failAt = "", std::string reply = "")
        : m_log(log), m_failAt(std::move(failAt)), m_reply(std::move(reply)) {}

    bool Connect(const std::string& host) override { return Step("Connect", host); }
    bool Greet(const std::string& name) override { return Step("Greet", name); }
    bool MailFrom(const std::string& sender, std::uint64_t) override { return Step("MailFrom", sender); }
    bool RcptTo(const std::string& recipient) override { return Step("RcptTo", recipient); }
    bool Data() override { return Step("Data", ""); }
    int SendRaw(const char* bytes, int count) override {
        m_log.calls.push_back("SendRaw " + std::to_string(count));
        if (m_failAt == "SendRaw") return -2;
        m_log.data.append(bytes, static_cast<std::size_t>(count));
        return count;
    }
    bool EndData() override { return Step("EndData", ""); }
    bool Quit() override { return Step("Quit", ""); }
    std::uint64_t SizeLimit() const override { return sizeLimit; }
    bool TlsFailed() const override { return m_failAt == "Greet" && tlsFailed; }

    std::uint64_t sizeLimit = 0;
    bool tlsFailed = false;  // a failure at Greet was a broken handshake

    std::string GetErrorText() override {
        std::string text = m_error.empty() ? "服务器意外中断连接" : m_error;
        m_error.clear();
        return text;
    }

private:
    // failAt "Name" refuses every call of that name, "Name#N" only the N-th.
    bool Step(const std::string& name, const std::string& arg) {
        m_log.calls.push_back(arg.empty() ? name : name + " " + arg);
        const int nth = ++m_calls[name];
        if (name != m_failAt && name + "#" + std::to_string(nth) != m_failAt) return true;
        m_error = m_reply;
        return false;
    }

    ConversationLog& m_log;
    std::string m_failAt;
    std::string m_reply;
    std::string m_error;
    std::map<std::string, int> m_calls;
};

}  // namespace vox::test
