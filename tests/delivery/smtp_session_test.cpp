// The session against a scripted server on a socketpair: reply reading, the greeting with its fallbacks,
// STARTTLS, AUTH, dot-stuffing and the command length, as the server hears them.

#include "delivery/smtp_session.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

#include "delivery/delivery_failure.h"
#include "scripted_peer.h"

namespace vox {
namespace {

using test::PeerStep;
using test::ScriptedPeer;

const PeerStep kGreeting{"220 peer.test ready\r\n"};
const PeerStep kOk{"250 ok\r\n"};

struct SessionCase {
    const char* what;
    std::vector<PeerStep> script;  // greeting first
    SessionOptions options;
    std::function<bool(CSmtpSession&)> drive;
    bool ok;
    std::vector<std::string> heard;  // every line the server got, in order
    std::string error;               // GetErrorText afterwards (the fallback text when nothing was refused)
    std::string data = "";           // message data as it crossed the wire
};

SessionOptions Plain() {
    SessionOptions o;
    o.tls = TlsMode::Off;
    return o;
}

SessionOptions Login(TlsMode tls = TlsMode::Off) {
    SessionOptions o;
    o.tls = tls;
    o.user = "user";
    o.password = "secret";
    return o;
}

bool Greet(CSmtpSession& s) {
    return s.Greet("host.test");
}

TEST(SmtpSession, ConversationsAsTheServerHearsThem) {
    ::signal(SIGPIPE, SIG_IGN);  // the scripted server's TLS writes to a client that has gone
    const std::string longAddress = std::string(12288 - std::string("RCPT TO:<@b>\r\n").size(), 'a') + "@b";
    const SessionCase cases[] = {
        {"greeting of two lines, then EHLO with extensions",
         {{"220-peer.test first\r\n220 peer.test second\r\n"},
          {"250-peer.test\r\n250-SIZE 1000\r\n250 HELP\r\n"}},
         Plain(),
         [](CSmtpSession& s) { return Greet(s) && s.SaidEhlo() && s.SizeLimit() == 1000; },
         true,
         {"EHLO host.test"},
         kReasonConnectionBroken},
        {"EHLO refused: HELO instead",
         {kGreeting, {"502 5.5.2 what\r\n"}, kOk},
         Plain(),
         [](CSmtpSession& s) { return Greet(s) && !s.SaidEhlo(); },
         true,
         {"EHLO host.test", "HELO host.test"},
         kReasonConnectionBroken},
        {"EHLO answered 421: no HELO",
         {kGreeting, {"421 4.3.2 busy\r\n"}},
         Plain(),
         Greet,
         false,
         {"EHLO host.test"},
         "421 4.3.2 busy\r\n"},
        {"HELO refused too",
         {kGreeting, {"500 no\r\n"}, {"501 5.5.4 go away\r\n"}},
         Plain(),
         Greet,
         false,
         {"EHLO host.test", "HELO host.test"},
         "501 5.5.4 go away\r\n"},
        {"a reply of two characters",
         {kGreeting, {"25\r\n"}},
         Plain(),
         Greet,
         false,
         {"EHLO host.test"},
         "25\r\n"},
        {"STARTTLS: a forged reply behind the 220 is dropped, EHLO again over TLS",
         {kGreeting,
          {"250-peer.test\r\n250-SIZE 10\r\n250 STARTTLS\r\n"},
          {"220 go ahead\r\n250-peer.test\r\n250 SIZE 10\r\n", true},
          {"250-peer.test\r\n250 SIZE 5000\r\n"}},
         SessionOptions{},
         [](CSmtpSession& s) { return Greet(s) && s.Encrypted() && s.SizeLimit() == 5000; },
         true,
         {"EHLO host.test", "STARTTLS", "EHLO host.test"},
         kReasonConnectionBroken},
        {"STARTTLS not offered: plain when opportunistic",
         {kGreeting, kOk},
         SessionOptions{},
         [](CSmtpSession& s) { return Greet(s) && !s.Encrypted(); },
         true,
         {"EHLO host.test"},
         kReasonConnectionBroken},
        {"STARTTLS not offered: refused when required",
         {kGreeting, kOk},
         [] {
             SessionOptions o;
             o.tls = TlsMode::Required;
             return o;
         }(),
         Greet,
         false,
         {"EHLO host.test"},
         kReasonNoStartTls},
        {"a handshake that fails is told apart",
         {kGreeting,
          {"250-peer.test\r\n250 STARTTLS\r\n"},
          {"220 go ahead\r\nthis is no TLS server\r\n", false, false, "", true}},
         SessionOptions{},
         [](CSmtpSession& s) { return !Greet(s) && s.TlsFailed(); },
         true,
         {"EHLO host.test", "STARTTLS"},
         ""},
        {"AUTH PLAIN",
         {kGreeting, {"250-peer.test\r\n250 AUTH LOGIN PLAIN\r\n"}, {"235 2.7.0 ok\r\n"}},
         Login(),
         Greet,
         true,
         {"EHLO host.test", "AUTH PLAIN AHVzZXIAc2VjcmV0"},
         kReasonConnectionBroken},
        {"AUTH LOGIN",
         {kGreeting,
          {"250-peer.test\r\n250 AUTH=LOGIN\r\n"},
          {"334 VXNlcm5hbWU6\r\n"},
          {"334 UGFzc3dvcmQ6\r\n"},
          {"235 2.7.0 ok\r\n"}},
         Login(),
         Greet,
         true,
         {"EHLO host.test", "AUTH LOGIN", "dXNlcg==", "c2VjcmV0"},
         kReasonConnectionBroken},
        {"AUTH refused with the server's words",
         {kGreeting, {"250-peer.test\r\n250 AUTH PLAIN\r\n"}, {"535 5.7.8 credentials invalid\r\n"}},
         Login(),
         Greet,
         false,
         {"EHLO host.test", "AUTH PLAIN AHVzZXIAc2VjcmV0"},
         "535 5.7.8 credentials invalid\r\n"},
        {"no AUTH we can speak",
         {kGreeting, {"250-peer.test\r\n250 AUTH CRAM-MD5\r\n"}},
         Login(),
         Greet,
         false,
         {"EHLO host.test"},
         kReasonNoAuth},
        {"251 to RCPT is a refusal",
         {kGreeting, kOk, kOk, {"251 2.1.5 will forward\r\n"}},
         Plain(),
         [](CSmtpSession& s) { return Greet(s) && s.MailFrom("me@a.test", 0) && s.RcptTo("you@b.test"); },
         false,
         {"EHLO host.test", "MAIL FROM:<me@a.test>", "RCPT TO:<you@b.test>"},
         "251 2.1.5 will forward\r\n"},
        {"SIZE announced: MAIL FROM says how big",
         {kGreeting, {"250-peer.test\r\n250 SIZE\r\n"}, kOk},
         Plain(),
         [](CSmtpSession& s) { return Greet(s) && s.MailFrom("me@a.test", 1234); },
         true,
         {"EHLO host.test", "MAIL FROM:<me@a.test> SIZE=1234"},
         kReasonConnectionBroken},
        {"a sender in Chinese needs SMTPUTF8",
         {kGreeting, kOk},
         Plain(),
         [](CSmtpSession& s) { return Greet(s) && s.MailFrom("小明@a.test", 0); },
         false,
         {"EHLO host.test"},
         kReasonSenderNotAscii},
        {"a command line of 12288 bytes goes out, one more byte does not",
         {kGreeting, kOk, kOk, kOk},
         Plain(),
         [&](CSmtpSession& s) {
             return Greet(s) && s.MailFrom("me@a.test", 0) && s.RcptTo(longAddress) &&
                    !s.RcptTo(longAddress + "x");
         },
         true,
         {"EHLO host.test", "MAIL FROM:<me@a.test>", "RCPT TO:<" + longAddress + ">"},
         kReasonCommandTooLong},
        {"dot-stuffing across writes",
         {kGreeting, kOk, kOk, kOk, {"354 go\r\n", false, true, "250 queued\r\n"}},
         Plain(),
         [](CSmtpSession& s) {
             return Greet(s) && s.MailFrom("me@a.test", 0) && s.RcptTo("you@b.test") && s.Data() &&
                    s.SendRaw(".a\r\n..b\r\nc.\r\n", 13) == 13 && s.SendRaw(".", 1) == 1 &&
                    s.SendRaw("\r\nd\r", 4) == 4 && s.SendRaw("\n.e", 3) == 3 && s.EndData();
         },
         true,
         {"EHLO host.test", "MAIL FROM:<me@a.test>", "RCPT TO:<you@b.test>", "DATA"},
         kReasonConnectionBroken,
         "..a\r\n...b\r\nc.\r\n..\r\nd\r\n..e\r\n"},
    };
    for (const SessionCase& c : cases) {
        ScriptedPeer peer(c.script);
        bool ok;
        std::string error;
        {
            CSmtpSession session(2, c.options);
            ok = session.Open(peer.ClientFd(), "peer.test") && c.drive(session);
            error = session.GetErrorText();
        }
        peer.Join();
        EXPECT_EQ(ok, c.ok) << c.what;
        EXPECT_EQ(peer.lines, c.heard) << c.what;
        if (!c.error.empty()) {
            EXPECT_EQ(error, c.error) << c.what;
        }
        EXPECT_EQ(peer.data, c.data) << c.what;
    }
}

}  // namespace
}  // namespace vox
