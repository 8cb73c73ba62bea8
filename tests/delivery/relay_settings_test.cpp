// Relay settings: the address forms, and the settings file with its privacy rule.

#include "delivery/relay_settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace vox {
namespace {

TEST(RelaySettings, AddressForms) {
    const struct {
        std::string text;
        bool ok;
        std::string host;
        int port;
        TlsMode tls;
    } cases[] = {
        {"smtp.example.com", true, "smtp.example.com", 587, TlsMode::Required},
        {"smtp.example.com:465", true, "smtp.example.com", 465, TlsMode::Implicit},
        {"smtp.example.com:2525", true, "smtp.example.com", 2525, TlsMode::Required},
        {"smtp.example.com:0", false, "", 0, TlsMode::Required},
        {"smtp.example.com:65536", false, "", 0, TlsMode::Required},
        {"smtp.example.com:-1", false, "", 0, TlsMode::Required},
        {"smtp.example.com:", false, "", 0, TlsMode::Required},
        {":587", false, "", 0, TlsMode::Required},
        {"two words", false, "", 0, TlsMode::Required},
    };
    for (const auto& c : cases) {
        RelaySettings s;
        std::string why;
        EXPECT_EQ(ParseRelayAddress(c.text, s, &why), c.ok) << c.text;
        EXPECT_EQ(why.empty(), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(s.host, c.host);
        EXPECT_EQ(s.port, c.port);
        EXPECT_EQ(s.Tls(), c.tls);
    }
}

TEST(RelaySettings, FileIsUsedOnlyWhenPrivateAndComplete) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("vox-relay-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string secret = (dir / "secret").string();
    std::ofstream(secret) << "from-file\n";
    ::chmod(secret.c_str(), 0600);
    const struct {
        const char* what;
        std::string text;
        mode_t mode;
        bool used;
        std::string password;
        int port;
    } cases[] = {
        {"complete", "# mine\nhost = relay.test\nuser = me\npassword = pw # trailing\n", 0600, true, "pw",
         587},
        {"port in the host", "host = relay.test:465\nuser = me\npassword = pw\n", 0600, true, "pw", 465},
        {"port line", "host = relay.test\nport = 2525\nuser = me\npassword = pw\n", 0400, true, "pw", 2525},
        {"password file", "host = relay.test\nuser = me\npassword-file = " + secret + "\n", 0600, true,
         "from-file", 587},
        {"group can read", "host = relay.test\nuser = me\npassword = pw\n", 0640, false, "", 0},
        {"anyone can read", "host = relay.test\nuser = me\npassword = pw\n", 0604, false, "", 0},
        {"no password", "host = relay.test\nuser = me\n", 0600, false, "", 0},
        {"unknown key", "host = relay.test\nuser = me\npassword = pw\nport 25\n", 0600, false, "", 0},
    };
    const std::string conf = (dir / "relay.conf").string();
    for (const auto& c : cases) {
        std::filesystem::remove(conf);
        std::ofstream(conf) << c.text;
        ::chmod(conf.c_str(), c.mode);
        std::string why;
        const std::optional<RelaySettings> s = LoadRelayConfig(conf, &why);
        EXPECT_EQ(s.has_value(), c.used) << c.what;
        EXPECT_EQ(why.empty(), c.used) << c.what << ": " << why;
        if (!s) continue;
        EXPECT_EQ(s->host, "relay.test");
        EXPECT_EQ(s->user, "me");
        EXPECT_EQ(s->password, c.password) << c.what;
        EXPECT_EQ(s->port, c.port) << c.what;
    }
    // No file at all is no error: mail goes directly.
    std::string why = "x";
    EXPECT_FALSE(LoadRelayConfig((dir / "absent.conf").string(), &why));
    EXPECT_TRUE(why.empty());
    // A shared password file is refused like a shared settings file.
    ::chmod(secret.c_str(), 0644);
    std::string password;
    EXPECT_FALSE(ReadPasswordFile(secret, password, &why));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vox
