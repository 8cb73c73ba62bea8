#pragma once
// The far end of a socketpair playing an SMTP server from a script, on a thread of its own: for tests of
// the session that need no network, no root and no real server. It can switch to TLS (a certificate made
// on the spot) after any reply, so the STARTTLS path runs for real.

#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

namespace vox::test {

struct PeerStep {
    PeerStep(std::string reply_, bool startTls_ = false, bool takeData_ = false, std::string afterData_ = "",
             bool hangUp_ = false)
        : reply(std::move(reply_)),
          startTls(startTls_),
          takeData(takeData_),
          afterData(std::move(afterData_)),
          hangUp(hangUp_) {}
    std::string reply;      // bytes written after the client's line (or at once, for the first step)
    bool startTls = false;  // after writing reply, run a TLS handshake as the server
    bool takeData = false;  // after writing reply, read message data up to the end-of-data line
    std::string afterData;  // written once the end-of-data line is in
    bool hangUp = false;    // after writing reply, close the connection
};

class ScriptedPeer {
public:
    // The first step is the greeting; every later step answers one line of the client.
    explicit ScriptedPeer(std::vector<PeerStep> steps) : m_steps(std::move(steps)) {
        int fds[2];
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
        m_client = fds[0];
        m_fd = fds[1];
        m_thread = std::thread([this] { Run(); });
    }
    ~ScriptedPeer() {
        Join();
        if (m_ssl != nullptr) SSL_free(m_ssl);
        if (m_ctx != nullptr) SSL_CTX_free(m_ctx);
        ::close(m_fd);
    }
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    // The client's end; the session takes it over.
    int ClientFd() const { return m_client; }
    void Join() {
        if (m_thread.joinable()) m_thread.join();
    }
    // Lines the client sent (without CR LF), the message data as it came over the wire, and whether the
    // lines after STARTTLS came encrypted.
    std::vector<std::string> lines;
    std::string data;
    bool tlsUsed = false;

private:
    void Write(const std::string& bytes) {
        if (bytes.empty()) return;
        if (m_ssl != nullptr)
            SSL_write(m_ssl, bytes.data(), static_cast<int>(bytes.size()));
        else
            (void)!::write(m_fd, bytes.data(), bytes.size());
    }
    int Read(char* buf, int size) {
        if (m_ssl != nullptr) return SSL_read(m_ssl, buf, size);
        return static_cast<int>(::read(m_fd, buf, static_cast<std::size_t>(size)));
    }
    // One line from the client; false when it closed.
    bool ReadLine(std::string& line) {
        for (;;) {
            const std::size_t end = m_buffer.find("\r\n");
            if (end != std::string::npos) {
                line = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 2);
                return true;
            }
            char buf[4096];
            const int n = Read(buf, sizeof buf);
            if (n <= 0) return false;
            m_buffer.append(buf, static_cast<std::size_t>(n));
        }
    }
    void TakeData() {
        for (;;) {
            const std::size_t end = m_buffer.find("\r\n.\r\n");
            if (end != std::string::npos) {
                data = m_buffer.substr(0, end + 2);
                m_buffer.erase(0, end + 5);
                return;
            }
            char buf[4096];
            const int n = Read(buf, sizeof buf);
            if (n <= 0) return;
            m_buffer.append(buf, static_cast<std::size_t>(n));
        }
    }
    void StartTls() {
        m_buffer.clear();
        m_ctx = SSL_CTX_new(TLS_server_method());
        EVP_PKEY* key = EVP_EC_gen("P-256");
        X509* cert = X509_new();
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), 0);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("peer.test"), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        X509_sign(cert, key, EVP_sha256());
        SSL_CTX_use_certificate(m_ctx, cert);
        SSL_CTX_use_PrivateKey(m_ctx, key);
        X509_free(cert);
        EVP_PKEY_free(key);
        m_ssl = SSL_new(m_ctx);
        SSL_set_fd(m_ssl, m_fd);
        tlsUsed = SSL_accept(m_ssl) == 1;
        if (!tlsUsed) {
            SSL_free(m_ssl);
            m_ssl = nullptr;
        }
    }
    void Run() {
        for (std::size_t i = 0; i < m_steps.size(); ++i) {
            if (i > 0) {
                std::string line;
                if (!ReadLine(line)) return;
                lines.push_back(line);
            }
            Write(m_steps[i].reply);
            if (m_steps[i].hangUp) {
                ::shutdown(m_fd, SHUT_RDWR);
                return;
            }
            if (m_steps[i].startTls) {
                StartTls();
                if (!tlsUsed) return;
            }
            if (m_steps[i].takeData) {
                TakeData();
                Write(m_steps[i].afterData);
            }
        }
        // Whatever the client says after the script is over is still heard, up to its close.
        std::string line;
        while (ReadLine(line)) lines.push_back(line);
    }

    std::vector<PeerStep> m_steps;
    int m_client = -1;
    int m_fd = -1;
    std::string m_buffer;
    SSL_CTX* m_ctx = nullptr;
    SSL* m_ssl = nullptr;
    std::thread m_thread;
};

}  // namespace vox::test
