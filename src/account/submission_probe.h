#pragma once
// Speaking to a submission server on the account's behalf: the probe of a guessed name (no password
// ever goes out), and the test login that the account window and "account test" run.

#include <atomic>
#include <string>

#include "account/account.h"
#include "base/translate.h"
#include "delivery/smtp_reply.h"  // AsksForAppPassword

namespace vox {

struct ProbeOptions {
    std::string trustFile;   // PEM authorities instead of the system's; empty: the system's
    int timeoutSeconds = 5;  // each wait on the server
    const std::atomic<bool>* cancel = nullptr;
};

// Connects to connectTo (an IPv4 address already looked up for server.host, or the host itself), does
// TLS verified for server.host as server.security says, and EHLO. True only when the server then offers
// a login this client can do (AUTH PLAIN or LOGIN). Sends no user name and no password.
bool ProbeSubmission(const SubmissionServer& server, const std::string& connectTo, const ProbeOptions& options);

struct LoginResult {
    bool ok = false;
    std::string answer;            // the server's answer to the login ("235 …", "535 …") or why none came
    bool wantsAppPassword = false;  // the provider refuses the account password for mail programs
};

// Logs in over verified TLS and leaves at once (QUIT): nothing is sent.
LoginResult TestLogin(const Account& account, const std::string& password, const ProbeOptions& options);

// What the user is told when the provider asks for an app-specific password.
inline constexpr const char kAppPasswordHint[] =
    N_("服务商要求邮件程序使用专用密码：请在邮箱的安全设置中创建一个，并用它代替平常的密码。");

}  // namespace vox
