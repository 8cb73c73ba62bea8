#include "account/account_route.h"
#include "base/translate.h"

#include "account/accounts_file.h"

namespace vox {

std::optional<AccountRoute> AccountRouteFor(const std::string& senderAddress, Keyring& keyring, std::string* why,
                                            const std::string& accountsFile) {
    why->clear();
    std::vector<Account> accounts;
    if (!LoadAccounts(accountsFile, accounts, why)) return std::nullopt;
    const Account* account = FindAccount(accounts, senderAddress);
    if (account == nullptr) return std::nullopt;
    AccountRoute route;
    route.account = *account;
    route.relay.host = account->server.host;
    route.relay.port = account->server.port;
    route.relay.user = account->user.empty() ? account->address : account->user;
    route.tls = SessionTls(account->server.security);
    std::optional<std::string> password;
    const KeyringResult looked = keyring.Lookup(account->address, account->server, password);
    if (looked.ok && password) {
        route.relay.password = std::move(*password);
        route.havePassword = true;
    } else {
        route.note = looked.ok ? Format(Tr("%s在%s上没有保存密码"), account->address.c_str(), account->server.Name().c_str())
                               : looked.error;
    }
    return route;
}

KeyringPasswordReader OutboxKeyringReader(std::shared_ptr<Keyring> keyring) {
    return [keyring = std::move(keyring)](const std::string& address, const std::string& host, int port,
                                          std::string* why) -> std::optional<std::string> {
        // The item is named by address and "HOST:PORT" alone; the security is no part of its name.
        const SubmissionServer server{host, port, Security::Tls};
        std::optional<std::string> password;
        const KeyringResult looked = keyring->Lookup(address, server, password);
        if (!looked.ok) {
            *why = looked.error;
            return std::nullopt;
        }
        if (!password) *why = Tr("密钥环中没有保存它");
        return password;
    };
}

}  // namespace vox
