// The outbox's schedule and files, with "now" given by the test and the verdicts scripted per recipient:
// two days of retries run in a moment.

#include "delivery/outbox.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "recording_observer.h"

namespace vox {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kStart = 1'800'000'000;
constexpr std::int64_t kMinute = 60;
constexpr std::int64_t kHour = 60 * kMinute;

DeliveryFailure Temporary(const std::string& address, const std::string& reason = "450 greylisted\r\n") {
    return {address, reason, FailureKind::Temporary};
}

class OutboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::path(::testing::TempDir()) / ("vox_outbox_" + std::to_string(::getpid()));
        fs::remove_all(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    // A route whose verdicts are scripted per address (an empty script: delivered); records who was tried.
    DeliveryRoute Route() {
        DeliveryRoute route;
        route.deliverToRecipient = [this](const std::string& address, const ExchangerAttempt&) -> DeliveryResult {
            tried.push_back(address);
            auto& script = verdicts[address];
            if (script.empty()) return std::nullopt;
            DeliveryResult next = script.front();
            if (script.size() > 1) script.pop_front();
            return next;
        };
        return route;
    }

    RetryOutcome Retry(Outbox& outbox, std::int64_t now) {
        test::RecordingObserver observer;
        std::atomic<bool> cancel{false};
        tried.clear();
        return outbox.Retry(now, true, observer, cancel, Route());
    }

    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(folder, ec))
            if (e.path().filename() != ".lock") names.push_back(e.path().extension().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path folder;
    std::map<std::string, std::deque<DeliveryResult>> verdicts;
    std::vector<std::string> tried;
};

TEST_F(OutboxTest, ScheduleLikeAMailServerForTwoDays) {
    const struct {
        int tries;
        std::int64_t now;  // seconds after the first try
        std::int64_t next; // seconds after the first try; 0: given up
    } cases[] = {
        {1, 0, kMinute},
        {2, kMinute, 6 * kMinute},
        {3, 6 * kMinute, 21 * kMinute},
        {4, 21 * kMinute, 51 * kMinute},
        {5, 51 * kMinute, 111 * kMinute},
        {30, 20 * kHour, 21 * kHour},
        {60, 47 * kHour + 30 * kMinute, 48 * kHour},  // the last try falls on the end of the two days
        {61, 48 * kHour, 0},
        {2, 49 * kHour, 0},
    };
    for (const auto& c : cases) {
        const std::int64_t next = Outbox::NextTry(c.tries, kStart, kStart + c.now);
        EXPECT_EQ(next == 0 ? 0 : next - kStart, c.next) << c.tries << " tries, " << c.now;
    }
}

TEST_F(OutboxTest, OnlyWaitingRecipientsAreKeptAndEachIsSettledOnItsOwn) {
    Outbox outbox(folder);
    const FailureList failures{{"gone@x.test", "550 no such user\r\n"},
                               Temporary("grey@x.test"),
                               {"cut@x.test", kReasonCancelled},
                               Temporary("later@y.test", "无法连接对方服务器")};
    ASSERT_EQ(outbox.Keep("the mail", "me@here.test", {}, failures, kStart), "");
    EXPECT_EQ(Files(), (std::vector<std::string>{".eml", ".json", ".json"}));
    std::vector<WaitingRecipient> waiting = outbox.List();
    ASSERT_EQ(waiting.size(), 2u);
    EXPECT_EQ(waiting[0].address, "grey@x.test");
    EXPECT_EQ(waiting[0].tries, 1);
    EXPECT_EQ(waiting[0].nextTry, kStart + kMinute);
    EXPECT_EQ(waiting[1].lastReason, "无法连接对方服务器");

    // Not yet due: nothing is tried.
    EXPECT_EQ(Retry(outbox, kStart + 30).tried, 0u);
    EXPECT_TRUE(tried.empty());

    // Due: grey is delivered, later is refused for good by its server now.
    verdicts["later@y.test"] = {DeliveryFailure{"later@y.test", "550 gone now\r\n"}};
    const RetryOutcome outcome = Retry(outbox, kStart + kMinute);
    EXPECT_EQ(tried, (std::vector<std::string>{"grey@x.test", "later@y.test"}));
    EXPECT_EQ(outcome.tried, 2u);
    EXPECT_EQ(outcome.delivered, 1u);
    ASSERT_EQ(outcome.failures.size(), 1u);
    EXPECT_EQ(outcome.failures[0].kind, FailureKind::Final);
    EXPECT_EQ(BuildReport(outcome.failures).text,
              "以下邮件地址不能正确投递\r\n\r\nlater@y.test\r\n失败原因：550 gone now\r\n\r\n\r\n");
    // Nothing waits any more, so the mail itself is gone too.
    EXPECT_TRUE(Files().empty());
}

TEST_F(OutboxTest, AfterTwoDaysTheLastReasonIsReported) {
    Outbox outbox(folder);
    ASSERT_EQ(outbox.Keep("the mail", "me@here.test", {}, {Temporary("grey@x.test")}, kStart), "");
    verdicts["grey@x.test"] = {Temporary("grey@x.test", "451 still busy\r\n")};
    int rounds = 0;
    RetryOutcome last;
    for (;;) {
        const std::vector<WaitingRecipient> waiting = outbox.List();
        if (waiting.empty()) break;
        ASSERT_LT(++rounds, 100);
        last = Retry(outbox, waiting[0].nextTry);
        ASSERT_EQ(last.tried, 1u);
        const DeliveryReport report = BuildReport(last.failures);
        if (!outbox.List().empty()) {
            EXPECT_TRUE(report.someWait) << report.text;
        }
    }
    // Tries at 0, 1, 6, 21, 51 minutes, then hourly up to 47 h 51 min, and a last one at 48 h.
    EXPECT_EQ(rounds + 1, 5 + 47 + 1);
    ASSERT_EQ(last.failures.size(), 1u);
    EXPECT_EQ(last.failures[0].kind, FailureKind::Final);
    EXPECT_EQ(last.failures[0].szReason, "451 still busy\r\n");
    EXPECT_TRUE(Files().empty());
}

TEST_F(OutboxTest, StateFilesSurviveAnotherProgramAndHoldNoPassword) {
    Outbox first(folder);
    OutboxRoute relay{"relay.test", 587, "sender", "config"};
    ASSERT_EQ(first.Keep("the mail", "me@here.test", relay, {Temporary("a@x.test"), Temporary("b@x.test")}, kStart),
              "");
    // A second program (the command line beside the composer) sees the same, and drops one.
    Outbox second(folder);
    ASSERT_EQ(second.List().size(), 2u);
    EXPECT_EQ(second.List()[1].route.relayHost, "relay.test");
    EXPECT_EQ(second.List()[1].route.passwordSource, "config");
    EXPECT_EQ(second.Drop("a@x.test"), 1u);
    EXPECT_EQ(second.Drop("a@x.test"), 0u);
    ASSERT_EQ(first.List().size(), 1u);
    std::ostringstream state;
    state << std::ifstream(folder / first.List()[0].stateFile).rdbuf();
    EXPECT_EQ(state.str().find("password\""), std::string::npos) << state.str();
    EXPECT_EQ(second.Drop("b@x.test"), 1u);
    EXPECT_TRUE(Files().empty());
}

}  // namespace
}  // namespace vox
