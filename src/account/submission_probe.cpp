#include "account/submission_probe.h"

#include "delivery/blocking_socket.h"
#include "delivery/delivery_job.h"
#include "delivery/smtp_session.h"

namespace vox {

namespace {

SessionOptions Options(const SubmissionServer& server, const ProbeOptions& probe) {
    SessionOptions options;
    options.port = server.port;
    options.tls = SessionTls(server.security);
    options.verifyPeer = true;
    options.trustFile = probe.trustFile;
    options.cancel = probe.cancel;
    return options;
}

}  // namespace

bool ProbeSubmission(const SubmissionServer& server, const std::string& connectTo, const ProbeOptions& options) {
    // The socket is connected to the address found, while TLS checks the certificate against the name.
    CBlockingSocket socket(options.timeoutSeconds);
    socket.SetCancel(options.cancel);
    if (!socket.Connect(connectTo.c_str(), server.port)) return false;
    CSmtpSession session(options.timeoutSeconds, Options(server, options));
    if (!session.Open(socket.Release(), server.host)) return false;
    // The connection's own address literal as the greeting: no look-up of this machine's name.
    const bool greeted = session.Greet("");
    const bool auth = greeted && (session.Extensions().authPlain || session.Extensions().authLogin);
    session.Quit();
    return auth;
}

LoginResult TestLogin(const Account& account, const std::string& password, const ProbeOptions& probe) {
    SessionOptions options = Options(account.server, probe);
    options.user = account.user.empty() ? account.address : account.user;
    options.password = password;
    CSmtpSession session(probe.timeoutSeconds, options);
    LoginResult result;
    // Greet logs in as its last step; its success is the server's 235.
    result.ok = session.Connect(account.server.host) && session.Greet(LocalFqdn());
    result.answer = result.ok ? session.LastReply() : session.GetErrorText();
    while (!result.answer.empty() && (result.answer.back() == '\n' || result.answer.back() == '\r'))
        result.answer.pop_back();
    result.wantsAppPassword = !result.ok && AsksForAppPassword(result.answer);
    session.Quit();
    return result;
}

}  // namespace vox
