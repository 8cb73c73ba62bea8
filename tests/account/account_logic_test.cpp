// The account's files and formats without a network: configuration files as providers write them,
// accounts.conf written and read back, and the shipped provider list.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <fstream>
#include <sstream>

#include "account/account_route.h"
#include "account/accounts_file.h"
#include "account/client_config.h"
#include "account/provider_table.h"

namespace vox {
namespace {

std::string Provider(const std::string& servers, const std::string& around = "clientConfig") {
    return "<?xml version=\"1.0\"?><" + around + "><emailProvider id=\"x\">" + servers + "</emailProvider></" +
           around + ">";
}

std::string Smtp(const std::string& host, const std::string& port, const std::string& socket,
                 const std::string& user = "", const std::string& type = "smtp") {
    return "<outgoingServer type=\"" + type + "\"><hostname>" + host + "</hostname><port>" + port +
           "</port><socketType>" + socket + "</socketType>" +
           (user.empty() ? "" : "<username>" + user + "</username>") + "</outgoingServer>";
}

TEST(ClientConfig, OutgoingServersThatMayCarryAPassword) {
    const struct {
        std::string xml;
        std::vector<std::string> found;  // "HOST:PORT SECURITY USER"
    } cases[] = {
        {Provider(Smtp("smtp.a.test", "465", "SSL", "%EMAILADDRESS%") + Smtp("smtp.a.test", "587", "STARTTLS",
                                                                               "%EMAILLOCALPART%")),
         {"smtp.a.test:465 TLS me@a.test", "smtp.a.test:587 STARTTLS me"}},
        // Plain text, another kind of server, an unusable port or host: left out, the rest kept.
        {Provider(Smtp("plain.a.test", "25", "plain") + Smtp("imap.a.test", "993", "SSL", "", "imap") +
                  Smtp("smtp.a.test", "0", "SSL") + Smtp("smtp.a.test", "70000", "SSL") +
                  Smtp("bad host", "465", "SSL") + Smtp(" smtp.%EMAILDOMAIN% ", " 465 ", "SSL")),
         {"smtp.a.test:465 TLS "}},
        {Provider(Smtp("smtp.a.test", "465", "SSL"), "otherRoot"), {}},  // not the format at all
        {Provider(Smtp("smtp.a.test", "465", "SSL")).substr(0, 90), {}},  // cut short: not well-formed
        {"", {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> found;
        for (const ConfiguredServer& s : ParseClientConfig(c.xml, "me@a.test"))
            found.push_back(s.server.Name() + " " + SecurityName(s.server.security) + " " + s.user);
        EXPECT_EQ(found, c.found) << c.xml;
    }
}

class AccountsFile : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/vox-accounts-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        m_dir = dir;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string m_dir;
};

TEST_F(AccountsFile, WrittenWholeAndReadBack) {
    const std::string path = m_dir + "/voxletter/accounts.conf";  // the folder is made on the way
    std::vector<Account> accounts;
    PutAccount(accounts, {"me@a.test", {"smtp.a.test", 465, Security::Tls}, "me"});
    PutAccount(accounts, {"you@b.test", {"mail.b.test", 587, Security::StartTls}, ""});
    PutAccount(accounts, {"ME@A.test", {"smtp2.a.test", 465, Security::Tls}, "me2"});  // replaces the first
    ASSERT_EQ(SaveAccounts(path, accounts), "");

    std::vector<Account> read;
    std::string why;
    ASSERT_TRUE(LoadAccounts(path, read, &why)) << why;
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].address, "ME@A.test");
    EXPECT_EQ(read[0].server, (SubmissionServer{"smtp2.a.test", 465, Security::Tls}));
    EXPECT_EQ(read[0].user, "me2");
    EXPECT_EQ(read[1].server, (SubmissionServer{"mail.b.test", 587, Security::StartTls}));
    EXPECT_EQ(FindAccount(read, "you@B.TEST"), &read[1]);
    EXPECT_TRUE(RemoveAccount(read, "me@a.test"));
    EXPECT_FALSE(RemoveAccount(read, "me@a.test"));

    // A value that would break the file is refused and the file stays as it was.
    std::vector<Account> broken{{"x@a.test", {"smtp.a.test\nhost = evil.test", 465, Security::Tls}, ""}};
    EXPECT_NE(SaveAccounts(path, broken), "");
    ASSERT_TRUE(LoadAccounts(path, read, &why));
    EXPECT_EQ(read.size(), 2u);

    // No file: no accounts, no complaint.
    EXPECT_TRUE(LoadAccounts(m_dir + "/none.conf", read, &why));
    EXPECT_TRUE(read.empty());
}

TEST_F(AccountsFile, FilesItDoesNotUnderstandGiveNothing) {
    const char* texts[] = {
        "host = a.test\n",                                          // a value before any section
        "[me@a.test]\nhost = a.test\nport = 99999\n",               // port out of range
        "[me@a.test]\nhost = a.test\nport = 465\nsecurity = none\n",  // no plain text
        "[me@a.test]\nhost = a.test\nport = 465\npassword = x\n",  // a password has no place here
        "[me@a.test]\nport = 465\n",                                // no host
    };
    for (const char* text : texts) {
        const std::string path = m_dir + "/accounts.conf";
        std::ofstream(path) << text;
        std::vector<Account> read{{"left@over.test", {}, ""}};
        std::string why;
        EXPECT_FALSE(LoadAccounts(path, read, &why)) << text;
        EXPECT_TRUE(read.empty()) << text;
        EXPECT_NE(why, "") << text;
    }
}

// A keyring that holds what the test put in it, or that is not there at all.
class ScriptedKeyring : public Keyring {
public:
    bool present = true;
    std::map<std::string, std::string> items;  // "address server" -> password

    KeyringResult Store(const std::string& a, const SubmissionServer& s, const std::string& p) override {
        if (!present) return {false, true, kNoKeyring};
        items[a + " " + s.Name()] = p;
        return {true, false, ""};
    }
    KeyringResult Lookup(const std::string& a, const SubmissionServer& s, std::optional<std::string>& p) override {
        if (!present) return {false, true, kNoKeyring};
        const auto found = items.find(a + " " + s.Name());
        if (found != items.end()) p = found->second;
        return {true, false, ""};
    }
    KeyringResult Forget(const std::string&, const SubmissionServer&) override { return {true, false, ""}; }
};

TEST_F(AccountsFile, TheSendFindsTheAccountOfItsFromAddress) {
    const std::string path = m_dir + "/accounts.conf";
    ASSERT_EQ(SaveAccounts(path, {{"me@a.test", {"smtp.a.test", 587, Security::Tls}, ""},
                                  {"you@b.test", {"mail.b.test", 465, Security::Tls}, "you"}}),
              "");
    ScriptedKeyring keyring;
    keyring.items["me@a.test smtp.a.test:587"] = "secret";
    std::string why;

    std::optional<AccountRoute> route = AccountRouteFor("ME@a.test", keyring, &why, path);
    ASSERT_TRUE(route);
    EXPECT_EQ(route->relay.host, "smtp.a.test");
    EXPECT_EQ(route->relay.port, 587);
    EXPECT_EQ(route->relay.user, "me@a.test");  // no user name: the address
    EXPECT_EQ(route->relay.password, "secret");
    EXPECT_EQ(route->tls, TlsMode::Implicit);  // the account's choice, not the port's habit
    EXPECT_TRUE(route->havePassword);

    route = AccountRouteFor("you@b.test", keyring, &why, path);  // nothing stored: ask at the send
    ASSERT_TRUE(route);
    EXPECT_FALSE(route->havePassword);
    EXPECT_NE(route->note, "");
    keyring.present = false;
    route = AccountRouteFor("me@a.test", keyring, &why, path);  // no keyring: the same, saying why
    ASSERT_TRUE(route);
    EXPECT_FALSE(route->havePassword);
    EXPECT_NE(route->note.find(kNoKeyring), std::string::npos);

    EXPECT_FALSE(AccountRouteFor("other@a.test", keyring, &why, path));  // no account: the next route
    EXPECT_EQ(why, "");
    std::ofstream(path) << "garbage\n";
    EXPECT_FALSE(AccountRouteFor("me@a.test", keyring, &why, path));
    EXPECT_NE(why, "");  // a broken file is said, not taken for "no account"
}

TEST(ProviderTable, ShippedListIsReadable) {
    // Every line of the shipped list is a server, so a typo there does not silently drop a provider.
    std::ifstream in(DefaultProviderTable());
    ASSERT_TRUE(in) << DefaultProviderTable();
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string domains;
        if (!(words >> domains)) continue;
        ++lines;
        const std::string first = domains.substr(0, domains.find(','));
        EXPECT_FALSE(LookupProvider(DefaultProviderTable(), first).empty()) << line;
    }
    EXPECT_GT(lines, 20);
    const std::vector<SubmissionServer> gmail = LookupProvider(DefaultProviderTable(), "GoogleMail.com");
    ASSERT_EQ(gmail.size(), 2u);
    EXPECT_EQ(gmail[0], (SubmissionServer{"smtp.gmail.com", 465, Security::Tls}));
    EXPECT_EQ(gmail[1], (SubmissionServer{"smtp.gmail.com", 587, Security::StartTls}));
    EXPECT_TRUE(LookupProvider(DefaultProviderTable(), "nothing.test").empty());
}

}  // namespace
}  // namespace vox
