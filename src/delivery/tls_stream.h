#pragma once
// TLS over an already connected socket, through OpenSSL. Reads and writes wait on the socket's own
// readiness waits, so the time-out and the user's cancel apply inside TLS as they do in plain text.

#include <memory>
#include <string>

#include "delivery/blocking_socket.h"

struct ssl_ctx_st;
struct ssl_st;

namespace vox {

class CTlsStream : public ByteStream {
public:
    explicit CTlsStream(CBlockingSocket& socket);
    ~CTlsStream() override;

    CTlsStream(const CTlsStream&) = delete;
    CTlsStream& operator=(const CTlsStream&) = delete;

    // Runs the client handshake. verify: the certificate must chain to the system's trust store and name
    // serverName; otherwise any certificate is taken (the link is still encrypted). False with the reason
    // in *why.
    bool Handshake(const std::string& serverName, bool verify, std::string* why);
    // Authorities (a PEM file) that verification trusts instead of the system's; empty: the system's.
    void SetTrustFile(std::string path) { m_trustFile = std::move(path); }

    int Send(const char* buf, int len) override;
    int Receive(char* buf, int size) override;

private:
    // Waits as OpenSSL asks after a call that could not go on; a negative stream result, or 1.
    int WaitFor(int sslError);

    CBlockingSocket& m_socket;
    std::string m_trustFile;
    ssl_ctx_st* m_ctx = nullptr;
    ssl_st* m_ssl = nullptr;
};

}  // namespace vox
