#include "delivery/tls_stream.h"
#include "base/translate.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <pthread.h>
#include <signal.h>

#include <cerrno>

namespace vox {

namespace {

// OpenSSL writes to the socket without MSG_NOSIGNAL, so a server that hung up would kill the whole
// process with SIGPIPE. The signal is held back on this thread for the call and a pending one taken away,
// which leaves the rest of the process (and its own SIGPIPE handling) alone.
class HoldSigpipe {
public:
    HoldSigpipe() {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        m_wasPending = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe, &m_previous);
    }
    ~HoldSigpipe() {
        sigset_t pending;
        sigpending(&pending);
        if (!m_wasPending && sigismember(&pending, SIGPIPE) == 1) {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            const timespec now{0, 0};
            while (sigtimedwait(&pipe, nullptr, &now) == -1 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
    }
    HoldSigpipe(const HoldSigpipe&) = delete;
    HoldSigpipe& operator=(const HoldSigpipe&) = delete;

private:
    sigset_t m_previous;
    bool m_wasPending = false;
};

std::string LastOpenSslError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return Tr("握手期间连接中断");
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

}  // namespace

CTlsStream::CTlsStream(CBlockingSocket& socket) : m_socket(socket) {}

CTlsStream::~CTlsStream() {
    if (m_ssl != nullptr) SSL_free(m_ssl);
    if (m_ctx != nullptr) SSL_CTX_free(m_ctx);
}

int CTlsStream::WaitFor(int sslError) {
    int ready;
    if (sslError == SSL_ERROR_WANT_READ)
        ready = m_socket.WaitReady(false);
    else if (sslError == SSL_ERROR_WANT_WRITE)
        ready = m_socket.WaitReady(true);
    else
        return kStreamError;
    if (ready == 0) return kStreamTimedOut;
    if (ready < 0) return ready == kStreamCancelled ? kStreamCancelled : kStreamError;
    return 1;
}

bool CTlsStream::Handshake(const std::string& serverName, bool verify, std::string* why) {
    ERR_clear_error();
    m_ctx = SSL_CTX_new(TLS_client_method());
    if (m_ctx == nullptr) {
        *why = LastOpenSslError();
        return false;
    }
    SSL_CTX_set_min_proto_version(m_ctx, TLS1_2_VERSION);
    // A server that drops the connection without a close_notify has still said all it said.
    SSL_CTX_set_options(m_ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    if (verify) {
        if (m_trustFile.empty()) {
            SSL_CTX_set_default_verify_paths(m_ctx);
        } else if (SSL_CTX_load_verify_locations(m_ctx, m_trustFile.c_str(), nullptr) != 1) {
            *why = m_trustFile + ": " + LastOpenSslError();
            return false;
        }
        SSL_CTX_set_verify(m_ctx, SSL_VERIFY_PEER, nullptr);
    } else {
        SSL_CTX_set_verify(m_ctx, SSL_VERIFY_NONE, nullptr);
    }
    m_ssl = SSL_new(m_ctx);
    if (m_ssl == nullptr || SSL_set_fd(m_ssl, m_socket.Handle()) != 1) {
        *why = LastOpenSslError();
        return false;
    }
    SSL_set_tlsext_host_name(m_ssl, serverName.c_str());
    const HoldSigpipe hold;
    if (verify) SSL_set1_host(m_ssl, serverName.c_str());
    for (;;) {
        const int rc = SSL_connect(m_ssl);
        if (rc == 1) return true;
        const int error = SSL_get_error(m_ssl, rc);
        const int waited = WaitFor(error);
        if (waited == 1) continue;
        if (verify && SSL_get_verify_result(m_ssl) != X509_V_OK) {
            *why = X509_verify_cert_error_string(SSL_get_verify_result(m_ssl));
            ERR_clear_error();
        } else if (waited == kStreamTimedOut || waited == kStreamCancelled) {
            *why = waited == kStreamTimedOut ? Tr("握手期间没有应答") : Tr("已取消");
        } else {
            *why = LastOpenSslError();
        }
        return false;
    }
}

int CTlsStream::Send(const char* buf, int len) {
    const HoldSigpipe hold;
    int sent = 0;
    while (sent < len) {
        ERR_clear_error();
        const int rc = SSL_write(m_ssl, buf + sent, len - sent);
        if (rc > 0) {
            sent += rc;
            continue;
        }
        const int waited = WaitFor(SSL_get_error(m_ssl, rc));
        if (waited != 1) return waited;
    }
    return sent;
}

int CTlsStream::Receive(char* buf, int size) {
    const HoldSigpipe hold;
    for (;;) {
        ERR_clear_error();
        const int rc = SSL_read(m_ssl, buf, size);
        if (rc > 0) return rc;
        const int error = SSL_get_error(m_ssl, rc);
        if (error == SSL_ERROR_ZERO_RETURN) return 0;
        const int waited = WaitFor(error);
        if (waited != 1) return waited;
    }
}

}  // namespace vox
