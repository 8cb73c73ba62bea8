#pragma once
// Where account passwords are kept: the desktop's keyring, one item per sender address and server. The
// interface lets the account window's tests put a scripted keyring in its place.

#include <optional>
#include <string>

#include "account/account.h"
#include "base/translate.h"

namespace vox {

struct KeyringResult {
    bool ok = false;
    bool unavailable = false;  // no Secret Service answers: nothing was stored, read or removed
    std::string error;         // why, when !ok
};

class Keyring {
public:
    virtual ~Keyring() = default;
    virtual KeyringResult Store(const std::string& address, const SubmissionServer& server,
                                const std::string& password) = 0;
    // ok with no value: the keyring works but holds no password for them.
    virtual KeyringResult Lookup(const std::string& address, const SubmissionServer& server,
                                 std::optional<std::string>& password) = 0;
    // ok also when there was nothing to remove.
    virtual KeyringResult Forget(const std::string& address, const SubmissionServer& server) = 0;
};

// The Secret Service on the session's D-Bus (GNOME Keyring, KWallet, KeePassXC ...), through libsecret's
// synchronous calls: use it from a worker thread, never from a window's own.
class SecretServiceKeyring : public Keyring {
public:
    KeyringResult Store(const std::string& address, const SubmissionServer& server,
                        const std::string& password) override;
    KeyringResult Lookup(const std::string& address, const SubmissionServer& server,
                         std::optional<std::string>& password) override;
    KeyringResult Forget(const std::string& address, const SubmissionServer& server) override;
};

// What the user is told when no Secret Service answers.
inline constexpr const char kNoKeyring[] =
    N_("这个桌面上没有运行密钥环（Secret Service），无法保存密码");

}  // namespace vox
