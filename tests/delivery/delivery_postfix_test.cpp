// Delivery to a real Postfix in the test's own network namespace: what a widely used exchanger makes of
// our greeting, envelope, encryption and message bytes.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "delivery/delivery_job.h"
#include "delivery/smtp_session.h"
#include "net_world.h"
#include "recording_observer.h"

namespace vox {
namespace {

using test::NetWorld;

class DeliveredLog : public test::RecordingObserver {
public:
    std::vector<std::string> delivered;  // "address encrypted|plain"
    void Delivered(const std::string& address, bool encrypted, const std::string&) override {
        delivered.push_back(address + (encrypted ? " encrypted" : " plain"));
    }
};

// The maildir's one message, once Postfix has put it there.
std::string WaitForMail(const NetWorld& world) {
    const std::filesystem::path box = world.Path("postfix/mail/box/new");
    for (int i = 0; i < 200; ++i) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(box, ec)) {
            std::ifstream in(entry.path(), std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return "";
}

// The stored mail without the trace lines Postfix puts on top.
std::string WithoutTrace(const std::string& stored) {
    std::size_t at = 0;
    bool inTrace = false;
    for (;;) {
        const std::size_t end = stored.find('\n', at);
        if (end == std::string::npos) return stored.substr(at);
        const std::string line = stored.substr(at, end - at);
        const bool trace = line.rfind("Return-Path:", 0) == 0 || line.rfind("X-Original-To:", 0) == 0 ||
                           line.rfind("Delivered-To:", 0) == 0 || line.rfind("Received:", 0) == 0;
        const bool continuation = !line.empty() && (line[0] == ' ' || line[0] == '\t');
        if (!trace && !(inTrace && continuation)) return stored.substr(at);
        inTrace = trace || (inTrace && continuation);
        at = end + 1;
    }
}

std::string LfOnly(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

TEST(PostfixDelivery, GreetingEnvelopeEncryptionBytesAndRefusals) {
    const std::string skip = NetWorld::SkipReason();
    if (!skip.empty()) GTEST_SKIP() << skip;
    NetWorld world(VOX_POSTFIX_WORLD);
    ASSERT_TRUE(world.Ready()) << world.Error();

    std::string message =
        "Date: Mon, 7 Dec 2026 10:00:00 +0800\r\nMessage-ID: <1@here.test>\r\n"
        "From: me@here.test\r\nTo: a@postfix.test\r\nSubject: =?gb2312?B?1eLKx9K7uPa2zMrU?=\r\n"
        "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=\"gb2312\"\r\n\r\n";
    for (int c = 0xa1; c <= 0xfe; ++c) message += static_cast<char>(c);
    message += "\r\n.\r\n..two dots\r\n.leading\r\n";
    for (int i = 0; i < 3000; ++i) message += "a line of the body, number " + std::to_string(i) + "\r\n";

    DeliveredLog observer;
    std::atomic<bool> cancel{false};
    DeliveryRoute route;
    route.openSession = [](const SessionOptions& options) {
        return std::make_unique<CSmtpSession>(10, options);
    };
    DeliveryJob job({std::make_shared<const std::string>(message),
                     {"a@postfix.test", "refused@postfix.test"},
                     "me@here.test",
                     std::nullopt},
                    observer, cancel, route);
    job.RunDelivery();

    ASSERT_EQ(job.Failures().size(), 1u);
    EXPECT_EQ(job.Failures()[0].szAddress, "refused@postfix.test");
    EXPECT_EQ(job.Failures()[0].szReason,
              "554 5.7.1 <refused@postfix.test>: Recipient address rejected: No such person here\r\n");
    EXPECT_EQ(observer.delivered, std::vector<std::string>{"a@postfix.test encrypted"});

    const std::string stored = WaitForMail(world);
    ASSERT_FALSE(stored.empty());
    // The maildir keeps LF line ends; everything else is ours, byte for byte (and the end-of-data line
    // ends the last line once more).
    const std::string body = WithoutTrace(stored);
    EXPECT_TRUE(body == LfOnly(message) + "\n") << body.substr(0, 600);
    EXPECT_NE(stored.find("Return-Path: <me@here.test>"), std::string::npos) << stored.substr(0, 300);
    // Postfix names the protocol it spoke: ESMTP (EHLO accepted) with TLS.
    EXPECT_NE(stored.find(") with ESMTPS id "), std::string::npos) << stored.substr(0, 300);

    const std::string log = world.Read("postfix/maillog");
    EXPECT_NE(log.find("TLS connection established"), std::string::npos) << log;
    // The refusal names the greeting it accepted (its HELO check runs with the recipient's).
    const std::string fqdn = LocalFqdn();
    const std::string greeting = fqdn.empty() ? "[127.0.0.16]" : fqdn;
    EXPECT_NE(log.find("from=<me@here.test> to=<refused@postfix.test> proto=ESMTP helo=<" + greeting + ">"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("need fully-qualified hostname"), std::string::npos) << log;
}

}  // namespace
}  // namespace vox
