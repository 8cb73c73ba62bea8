// The delivery job's own logic against scripted exchangers: status lines, bar movements, chunking, the
// cancel points and the report.

#include "delivery/delivery_job.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <map>

#include "delivery/mx_resolver.h"
#include "fake_conversation.h"
#include "recording_observer.h"

namespace vox {
namespace {

using test::ConversationLog;
using test::FakeConversation;
using test::RecordingObserver;

struct Script {
    std::string failAt;  // "Connect", "RcptTo", "SendRaw" ...; empty: accepts
    std::string reply;   // the refusal text it keeps
    std::uint64_t sizeLimit = 0;
    bool tlsFailed = false;
};

DeliveryRequest Request(const std::string& message, std::vector<std::string> recipients) {
    return {std::make_shared<const std::string>(message), std::move(recipients), "me@here.test",
            std::nullopt};
}

// A small world: domains with their exchangers, and one script per attempt, taken in order.
struct World {
    std::map<std::string, std::vector<std::string>> mx;
    std::deque<Script> scripts;
    ConversationLog log;
    CMxResolver resolver{[this](const std::string& domain) {
        auto it = mx.find(domain);
        if (it == mx.end()) return MxAnswer{MxStatus::Failed, {}};
        return MxAnswer{MxStatus::Ok, it->second};
    }};

    DeliveryRoute Route() {
        DeliveryRoute route;
        route.deliverToRecipient = [this](const std::string& address, const ExchangerAttempt& attempt) {
            return resolver.DeliverToRecipient(address, attempt);
        };
        route.openSession = [this](const SessionOptions& options) {
            log.calls.push_back(options.tls == TlsMode::Off ? "plain" : "tls");
            Script s;
            if (!scripts.empty()) {
                s = scripts.front();
                scripts.pop_front();
            }
            auto conversation = std::make_unique<FakeConversation>(log, s.failAt, s.reply);
            conversation->sizeLimit = s.sizeLimit;
            conversation->tlsFailed = s.tlsFailed;
            return std::unique_ptr<SmtpConversation>(std::move(conversation));
        };
        route.helloName = "pc";
        return route;
    }
};

std::vector<std::string> Calls(const ConversationLog& log, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& c : log.calls)
        if (c.rfind(prefix, 0) == 0) out.push_back(c);
    return out;
}

TEST(DeliveryJob, FiveThousandBytesGoOutAsThreeChunksWithEveryLineAndBarMove) {
    World world;
    world.mx["b.test"] = {"mx.b.test"};
    const std::string message(5000, 'x');
    const std::vector<std::string> recipients{"a@b.test"};
    RecordingObserver observer;
    std::atomic<bool> cancel{false};
    DeliveryJob job(Request(message, recipients), observer, cancel, world.Route());
    EXPECT_EQ(DeliveryStepRange(message.size()), 10);
    job.RunDelivery();

    EXPECT_TRUE(job.Failures().empty());
    EXPECT_EQ(world.log.calls,
              (std::vector<std::string>{"tls", "Connect mx.b.test", "Greet pc", "MailFrom me@here.test",
                                        "RcptTo a@b.test", "Data", "SendRaw 5000", "EndData", "Quit"}));
    EXPECT_EQ(world.log.data, message);
    EXPECT_EQ(observer.events, (std::vector<std::string>{"recipient a@b.test",
                                                         "recipient-bar",
                                                         "bar=0",
                                                         "line 正在建立连接...",
                                                         "step",
                                                         "line 正在标示自己...",
                                                         "step",
                                                         "line 正在指定发件人...",
                                                         "step",
                                                         "line 正在指定收件人...",
                                                         "step",
                                                         "line 开始传输数据...",
                                                         "step",
                                                         "step",
                                                         "line 已经传输数据0字节，共5000字节",
                                                         "step",
                                                         "line 已经传输数据2048字节，共5000字节",
                                                         "step",
                                                         "line 已经传输数据4096字节，共5000字节",
                                                         "bar=9",
                                                         "line 结束数据传输...",
                                                         "bar=10",
                                                         "line 正在断开连接..."}));
}

TEST(DeliveryJob, ChunkBoundaries) {
    const struct {
        std::size_t length;
        std::vector<std::string> chunks;
    } cases[] = {
        // Large writes: the bar's 2048-byte steps are not the writes' sizes.
        {4096, {"SendRaw 4096"}},
        {65536, {"SendRaw 65536"}},
        {65537, {"SendRaw 65536", "SendRaw 1"}},
        {3 * 65536 + 10, {"SendRaw 65536", "SendRaw 65536", "SendRaw 65536", "SendRaw 10"}},
        {1, {"SendRaw 1"}},
    };
    for (const auto& c : cases) {
        World world;
        world.mx["b.test"] = {"mx.b.test"};
        const std::string message(c.length, 'y');
        const std::vector<std::string> recipients{"a@b.test"};
        RecordingObserver observer;
        std::atomic<bool> cancel{false};
        DeliveryJob job(Request(message, recipients), observer, cancel, world.Route());
        job.RunDelivery();
        EXPECT_EQ(Calls(world.log, "SendRaw"), c.chunks) << c.length;
        EXPECT_EQ(world.log.data, message);
        EXPECT_TRUE(job.Failures().empty());
    }
}

TEST(DeliveryJob, FailedStepsGiveTheirReasonAndStopTheConversationWhereTheyShould) {
    const struct {
        Script script;
        std::string reason;
        bool quit;
        std::string lastCall;
    } cases[] = {
        {{"Connect", "无法连接对方服务器"}, "无法连接对方服务器", false, "Connect mx.b.test"},
        {{"Greet", "501 no\r\n"}, "501 no\r\n", true, "Quit"},
        {{"RcptTo", "550 no such user\r\n"}, "550 no such user\r\n", true, "Quit"},
        {{"Data", ""}, "服务器意外中断连接", true, "Quit"},
        {{"SendRaw", ""}, "服务器意外中断连接", true, "Quit"},
        {{"EndData", "451 try later\r\n"}, "451 try later\r\n", true, "Quit"},
        // A server whose SIZE limit is below the mail gets no data at all.
        {{"", "", 2999}, "邮件大小3000字节，超过服务器接受的上限2999字节，未发送", true, "Quit"},
    };
    for (const auto& c : cases) {
        World world;
        world.mx["b.test"] = {"mx.b.test"};
        world.scripts = {c.script};
        const std::string message(3000, 'z');
        const std::vector<std::string> recipients{"a@b.test"};
        RecordingObserver observer;
        std::atomic<bool> cancel{false};
        DeliveryJob job(Request(message, recipients), observer, cancel, world.Route());
        job.RunDelivery();
        ASSERT_EQ(job.Failures().size(), 1u) << c.script.failAt;
        EXPECT_EQ(job.Failures()[0].szAddress, "a@b.test");
        EXPECT_EQ(job.Failures()[0].szReason, c.reason) << c.script.failAt;
        EXPECT_EQ(world.log.calls.back(), c.lastCall) << c.script.failAt;
        EXPECT_EQ(Calls(world.log, "EndData").empty(), c.script.failAt != "EndData") << c.script.failAt;
        if (c.script.sizeLimit != 0) {
            EXPECT_TRUE(Calls(world.log, "MailFrom").empty());
        }
        // A failed connect shows no disconnect line; every other failure does.
        EXPECT_EQ(observer.lines.back() == "正在断开连接...", c.quit) << c.script.failAt;
    }
}

TEST(DeliveryJob, BrokenTlsIsRetriedOnceInPlainOnANewConnection) {
    const struct {
        std::deque<Script> scripts;
        std::vector<std::string> opened;  // how each conversation was opened, in order
        bool delivered;
    } cases[] = {
        {{{"Greet", "", 0, true}, {}}, {"tls", "plain"}, true},
        // Refused in plain too: the next exchanger gets its own TLS try.
        {{{"Greet", "", 0, true}, {"RcptTo", "550 no\r\n"}, {}}, {"tls", "plain", "tls"}, true},
        // A refusal that is not about TLS is not retried.
        {{{"Greet", "554 go away\r\n"}, {}}, {"tls", "tls"}, true},
        {{{"Greet", "", 0, true}, {"Greet", "", 0, true}, {"Greet", "", 0, true}, {"Greet", "", 0, true}},
         {"tls", "plain", "tls", "plain"},
         false},
    };
    for (const auto& c : cases) {
        World world;
        world.mx["b.test"] = {"mx1.b.test", "mx2.b.test"};
        world.scripts = c.scripts;
        RecordingObserver observer;
        std::atomic<bool> cancel{false};
        DeliveryJob job(Request("m", {"a@b.test"}), observer, cancel, world.Route());
        job.RunDelivery();
        std::vector<std::string> opened;
        for (const auto& call : world.log.calls)
            if (call == "tls" || call == "plain") opened.push_back(call);
        EXPECT_EQ(opened, c.opened);
        EXPECT_EQ(job.Failures().empty(), c.delivered);
    }
}

TEST(DeliveryJob, CancelBetweenExchangersBeginsNoFurtherOne) {
    World world;
    world.mx["b.test"] = {"mx1.b.test", "mx2.b.test"};
    world.scripts = {{"RcptTo", "550 no\r\n"}, {}};
    RecordingObserver observer;
    std::atomic<bool> cancel{false};
    observer.onLine = [&](const std::string& line) {
        if (line == "正在断开连接...") cancel = true;
    };
    DeliveryJob job(Request("m", {"a@b.test", "c@b.test"}), observer, cancel, world.Route());
    job.RunDelivery();
    EXPECT_EQ(Calls(world.log, "Connect"), std::vector<std::string>{"Connect mx1.b.test"});
    ASSERT_EQ(job.Failures().size(), 2u);
    EXPECT_EQ(job.Failures()[0].szReason, "发送已取消");
    EXPECT_EQ(job.Failures()[1].szReason, "发送已取消");
}

TEST(DeliveryJob, RelayTakesEveryRecipientInOneTransaction) {
    const struct {
        Script script;
        std::vector<std::string> failures;  // "address reason"
    } cases[] = {
        {{}, {}},
        {{"RcptTo", "550 5.1.1 unknown\r\n"},
         {"a@b.test 550 5.1.1 unknown\r\n", "c@d.test 550 5.1.1 unknown\r\n",
          "e@f.test 550 5.1.1 unknown\r\n"}},
        {{"Greet", "535 5.7.8 bad credentials\r\n"},
         {"a@b.test 535 5.7.8 bad credentials\r\n", "c@d.test 535 5.7.8 bad credentials\r\n",
          "e@f.test 535 5.7.8 bad credentials\r\n"}},
        {{"EndData", "554 5.7.1 spam\r\n"},
         {"a@b.test 554 5.7.1 spam\r\n", "c@d.test 554 5.7.1 spam\r\n", "e@f.test 554 5.7.1 spam\r\n"}},
        // The second of three refused: the report keeps the list's order.
        {{"RcptTo#2", "550 5.1.1 unknown\r\n"}, {"c@d.test 550 5.1.1 unknown\r\n"}},
        {{"RcptTo#1", "550 5.1.1 unknown\r\n"}, {"a@b.test 550 5.1.1 unknown\r\n"}},
    };
    for (const auto& c : cases) {
        World world;
        world.scripts = {c.script};
        DeliveryRoute route = world.Route();
        SessionOptions seen;
        auto open = route.openSession;
        route.openSession = [&](const SessionOptions& options) {
            seen = options;
            return open(options);
        };
        RecordingObserver observer;
        std::atomic<bool> cancel{false};
        DeliveryRequest request = Request("m", {"a@b.test", "c@d.test", "e@f.test"});
        request.relay = RelaySettings{"relay.test", 465, "me", "pw", {}};
        DeliveryJob job(std::move(request), observer, cancel, route);
        job.RunDelivery();
        EXPECT_EQ(Calls(world.log, "Connect"), std::vector<std::string>{"Connect relay.test"});
        EXPECT_EQ(seen.port, 465);
        EXPECT_EQ(seen.tls, TlsMode::Implicit);
        EXPECT_TRUE(seen.verifyPeer);
        EXPECT_EQ(seen.user, "me");
        std::vector<std::string> failures;
        for (const auto& f : job.Failures()) failures.push_back(f.szAddress + " " + f.szReason);
        EXPECT_EQ(failures, c.failures) << c.script.failAt;
        // Data goes once as soon as the relay took any recipient.
        const bool noneTaken = c.script.failAt == "RcptTo" || c.script.failAt == "Greet";
        EXPECT_EQ(Calls(world.log, "Data").size(), noneTaken ? 0u : 1u) << c.script.failAt;
    }
}

TEST(DeliveryJob, EmptyListAndSameAddressTwice) {
    World world;
    world.mx["b.test"] = {"mx.b.test"};
    RecordingObserver observer;
    std::atomic<bool> cancel{false};
    const std::vector<std::string> none;
    DeliveryJob empty(Request("m", none), observer, cancel, world.Route());
    empty.RunDelivery();
    EXPECT_TRUE(observer.events.empty());
    EXPECT_EQ(BuildReport(empty.Failures()).text, "发送完毕");
    EXPECT_TRUE(BuildReport(empty.Failures()).allDelivered);

    const std::vector<std::string> twice{"a@b.test", "a@b.test"};
    DeliveryJob job(Request("m", twice), observer, cancel, world.Route());
    job.RunDelivery();
    EXPECT_EQ(Calls(world.log, "EndData").size(), 2u);
}

TEST(DeliveryJob, StepBarContinuesAcrossExchangersOfOneRecipient) {
    World world;
    world.mx["b.test"] = {"mx1.b.test", "mx2.b.test"};
    world.scripts = {{"RcptTo", "550 no\r\n"}, {}};
    const std::vector<std::string> recipients{"a@b.test"};
    RecordingObserver observer;
    std::atomic<bool> cancel{false};
    DeliveryJob job(Request("m", recipients), observer, cancel, world.Route());
    job.RunDelivery();
    EXPECT_TRUE(job.Failures().empty());
    EXPECT_EQ(std::count(observer.events.begin(), observer.events.end(), "bar=0"), 1);
}

TEST(DeliveryJob, CancelBeforeTheFirstRecipientBeginsNothing) {
    World world;
    const std::vector<std::string> recipients{"a@b.test"};
    RecordingObserver observer;
    std::atomic<bool> cancel{true};
    DeliveryJob job(Request("m", recipients), observer, cancel, world.Route());
    job.RunDelivery();
    EXPECT_TRUE(observer.events.empty());
    EXPECT_TRUE(world.log.calls.empty());
    ASSERT_EQ(job.Failures().size(), 1u);
    EXPECT_EQ(job.Failures()[0].szReason, "发送已取消");
}

TEST(DeliveryJob, ReportKeepsLongAddressesAndReasonsWhole) {
    const std::string address = std::string(200, 'a') + "@b.test";
    const std::string reason = "550 " + std::string(300, 'r') + "\r\n";
    EXPECT_EQ(BuildReport({{address, reason}}).text,
              "以下邮件地址不能正确投递\r\n\r\n" + address + "\r\n失败原因：" + reason + "\r\n\r\n");
}

}  // namespace
}  // namespace vox
