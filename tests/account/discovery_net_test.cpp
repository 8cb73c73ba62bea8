// Discovery and the DMARC look-up against real servers in a namespace of their own: the DNS stub with SRV
// and TXT records, HTTPS servers with the world's test authority (and one it did not sign), submission
// servers with and without AUTH, and servers that never answer.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "account/discovery.h"
#include "account/dmarc.h"
#include "net_world.h"

namespace vox {
namespace {

class AccountNet : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!test::NetWorld::SkipReason().empty()) return;
        s_world = new test::NetWorld(VOX_ACCOUNT_WORLD);
    }
    static void TearDownTestSuite() {
        delete s_world;
        s_world = nullptr;
    }
    void SetUp() override {
        if (const std::string why = test::NetWorld::SkipReason(); !why.empty()) GTEST_SKIP() << why;
        ASSERT_TRUE(s_world->Ready()) << s_world->Error();
    }
    static test::NetWorld* s_world;
};
test::NetWorld* AccountNet::s_world = nullptr;

using Clock = std::chrono::steady_clock;

TEST_F(AccountNet, EachSourceFindsItsServersBestFirst) {
    const struct {
        const char* address;
        std::vector<std::string> lines;
        std::string user;  // of the first candidate
    } cases[] = {
        {"me@srv.test",
         {"mail.srv.test:465 TLS (SRV _submissions._tcp.srv.test)",
          "backup.srv.test:465 TLS (SRV _submissions._tcp.srv.test)",
          "mail.srv.test:587 STARTTLS (SRV _submission._tcp.srv.test)"},  // the guess of mail. adds nothing new
         "me@srv.test"},
        {"me@dot.test", {"mail.srv.test:587 STARTTLS (SRV _submission._tcp.dot.test)"}, "me@dot.test"},
        {"me@conf.test",
         {"smtp.conf.test:465 TLS (配置文件https://autoconfig.conf.test/mail/config-v1.1.xml)"},
         "me"},
        {"me@wellknown.test",
         {"smtp.wellknown.test:587 STARTTLS (配置文件"
          "https://wellknown.test/.well-known/autoconfig/mail/config-v1.1.xml)"},
         "me"},
        {"me@hosted.test",
         {"smtp.bigmail.test:465 TLS (邮件主机bigmail.test，配置文件"
          "https://autoconfig.bigmail.test/mail/config-v1.1.xml)"},
         "me"},
        {"me@gsuite.test",
         {"smtp.gmail.com:465 TLS (已知服务商google.com，邮件主机)",
          "smtp.gmail.com:587 STARTTLS (已知服务商google.com，邮件主机)"},
         "me@gsuite.test"},
        {"me@QQ.com", {"smtp.qq.com:465 TLS (已知服务商qq.com)"}, "me@QQ.com"},
        {"me@guess.test",
         {"smtp.guess.test:465 TLS (推测，提供登录)", "smtp.guess.test:587 STARTTLS (推测，提供登录)"},
         "me@guess.test"},
        {"me@badcert.test", {}, ""},  // its file is served with a certificate nobody here trusts
        {"me@nothing.test", {}, ""},
    };
    for (const auto& c : cases) {
        DiscoveryOptions options;
        options.trustFile = s_world->Path("test-ca.pem");
        CAccountDiscovery discovery(options);
        const std::vector<Candidate> found = discovery.Run(c.address);
        std::vector<std::string> lines;
        for (const Candidate& candidate : found) lines.push_back(CandidateLine(candidate));
        EXPECT_EQ(lines, c.lines) << c.address;
        if (!found.empty()) {
            EXPECT_EQ(found[0].user, c.user) << c.address;
        }
    }
    // The address travels to the autoconfig host as the query; the unverified server saw no request.
    const std::string requests = s_world->Read("https.log");
    EXPECT_NE(requests.find("autoconfig.conf.test /mail/config-v1.1.xml?emailaddress=me%40conf.test"),
              std::string::npos) << requests;
    EXPECT_EQ(requests.find("badcert"), std::string::npos) << requests;
}

TEST_F(AccountNet, HangingSourcesDoNotHoldTheAnswerPastTheBound) {
    DiscoveryOptions options;
    options.trustFile = s_world->Path("test-ca.pem");
    std::vector<std::string> lines;
    const Clock::time_point start = Clock::now();
    {
        CAccountDiscovery discovery(options);
        for (const Candidate& candidate : discovery.Run("me@hang.test")) lines.push_back(CandidateLine(candidate));
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("discovery of hang.test (sources hanging): %.2f s\n", seconds);
        EXPECT_LT(seconds, options.bound.count() / 1000.0 + 0.5);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"smtp.hang.test:465 TLS (推测，提供登录)",
                                               "smtp.hang.test:587 STARTTLS (推测，提供登录)"}));
    // The sources that hung have let go soon after.
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), options.bound.count() / 1000.0 + 2.0);

    // A user's Cancel ends the search at once.
    std::atomic<bool> cancel{true};
    options.cancel = &cancel;
    CAccountDiscovery cancelled(options);
    const Clock::time_point asked = Clock::now();
    EXPECT_TRUE(cancelled.Run("me@hang.test").empty());
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - asked).count(), 0.25);
}

TEST_F(AccountNet, SrvDomainTakesThisLong) {
    // Measured, not judged: what a user waits for a domain that publishes SRV records.
    DiscoveryOptions options;
    options.trustFile = s_world->Path("test-ca.pem");
    const Clock::time_point start = Clock::now();
    CAccountDiscovery discovery(options);
    const std::size_t found = discovery.Run("me@srv.test").size();
    std::printf("discovery of srv.test (SRV records): %.3f s, %zu candidates\n",
                std::chrono::duration<double>(Clock::now() - start).count(), found);
    EXPECT_EQ(found, 3u);
}

TEST_F(AccountNet, DmarcPolicies) {
    const struct {
        const char* domain;
        std::optional<DmarcPolicy> policy;
    } cases[] = {
        {"reject.test", DmarcPolicy::Reject},
        {"quar.test", DmarcPolicy::Quarantine},
        {"sub.quar.test", DmarcPolicy::None},   // the organisational domain's record, its sp=
        {"relaxed.test", DmarcPolicy::None},    // another TXT record beside it is not read as one
        {"nop.test", DmarcPolicy::Unknown},     // a record without p=
        {"twice.test", std::nullopt},           // two records make none
        {"nothing.test", std::nullopt},
        {"quiet.test", std::nullopt},           // no answer: nothing, within the bound
    };
    for (const auto& c : cases) {
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(LookupDmarc(c.domain), c.policy) << c.domain;
        EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.5) << c.domain;
    }
}

}  // namespace
}  // namespace vox
