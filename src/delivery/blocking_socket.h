#pragma once
// A minimal blocking TCP client socket, IPv6 and IPv4. Every send and receive first waits for the socket
// to become ready, so a silent or stuck peer costs at most the timeout per operation instead of hanging the
// worker; a deadline over several operations (a whole reply) cuts those waits shorter. The waits also watch
// a cancel flag, so the user's Cancel ends them within a fraction of a second.

#include <atomic>
#include <chrono>
#include <string>

#include "delivery/byte_stream.h"

namespace vox {

class CBlockingSocket : public ByteStream {
public:
    static constexpr int kTimedOut = kStreamTimedOut;
    // How often a wait looks at the cancel flag: well inside the quarter second a user may wait.
    static constexpr int kCancelSliceMs = 50;

    explicit CBlockingSocket(int timeoutSeconds = 10);
    ~CBlockingSocket() override;

    CBlockingSocket(const CBlockingSocket&) = delete;
    CBlockingSocket& operator=(const CBlockingSocket&) = delete;

    // Resolves host and connects, blocking: every address in turn, the IPv6 ones first, until one answers.
    // Each address may take the connect wait (SetConnectTimeout; else the timeout of every operation).
    // Closes an earlier connection first.
    bool Connect(const char* host, int port);
    void SetConnectTimeout(int milliseconds) { m_connectTimeoutMs = milliseconds; }
    // The last Connect failed because some address let its wait run out (a network that drops the
    // packets), not because every address refused or none could be had.
    bool ConnectTimedOut() const { return m_connectTimedOut; }

    // No wait goes past deadline until ClearDeadline: the limit of a whole reply that arrives in pieces.
    void SetDeadline(std::chrono::steady_clock::time_point deadline) { m_deadline = deadline; }
    void ClearDeadline() { m_deadline = {}; }
    // Takes over a connected descriptor (tests hand in one end of a socketpair).
    void Adopt(int fd);

    // Waits end early with kStreamCancelled once *cancel is true, after graceMs more milliseconds.
    void SetCancel(const std::atomic<bool>* cancel) { m_cancel = cancel; }
    void SetCancelGrace(int graceMs) { m_cancelGraceMs = graceMs; }

    // Sends all len bytes, waiting for writability before each part the kernel takes: len when all went
    // out, or a negative stream result.
    int Send(const char* buf, int len) override;

    // One receive of at most size bytes after a readiness wait: the count (0 = peer closed), or a negative
    // stream result.
    int Receive(char* buf, int size) override;

    // 0 on time-out, positive when ready, -1 on error, kStreamCancelled when cancelled.
    int WaitReady(bool forWrite);

    void Close();
    // Hands the descriptor over to the caller (who then closes it); the socket is left unconnected.
    int Release() {
        const int fd = m_hSocket;
        m_hSocket = -1;
        return fd;
    }
    int Handle() const { return m_hSocket; }
    int Timeout() const { return m_nTimeout; }
    // "[192.0.2.7]" or "[IPv6:2001:db8::7]": the address literal of this connection's own end; empty when
    // not connected.
    std::string LocalAddressLiteral() const;

private:
    // One address: true when connected; a time-out sets m_connectTimedOut.
    bool ConnectTo(const void* address, unsigned length, int family);

    int m_nTimeout;
    int m_connectTimeoutMs = 0;
    bool m_connectTimedOut = false;
    std::chrono::steady_clock::time_point m_deadline{};
    int m_hSocket = -1;
    const std::atomic<bool>* m_cancel = nullptr;
    int m_cancelGraceMs = 0;
};

}  // namespace vox
