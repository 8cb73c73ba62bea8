// The walk over a domain's exchangers, the no-name-server repeat, and reading MX answers off the wire.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "delivery/mx_resolver.h"

namespace vox {
namespace {

struct Lookups {
    std::vector<std::string> domains;
    MxAnswer answer;
    MxLookup Fn() {
        return [this](const std::string& domain) {
            domains.push_back(domain);
            return answer;
        };
    }
};

ExchangerAttempt Refusing(std::vector<std::string>& tried, const std::string& acceptingHost = "") {
    return [&tried, acceptingHost](const std::string& host, const std::string& address) -> DeliveryResult {
        tried.push_back(host);
        if (host == acceptingHost) return std::nullopt;
        return DeliveryFailure{address, "550 refused by " + host + "\r\n"};
    };
}

TEST(MxResolver, AddressesThatNeverReachAnExchanger) {
    const struct {
        const char* address;
        MxAnswer answer;
        std::vector<std::string> queried;
    } cases[] = {
        {"nobody.example", {MxStatus::Ok, {"mx.test"}}, {}},                           // no "@": no query
        {"a@b@c.test", {MxStatus::Failed, {}}, {"b@c.test"}},                        // second "@" stays
        {"a@gone.test", {MxStatus::Failed, {}}, {"gone.test"}},                      // NXDOMAIN, SERVFAIL ...
        {"a@nodata.test", {MxStatus::Ok, {}}, {"nodata.test"}},                      // answer without MX
        {"a@alone.test", {MxStatus::NoDnsServer, {}}, {"alone.test", "alone.test"}}, // asked exactly twice
    };
    for (const auto& c : cases) {
        Lookups lookups{{}, c.answer};
        CMxResolver resolver(lookups.Fn());
        std::vector<std::string> tried;
        const DeliveryResult result = resolver.DeliverToRecipient(c.address, Refusing(tried));
        ASSERT_TRUE(result) << c.address;
        EXPECT_EQ(result->szAddress, c.address);
        EXPECT_EQ(result->szReason, "无法获得邮件服务器");
        EXPECT_EQ(lookups.domains, c.queried) << c.address;
        EXPECT_TRUE(tried.empty());
    }
}

TEST(MxResolver, ExchangersAreTriedInAnswerOrderUntilOneAccepts) {
    Lookups lookups{{}, {MxStatus::Ok, {"x.test", "y.test", "z.test"}}};
    CMxResolver resolver(lookups.Fn());

    std::vector<std::string> tried;
    EXPECT_FALSE(resolver.DeliverToRecipient("a@b.test", Refusing(tried, "y.test")));
    EXPECT_EQ(tried, (std::vector<std::string>{"x.test", "y.test"}));

    tried.clear();
    const DeliveryResult all = resolver.DeliverToRecipient("a@b.test", Refusing(tried));
    ASSERT_TRUE(all);
    EXPECT_EQ(all->szReason, "550 refused by z.test\r\n");  // the last one's words
    EXPECT_EQ(tried, (std::vector<std::string>{"x.test", "y.test", "z.test"}));
}

TEST(MxResolver, TheLastExchangerThatAnsweredDecidesWhetherTheRecipientWaits) {
    auto answer = [](const std::string& reason, FailureKind kind, bool unreachable) {
        return DeliveryResult(DeliveryFailure{"a@b.test", reason, kind, unreachable});
    };
    const DeliveryResult noConnect = answer("无法连接对方服务器", FailureKind::Final, true);
    const DeliveryResult greylisted = answer("450 later\r\n", FailureKind::Temporary, false);
    const DeliveryResult refused = answer("550 no\r\n", FailureKind::Final, false);
    const struct {
        std::vector<DeliveryResult> attempts;  // one per exchanger, in order
        std::string reason;
        FailureKind kind;
        bool unreachable;
    } cases[] = {
        {{noConnect, noConnect}, "无法连接对方服务器", FailureKind::Temporary, true},
        {{greylisted, noConnect}, "450 later\r\n", FailureKind::Temporary, false},
        {{refused, noConnect}, "550 no\r\n", FailureKind::Final, false},
        {{noConnect, refused}, "550 no\r\n", FailureKind::Final, false},
        {{refused, greylisted}, "450 later\r\n", FailureKind::Temporary, false},
    };
    for (const auto& c : cases) {
        std::vector<std::string> hosts;
        for (std::size_t i = 0; i < c.attempts.size(); ++i) hosts.push_back("mx" + std::to_string(i));
        Lookups lookups{{}, {MxStatus::Ok, hosts}};
        CMxResolver resolver(lookups.Fn());
        std::size_t n = 0;
        const DeliveryResult result = resolver.DeliverToRecipient(
            "a@b.test", [&](const std::string&, const std::string&) { return c.attempts[n++]; });
        ASSERT_TRUE(result);
        EXPECT_EQ(n, c.attempts.size());
        EXPECT_EQ(result->szReason, c.reason);
        EXPECT_EQ(result->kind, c.kind) << c.reason;
        EXPECT_EQ(result->unreachable, c.unreachable) << c.reason;
    }
}

TEST(MxResolver, ReadsMxNamesOffTheWireByPreferenceSkippingOtherRecords) {
    // b.test MX: a CNAME first, then "mxa" with preference 20 before "mxb" with preference 10; the names
    // are compressed against the question.
    const unsigned char reply[] = {
        0x12, 0x34, 0x81, 0x80, 0, 1, 0, 3, 0, 0, 0, 0,                        // header
        1, 'b', 4, 't', 'e', 's', 't', 0, 0, 15, 0, 1,                          // question
        0xc0, 12, 0, 5, 0, 1, 0, 0, 0, 60, 0, 8, 1, 'c', 4, 't', 'e', 's', 't', 0,  // CNAME c.test
        0xc0, 12, 0, 15, 0, 1, 0, 0, 0, 60, 0, 8, 0, 20, 3, 'm', 'x', 'a', 0xc0, 12,
        0xc0, 12, 0, 15, 0, 1, 0, 0, 0, 60, 0, 8, 0, 10, 3, 'm', 'x', 'b', 0xc0, 12,
    };
    const MxAnswer answer = CMxResolver::ParseMxAnswer(reply, sizeof reply);
    EXPECT_EQ(answer.status, MxStatus::Ok);
    EXPECT_EQ(answer.exchangers, (std::vector<std::string>{"mxb.b.test", "mxa.b.test"}));
    EXPECT_FALSE(answer.nullMx);

    EXPECT_EQ(CMxResolver::ParseMxAnswer(reply, 5).status, MxStatus::Failed);  // cut off inside the header

    // "0 ." alone: the domain takes no mail.
    const unsigned char nullMx[] = {
        0x12, 0x34, 0x81, 0x80, 0, 1, 0, 1, 0, 0, 0, 0,  //
        1, 'b', 4, 't', 'e', 's', 't', 0, 0, 15, 0, 1,    //
        0xc0, 12, 0, 15, 0, 1, 0, 0, 0, 60, 0, 3, 0, 0, 0,
    };
    const MxAnswer none = CMxResolver::ParseMxAnswer(nullMx, sizeof nullMx);
    EXPECT_TRUE(none.nullMx);
    EXPECT_TRUE(none.exchangers.empty());
}

TEST(MxResolver, NullMxAndImplicitExchanger) {
    const struct {
        MxAnswer answer;
        bool hasAddress;
        std::vector<std::string> tried;
        std::string reason;
    } cases[] = {
        {{MxStatus::Ok, {}, true}, true, {}, "该域名不接收邮件"},
        {{MxStatus::Ok, {}}, true, {"b.test"}, "550 refused by b.test\r\n"},
        {{MxStatus::Ok, {}}, false, {}, "无法获得邮件服务器"},
        {{MxStatus::Failed, {}}, true, {}, "无法获得邮件服务器"},  // no such domain: no implicit exchanger
    };
    for (const auto& c : cases) {
        Lookups lookups{{}, c.answer};
        CMxResolver resolver(lookups.Fn(), [&](const std::string&) { return c.hasAddress; });
        std::vector<std::string> tried;
        const DeliveryResult result = resolver.DeliverToRecipient("a@b.test", Refusing(tried));
        ASSERT_TRUE(result);
        EXPECT_EQ(result->szReason, c.reason);
        EXPECT_EQ(result->kind, FailureKind::Final);
        EXPECT_EQ(tried, c.tried);
    }
}

TEST(MxResolver, ReadsSrvAndTxtRecordsOffTheWire) {
    const unsigned char srv[] = {
        0x12, 0x34, 0x81, 0x80, 0, 1, 0, 2, 0, 0, 0, 0,                        // header
        1, 'b', 4, 't', 'e', 's', 't', 0, 0, 33, 0, 1,                          // question
        0xc0, 12, 0, 33, 0, 1, 0, 0, 0, 60, 0, 7, 0, 10, 0, 5, 0x01, 0xd1, 0,  // 10 5 465 "."
        0xc0, 12, 0, 33, 0, 1, 0, 0, 0, 60, 0, 13, 0, 20, 0, 0, 0x02, 0x4b, 4, 'm', 'a', 'i', 'l', 0xc0, 12,
    };
    const DnsAnswer<SrvRecord> records = CMxResolver::ParseSrvAnswer(srv, sizeof srv);
    EXPECT_EQ(records.status, MxStatus::Ok);
    ASSERT_EQ(records.records.size(), 2u);
    EXPECT_EQ(records.records[0].target, ".");
    EXPECT_EQ(records.records[0].port, 465);
    EXPECT_EQ(records.records[0].weight, 5);
    EXPECT_EQ(records.records[1].target, "mail.b.test");
    EXPECT_EQ(records.records[1].priority, 20);
    EXPECT_EQ(records.records[1].port, 587);

    // A record of two strings is one text; a string that claims more bytes than its record has is dropped.
    const unsigned char txt[] = {
        0x12, 0x34, 0x81, 0x80, 0, 1, 0, 2, 0, 0, 0, 0,
        1, 'b', 4, 't', 'e', 's', 't', 0, 0, 16, 0, 1,
        0xc0, 12, 0, 16, 0, 1, 0, 0, 0, 60, 0, 9, 3, 'a', 'b', 'c', 4, 'd', 'e', 'f', 'g',
        0xc0, 12, 0, 16, 0, 1, 0, 0, 0, 60, 0, 3, 5, 'x', 'y',
    };
    EXPECT_EQ(CMxResolver::ParseTxtAnswer(txt, sizeof txt).records, (std::vector<std::string>{"abcdefg"}));
}

TEST(MxResolver, NameServerLineInResolverConfiguration) {
    const struct {
        const char* text;
        bool has;
    } cases[] = {
        {"nameserver 127.0.0.1\n", true},
        {"search example.org\n  nameserver\t10.0.0.1\noptions timeout:1\n", true},
        {"# nameserver 1.1.1.1\nsearch x\n", false},
        {"nameserver\n", false},
        {"", false},
    };
    const std::string path = ::testing::TempDir() + "vox_resolv_conf_test";
    for (const auto& c : cases) {
        std::ofstream(path) << c.text;
        EXPECT_EQ(CMxResolver::HasNameServer(path), c.has) << c.text;
    }
    std::remove(path.c_str());
    EXPECT_FALSE(CMxResolver::HasNameServer(path));  // no file at all
}

}  // namespace
}  // namespace vox
