#pragma once
// The seam between accounts and sending: given the From address, the account's server and login as
// the relay code takes them, or nothing when the address has no account (then relay.conf, then direct).

#include <memory>
#include <optional>
#include <string>

#include "account/account.h"
#include "account/accounts_file.h"
#include "account/keyring.h"
#include "delivery/outbox.h"
#include "delivery/relay_settings.h"

namespace vox {

struct AccountRoute {
    Account account;
    RelaySettings relay;  // host, port, user and (when the keyring gave it) password
    TlsMode tls = TlsMode::Required;  // the account's own choice, which may differ from the port's habit
    bool havePassword = false;  // false: ask the user at this send, and keep the answer nowhere
    std::string note;           // why there is no password (no keyring, nothing stored), for the user
};

// The account of senderAddress in accountsFile, its password from keyring. Nothing when the address has
// none; *why set when accounts.conf is there but unreadable (the send should then say so, not guess).
std::optional<AccountRoute> AccountRouteFor(const std::string& senderAddress, Keyring& keyring,
                                            std::string* why, const std::string& accountsFile = AccountsFilePath());

// The outbox's way to the password of a sending account at a retry: keyring's item for the address on
// host:port. The keyring must outlive the reader; it is called on the retrying thread.
KeyringPasswordReader OutboxKeyringReader(std::shared_ptr<Keyring> keyring);

}  // namespace vox
