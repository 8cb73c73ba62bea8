#pragma once
// A minimal blocking IPv4 TCP client socket. Every send and receive first waits for the socket to become
// ready, so a silent or stuck peer costs at most the timeout per operation instead of hanging the worker.
// The waits also watch a cancel flag, so the user's Cancel ends them within a fraction of a second.

#include <atomic>
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

    // Resolves host (first IPv4 address only) and connects, blocking. Closes an earlier connection first.
    bool Connect(const char* host, int port);
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
    // "[192.0.2.7]": the address literal of this connection's own end; empty when not connected.
    std::string LocalAddressLiteral() const;

private:
    int m_nTimeout;
    int m_hSocket = -1;
    const std::atomic<bool>* m_cancel = nullptr;
    int m_cancelGraceMs = 0;
};

}  // namespace vox
