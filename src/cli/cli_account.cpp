// voxletter-cli account: the sending account of a sender address without the account window. Finding
// the provider's server, keeping the password in the desktop's keyring, showing, testing and forgetting.

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "account/accounts_file.h"
#include "account/discovery.h"
#include "account/keyring.h"
#include "account/submission_probe.h"
#include "cli/cli_commands.h"

namespace vox::cli {
namespace {

struct AccountRequest {
    std::string action;
    std::string address;
    std::string host;
    uint32_t port = 0;
    std::string user;
    std::string security;
};

// Authorities to trust instead of the system's, by OpenSSL's own convention (tests point it at theirs).
std::string TrustFile() {
    const char* file = std::getenv("SSL_CERT_FILE");
    return file != nullptr ? file : "";
}

bool Load(std::vector<Account>& accounts) {
    std::string why;
    if (LoadAccounts(AccountsFilePath(), accounts, &why)) return true;
    Complain("account", why);
    return false;
}

// The accounts and the one of the address; nullptr (said on standard error) when there is none.
const Account* LoadOne(std::vector<Account>& accounts, const std::string& address) {
    if (!Load(accounts)) return nullptr;
    const Account* account = FindAccount(accounts, address);
    if (account == nullptr) std::fputs(Format(Tr("%s没有发信账户\n"), address.c_str()).c_str(), stderr);
    return account;
}

int Discover(const AccountRequest& req) {
    DiscoveryOptions options;
    options.trustFile = TrustFile();
    CAccountDiscovery discovery(options);
    const std::vector<Candidate> found = discovery.Run(req.address);
    for (const Candidate& candidate : found) std::printf("%s\n", CandidateLine(candidate).c_str());
    // Printed before the sources that still run are waited for.
    std::fflush(stdout);
    if (found.empty()) std::fputs(Format(Tr("没有找到%s的发信服务器\n"), req.address.c_str()).c_str(), stderr);
    return found.empty() ? 1 : 0;
}

// One line from standard input, without its line end.
bool ReadPassword(std::string& password) {
    if (!std::getline(std::cin, password)) return false;
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return !password.empty();
}

int Set(const AccountRequest& req) {
    if (req.host.empty() || req.port == 0) {
        Complain("account", Tr("set需要--host和--port（--help列出选项）"));
        return kExitRefused;
    }
    Account account;
    account.address = req.address;
    account.server.host = req.host;
    account.server.port = static_cast<int>(req.port);
    account.server.security = req.port == 465 ? Security::Tls : Security::StartTls;
    if (!req.security.empty() && !ParseSecurity(req.security, account.server.security)) {
        Complain("account", Format(Tr("选项%s需要%s，而不是\"%s\""), "--security", Tr("TLS或STARTTLS"), req.security.c_str()));
        return kExitRefused;
    }
    account.user = req.user.empty() ? req.address : req.user;
    std::string password;
    if (!ReadPassword(password)) {
        Complain("account", Tr("set从标准输入读取密码（一行），但没有读到"));
        return kExitRefused;
    }
    std::vector<Account> accounts;
    if (!Load(accounts)) return 1;
    const Account* before = FindAccount(accounts, req.address);
    const std::optional<SubmissionServer> oldServer =
        before != nullptr ? std::optional<SubmissionServer>(before->server) : std::nullopt;

    // The keyring first: without it nothing is written at all, so no account waits for a password that
    // was never kept.
    SecretServiceKeyring keyring;
    const KeyringResult stored = keyring.Store(account.address, account.server, password);
    if (!stored.ok) {
        Complain("account", stored.error);
        return 1;
    }
    PutAccount(accounts, account);
    const std::string error = SaveAccounts(AccountsFilePath(), accounts);
    if (!error.empty()) {
        keyring.Forget(account.address, account.server);
        Complain("account", error);
        return 1;
    }
    // The old server's password would otherwise stay in the keyring for nothing.
    if (oldServer && !(*oldServer == account.server)) keyring.Forget(account.address, *oldServer);
    std::fputs(Format(Tr("%s：%s %s，用户%s，密码已保存在密钥环中\n"), account.address.c_str(),
                      account.server.Name().c_str(), SecurityName(account.server.security), account.user.c_str())
                   .c_str(),
               stdout);
    return 0;
}

int Show(const AccountRequest& req) {
    std::vector<Account> accounts;
    if (!Load(accounts)) return 1;
    SecretServiceKeyring keyring;
    int shown = 0;
    for (const Account& account : accounts) {
        if (!req.address.empty() && FindAccount({account}, req.address) == nullptr) continue;
        std::optional<std::string> password;
        const KeyringResult looked = keyring.Lookup(account.address, account.server, password);
        const char* kept = !looked.ok ? Tr("无法访问密钥环") : password ? Tr("密码在密钥环中") : Tr("没有保存密码");
        std::fputs(Format(Tr("%s：%s %s，用户%s，%s\n"), account.address.c_str(), account.server.Name().c_str(),
                          SecurityName(account.server.security), account.user.c_str(), kept)
                       .c_str(),
                   stdout);
        ++shown;
    }
    if (shown == 0 && !req.address.empty()) {
        std::fputs(Format(Tr("%s没有发信账户\n"), req.address.c_str()).c_str(), stderr);
        return 1;
    }
    return 0;
}

int Test(const AccountRequest& req) {
    std::vector<Account> accounts;
    const Account* account = LoadOne(accounts, req.address);
    if (account == nullptr) return 1;
    SecretServiceKeyring keyring;
    std::optional<std::string> password;
    const KeyringResult looked = keyring.Lookup(account->address, account->server, password);
    std::string typed;
    if (!password) {
        // Without a keyring (or nothing in it) the password may come on standard input, used once.
        std::fputs(Format(Tr("%s；从标准输入读取密码\n"), looked.ok ? Tr("密钥环中没有密码") : looked.error.c_str()).c_str(),
                   stderr);
        if (!ReadPassword(typed)) return 1;
        password = typed;
    }
    ProbeOptions options;
    options.trustFile = TrustFile();
    options.timeoutSeconds = 10;
    const LoginResult result = TestLogin(*account, *password, options);
    std::printf("%s\n", result.answer.c_str());
    if (result.wantsAppPassword) std::printf("%s\n", Tr(kAppPasswordHint));
    return result.ok ? 0 : 1;
}

int Forget(const AccountRequest& req) {
    std::vector<Account> accounts;
    const Account* account = LoadOne(accounts, req.address);
    if (account == nullptr) return 1;
    SecretServiceKeyring keyring;
    const KeyringResult forgot = keyring.Forget(account->address, account->server);
    if (!forgot.ok) std::fputs(Format(Tr("无法删除密码：%s\n"), forgot.error.c_str()).c_str(), stderr);
    RemoveAccount(accounts, req.address);
    const std::string error = SaveAccounts(AccountsFilePath(), accounts);
    if (!error.empty()) {
        Complain("account", error);
        return 1;
    }
    return 0;
}

}  // namespace

void AddAccountCommand(CommandLine& cli) {
    auto req = std::make_shared<AccountRequest>();
    CLI::App& app = cli.AddCommand(
        "account", N_("发件人地址的发信账户：服务商的服务器，以及密钥环中的密码。"),
        [req]() -> int {
            if (req->action != "show" && req->address.empty()) {
                Complain("account", Format(Tr("%s需要ADDRESS（--help列出选项）"), req->action.c_str()));
                return kExitRefused;
            }
            if (!req->address.empty() && AddressDomain(req->address).empty()) {
                Complain("account", Format(Tr("\"%s\"不是邮件地址（--help列出选项）"), req->address.c_str()));
                return kExitRefused;
            }
            if (req->action != "set" && (!req->host.empty() || req->port != 0 || !req->user.empty() ||
                                         !req->security.empty())) {
                Complain("account", Tr("--host、--port、--user和--security只用于\"account set\""));
                return kExitRefused;
            }
            if (req->action == "discover") return Discover(*req);
            if (req->action == "set") return Set(*req);
            if (req->action == "show") return Show(*req);
            if (req->action == "test") return Test(*req);
            return Forget(*req);
        });
    app.footer(
        Tr("  account discover ADDRESS    查找服务器；每个候选一行，最合适的在前\n"
           "  account set ADDRESS --host HOST --port PORT [--user NAME] [--security TLS|STARTTLS]\n"
           "                              从标准输入读取密码，保存在桌面的密钥环中\n"
           "  account show [ADDRESS]      显示设置（从不显示密码）\n"
           "  account test ADDRESS        登录但不发送；输出服务器的回答\n"
           "  account forget ADDRESS      删除设置和密码"));
    app.add_option("action", req->action, Tr("discover、set、show、test或forget"))
        ->required()
        ->check(CLI::IsMember({"discover", "set", "show", "test", "forget"}));
    app.add_option("address", req->address, Tr("发件人地址"));
    app.add_option("--host", req->host, Tr("发信服务器（set）"));
    app.add_option("--port", req->port, Tr("它的端口：465（TLS）或587（STARTTLS）（set）"))
        ->transform(WholeNumber(1, 65535, Tr("1至65535的端口号")));
    app.add_option("--user", req->user, Tr("登录名（set；默认为该地址）"));
    app.add_option("--security", req->security, Tr("TLS或STARTTLS（set；默认：465端口用TLS，否则用STARTTLS）"));
}

}  // namespace vox::cli
