#pragma once
// The SMTP client as the delivery attempt sees it. CSmtpSession is the real one; tests and benchmarks put
// their own in its place to drive the delivery job without a mail server.

#include <atomic>
#include <cstdint>
#include <string>

namespace vox {

enum class TlsMode {
    Off,            // plain text throughout (the retry after a broken handshake)
    Opportunistic,  // STARTTLS when the server offers it; an unverified certificate still encrypts
    Required,       // STARTTLS or nothing (a relay on port 587)
    Implicit,       // TLS from the first byte (a relay on port 465)
};

// How one conversation is held.
struct SessionOptions {
    int port = 25;
    TlsMode tls = TlsMode::Opportunistic;
    bool verifyPeer = false;  // the certificate must chain to the system's trust store and name the host
    std::string trustFile;    // PEM authorities to verify against instead of the system's; empty: system
    std::string user;         // AUTH PLAIN or LOGIN when not empty
    std::string password;
    const std::atomic<bool>* cancel = nullptr;  // ends every wait soon after it turns true
    // Limits over and above the wait for each piece (RFC 5321 4.5.3.2 gives the two reply limits): a
    // connect to one address, a whole reply however slowly it drips in, the reply to the end of data,
    // which a server may spend minutes on, and the answer to QUIT, of no use once the mail is taken.
    int connectTimeoutMs = 0;  // 0: the wait for each piece
    int replyTimeoutMs = 60 * 1000;
    int endDataTimeoutMs = 10 * 60 * 1000;
    int quitTimeoutMs = 2 * 1000;
};

class SmtpConversation {
public:
    virtual ~SmtpConversation() = default;
    virtual bool Connect(const std::string& host) = 0;
    // EHLO (HELO when refused), STARTTLS and EHLO again, and AUTH, as the options ask. An empty name
    // greets with the address literal of the connection's own end.
    virtual bool Greet(const std::string& name) = 0;
    // messageSize: announced with SIZE= where the server takes it; 0 announces nothing.
    virtual bool MailFrom(const std::string& sender, std::uint64_t messageSize) = 0;
    virtual bool RcptTo(const std::string& recipient) = 0;
    virtual bool Data() = 0;
    virtual int SendRaw(const char* bytes, int count) = 0;  // negative: failed
    virtual bool EndData() = 0;
    virtual bool Quit() = 0;
    // Why the conversation failed; clears the text it held.
    virtual std::string GetErrorText() = 0;

    // The text of the last reply the server gave (what a report shows for a delivered recipient).
    virtual std::string LastReply() const { return ""; }
    virtual bool Encrypted() const { return false; }
    // The TLS handshake failed: the same server may still take the mail in plain text.
    virtual bool TlsFailed() const { return false; }
    // The server refused the login (its words are the error text): the user name or password is wrong.
    virtual bool LoginRefused() const { return false; }
    // Connect failed because an address let its wait run out rather than refusing.
    virtual bool ConnectTimedOut() const { return false; }
    // The SIZE limit the server announced; 0 when it announced none.
    virtual std::uint64_t SizeLimit() const { return 0; }
};

}  // namespace vox
