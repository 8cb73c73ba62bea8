// Delivery against real DNS and SMTP servers in a network namespace of the test's own
// (tests/harness/net). Every failure the user can be told about is produced here by a server that behaves
// that way; the servers' logs show what went over the wire.

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "delivery/delivery_job.h"
#include "delivery/mx_resolver.h"
#include "delivery/outbox.h"
#include "delivery/smtp_session.h"
#include "net_world.h"
#include "recording_observer.h"

namespace vox {
namespace {

using test::NetWorld;
using test::RecordingObserver;

constexpr int kShortWait = 1;  // seconds; the program waits 10
const std::string kSmallMessage = "Subject: hello\r\n\r\nHello there.\r\n";
const std::string kSender = "me@here.test";

// The name the greeting gives: this machine's fully qualified name, else the address literal of the
// connection's own end (on loopback, the server's own address).
std::string GreetingName(const std::string& server) {
    const std::string fqdn = LocalFqdn();
    return fqdn.empty() ? "[" + server + "]" : fqdn;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

class NetDelivery : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string skip = NetWorld::SkipReason();
        if (!skip.empty()) GTEST_SKIP() << skip;
        world = std::make_unique<NetWorld>(VOX_DELIVERY_WORLD);
        ASSERT_TRUE(world->Ready()) << world->Error();
    }

    FailureList Deliver(const std::vector<std::string>& recipients, std::string_view message,
                        RecordingObserver& observer, const std::atomic<bool>& cancel) {
        DeliveryRoute route;
        route.openSession = [](const SessionOptions& options) {
            return std::make_unique<CSmtpSession>(kShortWait, options);
        };
        if (literalGreeting) route.helloName = "";
        DeliveryRequest request{std::make_shared<const std::string>(message), recipients, kSender,
                                std::nullopt};
        DeliveryJob job(std::move(request), observer, cancel, route);
        job.RunDelivery();
        return job.Failures();
    }

    FailureList Deliver(const std::vector<std::string>& recipients,
                        std::string_view message = kSmallMessage) {
        RecordingObserver observer;
        std::atomic<bool> cancel{false};
        return Deliver(recipients, message, observer, cancel);
    }

    // The reason the report gives for one recipient, or "delivered"; whether it waits for another try
    // goes to lastWaits.
    std::string Outcome(const std::string& address, std::string_view message = kSmallMessage) {
        const FailureList failures = Deliver({address}, message);
        lastWaits = false;
        if (failures.empty()) return "delivered";
        EXPECT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].szAddress, address);
        lastWaits = failures[0].kind == FailureKind::Temporary;
        return failures[0].szReason;
    }

    // Whether any connection the server at serverAddress logged names text. Servers write their logs as a
    // connection ends, so this waits up to `seconds` for the text to show.
    bool ServerSaw(const std::string& serverAddress, const std::string& text, double seconds = 3) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        do {
            std::error_code ec;
            for (const auto& entry : std::filesystem::directory_iterator(world->Path(serverAddress), ec))
                if (world->Read(serverAddress + "/" + entry.path().filename().string()).find(text) !=
                    std::string::npos)
                    return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }

    std::unique_ptr<NetWorld> world;
    bool lastWaits = false;
    bool literalGreeting = false;
};

TEST_F(NetDelivery, EveryOutcomeTheReportCanShow) {
    const std::string big(200 * 1024, 'm');
    const struct {
        std::string address;
        std::string_view message;
        std::string outcome;
        bool waits;  // kept for a later try rather than reported as failed
    } cases[] = {
        // No mail server to be had.
        {"nobody.example", kSmallMessage, "无法获得邮件服务器", false},
        {"a@b@accept.test", kSmallMessage, "无法获得邮件服务器", false},
        {"a@gone.test", kSmallMessage, "无法获得邮件服务器", false},      // NXDOMAIN
        {"a@broken.test", kSmallMessage, "无法获得邮件服务器", false},    // SERVFAIL
        {"a@quiet.test", kSmallMessage, "无法获得邮件服务器", false},     // no answer at all
        {"a@textonly.test", kSmallMessage, "无法获得邮件服务器", false},  // neither MX nor address
        {"a@null.test", kSmallMessage, "该域名不接收邮件", false},        // "MX 0 ."
        // No connection: the network or the exchanger may come back.
        {"a@noaddr.test", kSmallMessage, "无法连接对方服务器", true},   // exchanger without an address
        {"a@refused.test", kSmallMessage, "无法连接对方服务器", true},  // nothing listens
        // The server's own words; a 4xx waits.
        {"a@greet554.test", kSmallMessage, "554 5.3.2 No service here\r\n", false},
        {"a@refuse.test", kSmallMessage, "550 5.1.1 <a@refuse.test>: Recipient address rejected\r\n", false},
        {"a@rcpt251.test", kSmallMessage, "251 2.1.5 User not local; will forward\r\n", false},
        {"a@helo25.test", kSmallMessage, "25\r\n", false},
        {"a@tempfail.test", kSmallMessage, "451 4.3.0 Try again later\r\n", true},
        {"a@grey.test", kSmallMessage,
         "450 4.2.0 <a@grey.test>: Recipient address rejected: Greylisted, try again later\r\n", true},
        // The backup (20) is tried after the primary (10): its words are the last.
        {"a@bothfail.test", kSmallMessage, "554 5.3.2 No service here\r\n", false},
        // Silence or a broken connection.
        {"a@silent.test", kSmallMessage, "等待服务器响应超时", false},
        {"a@cut.test", big, "服务器意外中断连接", false},
        // Delivered, among them replies of several lines and in several segments.
        {"a@accept.test", kSmallMessage, "delivered", false},
        {"a@split.test", kSmallMessage, "delivered", false},
        {"a@multiline.test", kSmallMessage, "delivered", false},
        {"a@alias.test", kSmallMessage, "delivered", false},
        {"a@order.test", kSmallMessage, "delivered", false},
        {"b@grey.test", kSmallMessage, "delivered", false},  // greylisted before, by the first case
    };
    for (const auto& c : cases) {
        if (c.address == "b@grey.test") Outcome("b@grey.test");  // the first try, which the server refuses
        EXPECT_EQ(Outcome(c.address, c.message), c.outcome) << c.address;
        EXPECT_EQ(lastWaits, c.waits) << c.address;
    }
}

TEST_F(NetDelivery, ExchangersByPreferenceEveryAddressIpv6First) {
    literalGreeting = true;  // the greeting then shows the family of the connection
    const struct {
        std::string address;
        std::string outcome;
        std::string server;     // the one that got the mail
        std::string notServer;  // one that must never hear of it
    } cases[] = {
        {"a@order.test", "delivered", "127.0.0.3", "127.0.0.4"},      // preference 10 listed second
        {"b@backup.test", "delivered", "127.0.0.2", ""},              // primary unreachable
        {"c@aonly.test", "delivered", "127.0.0.2", ""},               // no MX: its own exchanger
        {"d@v6.test", "delivered", "fd00::3", ""},                    // IPv6 only
        {"e@both.test", "delivered", "::1", "127.0.0.3"},             // IPv6 before IPv4
        {"f@v6down.test", "delivered", "127.0.0.2", ""},              // IPv4 after IPv6 refused
        {"g@twoaddr.test", "delivered", "127.0.0.2", "127.0.0.3"},    // second address before backup
        {"h@null.test", "该域名不接收邮件", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Outcome(c.address), c.outcome) << c.address;
        if (!c.server.empty()) {
            EXPECT_TRUE(ServerSaw(c.server, c.address)) << c.address;
        }
        if (!c.notServer.empty()) {
            EXPECT_FALSE(ServerSaw(c.notServer, c.address, 0)) << c.address;
        }
    }
    // IPv6 connections greet with the IPv6 address literal.
    ASSERT_TRUE(world->WaitForFile("fd00::3/1.done"));
    EXPECT_EQ(world->Read("fd00::3/1.raw").substr(0, 21), "EHLO [IPv6:fd00::3]\r\n");
    // A null MX is the answer: no exchanger is looked up.
    for (const std::string& q : world->DnsQueries()) EXPECT_EQ(q.find("null.test A"), std::string::npos) << q;
}

TEST_F(NetDelivery, EqualPreferencesShareTheMail) {
    // Over twenty sends, both exchangers of equal preference get some: 2 * 0.5^20 that this fails by luck.
    for (int i = 0; i < 20; ++i) EXPECT_EQ(Outcome("r" + std::to_string(i) + "@equal.test"), "delivered");
    std::error_code ec;
    EXPECT_TRUE(std::filesystem::exists(world->Path("127.0.0.2/1.eml"), ec));
    EXPECT_TRUE(std::filesystem::exists(world->Path("127.0.0.10/1.raw"), ec));
}

TEST_F(NetDelivery, WaitsThatEnd) {
    // The program's 10-second wait for each piece, with short limits for the whole reply: a server that
    // drips its greeting never restarts the wait for ever, and one silent after the end of data ends too.
    // A server that took the mail and never answers QUIT costs its real 2 seconds at most.
    const struct {
        std::string address;
        std::string outcome;
    } cases[] = {
        {"a@drip.test", "等待服务器响应超时"},
        {"a@mute.test", "等待服务器响应超时"},
        {"a@mutequit.test", ""},
    };
    for (const auto& c : cases) {
        RecordingObserver observer;
        std::atomic<bool> cancel{false};
        DeliveryRoute route;
        route.limits.replyTimeoutMs = 2500;
        route.limits.endDataTimeoutMs = 1500;
        const auto started = std::chrono::steady_clock::now();
        DeliveryJob job({std::make_shared<const std::string>(kSmallMessage), {c.address}, kSender, std::nullopt},
                        observer, cancel, route);
        job.RunDelivery();
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_LT(took, std::chrono::seconds(6)) << c.address;
        if (c.outcome.empty()) {
            EXPECT_TRUE(job.Failures().empty()) << c.address;
            continue;
        }
        ASSERT_EQ(job.Failures().size(), 1u) << c.address;
        EXPECT_EQ(job.Failures()[0].szReason, c.outcome) << c.address;
    }
}

TEST_F(NetDelivery, ConnectsThatTimeOutOnTwoDomainsShortenTheRest) {
    RecordingObserver observer;
    std::atomic<bool> cancel{false};
    std::vector<std::chrono::steady_clock::time_point> connects;
    observer.onLine = [&](const std::string& line) {
        if (line == "正在建立连接...") connects.push_back(std::chrono::steady_clock::now());
    };
    DeliveryRoute route;
    route.limits.connectTimeoutMs = 1500;
    route.blockedConnectTimeoutMs = 200;
    DeliveryJob job({std::make_shared<const std::string>(kSmallMessage),
                     {"a@drop1.test", "b@drop1.test", "c@drop2.test", "d@drop3.test", "e@gone.test"},
                     kSender,
                     std::nullopt},
                    observer, cancel, route);
    const auto started = std::chrono::steady_clock::now();
    job.RunDelivery();
    const auto ended = std::chrono::steady_clock::now();
    ASSERT_EQ(connects.size(), 4u);
    using std::chrono::milliseconds;
    // One domain twice is not yet two domains: the second of drop1 waits the full time.
    EXPECT_GE(connects[2] - connects[1], milliseconds(1400));
    // drop3's two addresses (IPv6, IPv4) take the short wait each.
    EXPECT_LT(ended - connects[3], milliseconds(1000));
    EXPECT_GE(ended - started, milliseconds(4400));
    EXPECT_TRUE(job.PortBlocked());
    const DeliveryReport report = BuildReport(job.Failures(), job.PortBlocked());
    EXPECT_EQ(report.text,
              "以下邮件地址不能正确投递\r\n\r\n"
              "e@gone.test\r\n失败原因：无法获得邮件服务器\r\n\r\n"
              "以下邮件地址暂时未能投递，将自动重试：\r\n\r\n"
              "a@drop1.test\r\n失败原因：无法连接对方服务器\r\n\r\n"
              "b@drop1.test\r\n失败原因：无法连接对方服务器\r\n\r\n"
              "c@drop2.test\r\n失败原因：无法连接对方服务器\r\n\r\n"
              "d@drop3.test\r\n失败原因：无法连接对方服务器\r\n\r\n"
              "无法连接任何邮件服务器的25端口，你的网络可能封锁了该端口。可以改为通过你的邮箱服务商的发信服务器发送。");
    // One server that answers, even with a refusal, shows that port 25 is open.
    RecordingObserver quiet;
    DeliveryJob answered({std::make_shared<const std::string>(kSmallMessage), {"a@refused.test", "b@refuse.test"},
                          kSender, std::nullopt},
                         quiet, cancel, route);
    answered.RunDelivery();
    EXPECT_FALSE(answered.PortBlocked());
}

TEST_F(NetDelivery, AddressesWithoutDomainAskNoDnsAndTheSecondAtStaysInTheDomain) {
    Outcome("nobody.example");
    EXPECT_TRUE(world->DnsQueries().empty());
    Outcome("a@b@accept.test");
    EXPECT_EQ(world->DnsQueries(), std::vector<std::string>{"b@accept.test MX"});
}

TEST_F(NetDelivery, AnExchangerThatAcceptsEndsTheWalk) {
    // order.test: the accepting exchanger has the lower preference; the other one is never asked for.
    EXPECT_EQ(Outcome("b@order.test"), "delivered");
    ASSERT_TRUE(world->WaitForFile("127.0.0.3/1.done"));
    EXPECT_NE(world->Read("127.0.0.3/1.raw").find("RCPT TO:<b@order.test>"), std::string::npos);
    // firstwins.test: the refusing one has the lower preference, so the other one gets the mail after it.
    EXPECT_EQ(Outcome("c@firstwins.test"), "delivered");
    const auto after = world->DnsQueries();
    EXPECT_EQ(std::count(after.begin(), after.end(), "mx.refuse.test A"), 1);
}

TEST_F(NetDelivery, LargeWritesStillMoveTheProgressPer2048BytesAndArriveWhole) {
    // A server sees only the byte stream: every byte in order and the end-of-data line after the last.
    // The user still sees the count move per 2048 bytes, always the count sent before the next part.
    RecordingObserver observer;
    std::atomic<bool> cancel{false};
    std::string message;
    for (int i = 0; message.size() < 200 * 1024; ++i) message += "line " + std::to_string(i) + "\r\n";
    EXPECT_TRUE(Deliver({"a@record.test"}, message, observer, cancel).empty());
    ASSERT_TRUE(world->WaitForFile("127.0.0.3/1.done"));
    const std::string raw = world->Read("127.0.0.3/1.raw");
    EXPECT_EQ(raw.substr(raw.find("DATA\r\n") + 6), message + "\r\n.\r\nQUIT\r\n");
    std::vector<std::string> counts;
    for (const std::string& line : observer.lines)
        if (StartsWith(line, "已经传输数据")) counts.push_back(line);
    ASSERT_EQ(counts.size(), (message.size() + 2047) / 2048);
    EXPECT_EQ(counts[1], "已经传输数据2048字节，共" + std::to_string(message.size()) + "字节");
    EXPECT_EQ(counts.back(), "已经传输数据" + std::to_string((counts.size() - 1) * 2048) + "字节，共" +
                                 std::to_string(message.size()) + "字节");
}

TEST_F(NetDelivery, MessageArrivesByteForByteWithTheEnvelopeOfThisHost) {
    // 8-bit text, a line of a single ".", lines that begin with dots, and no line end at the very end.
    std::string message = "From: =?gb2312?B?1eLKx9K7uPa2zMrU?= <me@here.test>\r\nSubject: test\r\n\r\n";
    for (int c = 0x80; c <= 0xff; ++c) message += static_cast<char>(c);
    message += "\r\n.\r\n..two\r\n.leading\r\nlast line";
    EXPECT_EQ(Outcome("someone@accept.test", message), "delivered");
    ASSERT_TRUE(world->WaitForFile("127.0.0.2/1.env"));
    EXPECT_EQ(world->Read("127.0.0.2/1.eml"), message + "\r\n");  // the end-of-data line ends the last line
    // Greeted with a name a server can check, and bounces go to the sender, not to a made-up address.
    EXPECT_EQ(world->Read("127.0.0.2/1.env"), "{\"helo\": \"" + GreetingName("127.0.0.2") +
                                                  "\", \"from\": \"" + kSender +
                                                  "\", \"to\": [\"someone@accept.test\"]}");

    // A dotted line that begins exactly where the second 2048-byte chunk does.
    std::string chunked = "Subject: chunks\r\n\r\n";
    while (chunked.size() + 100 < 2046) chunked += std::string(98, 'c') + "\r\n";
    chunked += std::string(2046 - chunked.size(), 'c') + "\r\n.starts the second chunk\r\n";
    ASSERT_EQ(chunked[2048], '.');
    EXPECT_EQ(Outcome("someone@accept.test", chunked), "delivered");
    ASSERT_TRUE(world->WaitForFile("127.0.0.2/2.env"));
    EXPECT_EQ(world->Read("127.0.0.2/2.eml"), chunked + "\r\n");
}

TEST_F(NetDelivery, WholeConversationAsTheServerSawIt) {
    const std::string message = "Subject: x\r\n\r\nbody\r\n";
    EXPECT_EQ(Outcome("a@record.test", message), "delivered");
    ASSERT_TRUE(world->WaitForFile("127.0.0.3/1.done"));
    EXPECT_EQ(world->Read("127.0.0.3/1.raw"), "EHLO " + GreetingName("127.0.0.3") + "\r\nMAIL FROM:<" +
                                                  kSender + ">\r\nRCPT TO:<a@record.test>\r\nDATA\r\n" +
                                                  message + "\r\n.\r\nQUIT\r\n");
}

TEST_F(NetDelivery, CommandArgumentsThatCannotBeSentNeverReachTheServer) {
    EXPECT_EQ(Outcome("x>\r\nRSET\r\nNOOP\r\nRCPT TO:<x@record.test"), kReasonBadArgument);
    EXPECT_EQ(Outcome(std::string(13000, 'a') + "@record.test"), kReasonCommandTooLong);
    for (const char* conn : {"127.0.0.3/1", "127.0.0.3/2"}) {
        ASSERT_TRUE(world->WaitForFile(std::string(conn) + ".done"));
        const std::string raw = world->Read(std::string(conn) + ".raw");
        EXPECT_EQ(raw.find("RCPT"), std::string::npos) << raw;
        EXPECT_EQ(raw.find("RSET"), std::string::npos) << raw;
        EXPECT_NE(raw.find("QUIT\r\n"), std::string::npos) << raw;
    }
}

TEST_F(NetDelivery, ErrorTextIsHandedOutOnce) {
    CSmtpSession session(kShortWait);
    EXPECT_FALSE(session.Connect("mx.greet554.test"));
    EXPECT_EQ(session.GetErrorText(), "554 5.3.2 No service here\r\n");
    EXPECT_EQ(session.GetErrorText(), "服务器意外中断连接");
}

TEST_F(NetDelivery, SecondOfThreeRefusedIsTheOnlyOneReported) {
    const FailureList failures = Deliver({"a@accept.test", "b@refuse.test", "c@accept.test"});
    const DeliveryReport report = BuildReport(failures);
    EXPECT_FALSE(report.allDelivered);
    EXPECT_EQ(report.text,
              "以下邮件地址不能正确投递\r\n\r\n"
              "b@refuse.test\r\n失败原因：550 5.1.1 <b@refuse.test>: Recipient address rejected\r\n"
              "\r\n\r\n");
    ASSERT_TRUE(world->WaitForFile("127.0.0.2/2.eml"));
    EXPECT_TRUE(BuildReport(Deliver({"a@accept.test", "a@accept.test"})).allDelivered);
}

TEST_F(NetDelivery, CancelBeforeQuitAndBeforeTheNextRecipient) {
    RecordingObserver observer;
    std::atomic<bool> cancel{false};
    observer.onLine = [&](const std::string& line) {
        if (line == "正在断开连接...") cancel = true;
    };
    const FailureList failures =
        Deliver({"a@record.test", "b@record.test", "c@accept.test"}, kSmallMessage, observer, cancel);
    EXPECT_EQ(BuildReport(failures).text,
              "以下邮件地址不能正确投递\r\n\r\n"
              "b@record.test\r\n失败原因：发送已取消\r\n\r\n"
              "c@accept.test\r\n失败原因：发送已取消\r\n\r\n");
    ASSERT_TRUE(world->WaitForFile("127.0.0.3/1.done"));
    const std::string raw = world->Read("127.0.0.3/1.raw");
    EXPECT_NE(raw.find(kSmallMessage + "\r\n.\r\n"), std::string::npos);
    EXPECT_EQ(raw.find("QUIT"), std::string::npos);
    EXPECT_FALSE(world->Exists("127.0.0.3/2.raw"));
}

TEST_F(NetDelivery, CancelDuringALongTransferSendsNoEndOfDataAndNoQuit) {
    RecordingObserver observer;
    std::atomic<bool> cancel{false};
    observer.onLine = [&](const std::string& line) {
        if (StartsWith(line, "已经传输数据4096字节")) cancel = true;
    };
    const std::string message(100 * 1024, 'l');
    const FailureList failures = Deliver({"a@record.test", "b@accept.test"}, message, observer, cancel);
    EXPECT_EQ(BuildReport(failures).text,
              "以下邮件地址不能正确投递\r\n\r\n"
              "a@record.test\r\n失败原因：发送已取消\r\n\r\n"
              "b@accept.test\r\n失败原因：发送已取消\r\n\r\n");
    ASSERT_TRUE(world->WaitForFile("127.0.0.3/1.done"));
    const std::string raw = world->Read("127.0.0.3/1.raw");
    EXPECT_EQ(raw.substr(raw.find("DATA\r\n") + 6), message.substr(0, 3 * 2048));
}

TEST_F(NetDelivery, CancelDuringAShortMessageStillDeliversIt) {
    RecordingObserver observer;
    std::atomic<bool> cancel{false};
    observer.onLine = [&](const std::string& line) {
        if (StartsWith(line, "已经传输数据0字节")) cancel = true;
    };
    const std::string message(2048, 's');
    const FailureList failures = Deliver({"a@record.test", "b@accept.test"}, message, observer, cancel);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].szAddress, "b@accept.test");
    EXPECT_EQ(failures[0].szReason, "发送已取消");
    ASSERT_TRUE(world->WaitForFile("127.0.0.3/1.done"));
    const std::string raw = world->Read("127.0.0.3/1.raw");
    EXPECT_EQ(raw.substr(raw.find("DATA\r\n") + 6), message + "\r\n.\r\n");
}

TEST_F(NetDelivery, ExtensionServersHearWhatTheyShould) {
    // A server's SIZE limit below the mail, and a TLS server whose handshake breaks (the mail then goes
    // in plain text on a new connection).
    EXPECT_EQ(Outcome("a@small.test", std::string(3000, 's')),
              "邮件大小3000字节，超过服务器接受的上限1000字节，未发送");
    EXPECT_EQ(Outcome("a@badtls.test"), "delivered");
    // The oversized mail: no MAIL FROM, no data.
    ASSERT_TRUE(world->WaitForFile("127.0.0.14/1.done"));
    EXPECT_EQ(world->Read("127.0.0.14/1.raw"), "EHLO " + GreetingName("127.0.0.14") + "\r\nQUIT\r\n");
    // The broken TLS server: STARTTLS on the first connection, the mail in plain text on the second.
    ASSERT_TRUE(world->WaitForFile("127.0.0.15/2.done"));
    EXPECT_EQ(world->Read("127.0.0.15/1.raw").substr(world->Read("127.0.0.15/1.raw").find("\r\n") + 2),
              "STARTTLS\r\n");
    EXPECT_NE(world->Read("127.0.0.15/2.raw").find("\r\n.\r\nQUIT\r\n"), std::string::npos);
    EXPECT_EQ(world->Read("127.0.0.15/2.raw").find("STARTTLS"), std::string::npos);
}

TEST_F(NetDelivery, CancelEndsSilentWaitsAndExchangerWalksWithinAQuarterSecond) {
    using Clock = std::chrono::steady_clock;
    const struct {
        std::string address;
        std::string cancelAtLine;  // cancel this long after the line shows
        int afterMs;
    } cases[] = {
        {"a@silent.test", "正在建立连接...", 300},  // a server that never greets
        {"a@bothfail.test", "正在断开连接...", 0},  // between the two exchangers
    };
    for (const auto& c : cases) {
        RecordingObserver observer;
        std::atomic<bool> cancel{false};
        Clock::time_point cancelledAt{};
        std::thread canceller;
        observer.onLine = [&](const std::string& line) {
            if (line != c.cancelAtLine || canceller.joinable()) return;
            if (c.afterMs == 0) {  // at once, before the job takes its next step
                cancelledAt = Clock::now();
                cancel = true;
            }
            canceller = std::thread([&] {
                if (c.afterMs == 0) return;
                std::this_thread::sleep_for(std::chrono::milliseconds(c.afterMs));
                cancelledAt = Clock::now();
                cancel = true;
            });
        };
        DeliveryRoute route;  // the program's own 10-second waits
        route.openSession = [](const SessionOptions& options) {
            return std::make_unique<CSmtpSession>(10, options);
        };
        DeliveryJob job({std::make_shared<const std::string>(kSmallMessage),
                         {c.address, "b@accept.test"},
                         kSender,
                         std::nullopt},
                        observer, cancel, route);
        job.RunDelivery();
        const Clock::time_point ended = Clock::now();
        ASSERT_TRUE(canceller.joinable()) << c.address;
        canceller.join();
        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(ended - cancelledAt).count(), 250)
            << c.address;
        ASSERT_EQ(job.Failures().size(), 2u);
        EXPECT_EQ(job.Failures()[0].szReason, "发送已取消") << c.address;
        EXPECT_EQ(job.Failures()[1].szReason, "发送已取消") << c.address;
    }
    // The second exchanger of bothfail.test was never asked.
    EXPECT_FALSE(world->Exists("127.0.0.5/1.raw"));
}

TEST_F(NetDelivery, RelayWithTlsAndLogin) {
    const std::string ca = world->Path("relay-ca.pem");
    const struct {
        const char* what;
        int port;
        std::string password;
        bool trustTestAuthority;
        std::string outcome;  // "delivered", or the reason both recipients get
    } cases[] = {
        {"STARTTLS on 587", 587, "right horse", true, "delivered"},
        {"TLS from the start on 465", 465, "right horse", true, "delivered"},
        {"wrong password", 587, "wrong horse", true, "发件服务器 relay.test:587 拒绝登录：535 5.7.8 Authentication credentials invalid\r\n"},
        {"certificate nobody vouches for", 587, "right horse", false, "服务器证书未通过验证："},
        {"same on 465", 465, "right horse", false, "服务器证书未通过验证："},
    };
    int stored = 0;
    for (const auto& c : cases) {
        if (c.trustTestAuthority)
            ::setenv("SSL_CERT_FILE", ca.c_str(), 1);
        else
            ::unsetenv("SSL_CERT_FILE");
        RecordingObserver observer;
        std::atomic<bool> cancel{false};
        DeliveryRequest request{std::make_shared<const std::string>(kSmallMessage),
                                {"x@one.test", "y@two.test"},
                                kSender,
                                RelaySettings{"relay.test", c.port, "sender", c.password, {}}};
        DeliveryRoute route;
        route.openSession = [](const SessionOptions& options) {
            return std::make_unique<CSmtpSession>(kShortWait, options);
        };
        DeliveryJob job(std::move(request), observer, cancel, route);
        job.RunDelivery();
        ::unsetenv("SSL_CERT_FILE");
        if (c.outcome == "delivered") {
            EXPECT_TRUE(job.Failures().empty()) << c.what << ": " << job.Failures()[0].szReason;
            // One transaction for both recipients.
            const std::string env = "127.0.0.16/" + std::to_string(++stored) + ".env";
            ASSERT_TRUE(world->WaitForFile(env)) << c.what;
            EXPECT_EQ(world->Read(env), "{\"helo\": \"" + GreetingName("127.0.0.16") + "\", \"from\": \"" +
                                            kSender + "\", \"to\": [\"x@one.test\", \"y@two.test\"]}")
                << c.what;
            continue;
        }
        ASSERT_EQ(job.Failures().size(), 2u) << c.what;
        for (const DeliveryFailure& f : job.Failures())
            EXPECT_TRUE(StartsWith(f.szReason, c.outcome)) << c.what << ": " << f.szReason;
    }
}

TEST_F(NetDelivery, TheOutboxRetriesThroughTheRelayTheMailFirstWent) {
    // The first send reached neither exchanger (greylisted) nor relay; the retry goes by the stored route
    // and reads the password where the send had it, here the environment.
    Outbox outbox(world->Path("outbox"));
    const FailureList waiting{{"x@one.test", "451 later\r\n", FailureKind::Temporary},
                              {"y@two.test", "451 later\r\n", FailureKind::Temporary}};
    ASSERT_EQ(outbox.Keep(kSmallMessage, kSender, {"relay.test", 587, "sender", "environment"}, waiting, 1000), "");
    ASSERT_EQ(outbox.Keep(kSmallMessage, kSender, {}, {{"g@grey.test", "450 grey\r\n", FailureKind::Temporary}}, 1000),
              "");
    ::setenv("SSL_CERT_FILE", world->Path("relay-ca.pem").c_str(), 1);
    ::setenv(kRelayPasswordVariable, "right horse", 1);
    RecordingObserver observer;
    std::atomic<bool> cancel{false};
    DeliveryRoute route;
    route.openSession = [](const SessionOptions& options) {
        return std::make_unique<CSmtpSession>(kShortWait, options);
    };
    const RetryOutcome first = outbox.Retry(2000, true, observer, cancel, route);
    ::unsetenv(kRelayPasswordVariable);
    // The relay took both in one transaction; the greylisting exchanger refused its first try.
    EXPECT_EQ(first.tried, 3u);
    EXPECT_EQ(first.delivered, 2u);
    ASSERT_TRUE(world->WaitForFile("127.0.0.16/1.env"));
    EXPECT_NE(world->Read("127.0.0.16/1.env").find("[\"x@one.test\", \"y@two.test\"]"), std::string::npos);
    ASSERT_EQ(outbox.List().size(), 1u);
    EXPECT_EQ(outbox.List()[0].tries, 2);
    // Its next try, a minute later, delivers it; nothing is left.
    const RetryOutcome second = outbox.Retry(outbox.List()[0].nextTry, true, observer, cancel, route);
    ::unsetenv("SSL_CERT_FILE");
    EXPECT_EQ(second.delivered, 1u);
    EXPECT_TRUE(outbox.List().empty());
    EXPECT_FALSE(world->Exists("127.0.0.16/2.env"));
}

// A mail sent through a sending account waits with the account's keyring item named, never its password;
// a retry asks the keyring again. While the keyring cannot give the password the recipient keeps waiting,
// its reason saying why; once it can, the same server with the account's TLS mode takes the mail.
TEST_F(NetDelivery, TheOutboxReadsAnAccountsPasswordFromTheKeyringAgain) {
    const struct {
        const char* what;
        bool haveReader;
        std::optional<std::string> password;  // what the keyring gives
        std::string reason;                   // empty: delivered
    } cases[] = {
        {"no keyring reader", false, std::nullopt,
         "无法从密钥环取得发件账户 me@account.test（relay.test:465）的密码：本程序此时无法读取密钥环"},
        {"nothing stored", true, std::nullopt,
         "无法从密钥环取得发件账户 me@account.test（relay.test:465）的密码：no item"},
        {"stored", true, std::string("right horse"), ""},
    };
    ::setenv("SSL_CERT_FILE", world->Path("relay-ca.pem").c_str(), 1);
    DeliveryRoute route;
    route.openSession = [](const SessionOptions& options) {
        return std::make_unique<CSmtpSession>(kShortWait, options);
    };
    int n = 0;
    for (const auto& c : cases) {
        Outbox outbox(world->Path("outbox-" + std::to_string(++n)));
        const OutboxRoute account{"relay.test", 465, "sender", "keyring:me@account.test", TlsMode::Implicit};
        ASSERT_EQ(outbox.Keep(kSmallMessage, kSender, account,
                              {{"x@one.test", "无法连接发件服务器 relay.test:465", FailureKind::Temporary}}, 1000),
                  "")
            << c.what;
        ASSERT_EQ(outbox.List().size(), 1u);
        EXPECT_EQ(outbox.List()[0].route.passwordSource, "keyring:me@account.test") << c.what;
        EXPECT_EQ(outbox.List()[0].route.tlsMode, std::optional<TlsMode>(TlsMode::Implicit)) << c.what;
        std::vector<std::string> asked;
        if (c.haveReader)
            outbox.SetKeyringReader([&](const std::string& address, const std::string& host, int port, std::string* why) {
                asked.push_back(address + " " + host + ":" + std::to_string(port));
                if (!c.password) *why = "no item";
                return c.password;
            });
        RecordingObserver observer;
        std::atomic<bool> cancel{false};
        const RetryOutcome outcome = outbox.Retry(2000, true, observer, cancel, route);
        EXPECT_EQ(outcome.tried, 1u) << c.what;
        if (c.haveReader) {
            EXPECT_EQ(asked, std::vector<std::string>{"me@account.test relay.test:465"}) << c.what;
        }
        if (c.reason.empty()) {
            EXPECT_EQ(outcome.delivered, 1u) << c.what;
            EXPECT_TRUE(outbox.List().empty()) << c.what;
            ASSERT_TRUE(world->WaitForFile("127.0.0.16/1.env")) << c.what;
            continue;
        }
        EXPECT_EQ(outcome.delivered, 0u) << c.what;
        ASSERT_EQ(outcome.failures.size(), 1u) << c.what;
        EXPECT_EQ(outcome.failures[0].kind, FailureKind::Temporary) << c.what;
        ASSERT_EQ(outbox.List().size(), 1u) << c.what;
        EXPECT_EQ(outbox.List()[0].tries, 2) << c.what;
        EXPECT_EQ(outbox.List()[0].lastReason, c.reason) << c.what;
    }
    ::unsetenv("SSL_CERT_FILE");
}

TEST_F(NetDelivery, WithoutAnyNameServerTheLookupIsMadeTwiceAndAsksNobody) {
    // The resolver file of this namespace, replaced for this process only (ip netns exec gave it a mount
    // namespace of its own).
    const std::string empty = world->Path("resolv.conf.empty");
    std::ofstream(empty) << "search example.org\noptions timeout:1\n";
    ASSERT_EQ(::mount(empty.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr), 0);
    CMxResolver real;
    int lookups = 0;
    CMxResolver counting([&](const std::string& domain) {
        ++lookups;
        return real.QueryMx(domain);
    });
    const DeliveryResult result = counting.DeliverToRecipient(
        "a@accept.test", [](const std::string&, const std::string&) { return DeliveryResult{}; });
    ::umount2("/etc/resolv.conf", 0);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->szReason, "无法获得邮件服务器");
    EXPECT_EQ(lookups, 2);
    EXPECT_TRUE(world->DnsQueries().empty());
    EXPECT_EQ(Outcome("a@accept.test"), "delivered");  // and with the file back, all is well again
}

}  // namespace
}  // namespace vox
