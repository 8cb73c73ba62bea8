#pragma once
// A minimal blocking IPv4 TCP client socket. Every send and receive first waits for the socket to become
// ready, so a silent or stuck peer costs at most the timeout per operation instead of hanging the worker.

namespace vox {

class CBlockingSocket {
public:
    static constexpr int kTimedOut = -2;

    explicit CBlockingSocket(int timeoutSeconds = 10);
    virtual ~CBlockingSocket();

    CBlockingSocket(const CBlockingSocket&) = delete;
    CBlockingSocket& operator=(const CBlockingSocket&) = delete;

    // Resolves host (first IPv4 address only) and connects, blocking. Closes an earlier connection first.
    bool Connect(const char* host, int port);

    // Sends all len bytes, waiting for writability before each part the kernel takes: len when all went
    // out, -1 on a socket error, kTimedOut when the socket stayed unwritable for the whole timeout.
    int Send(const char* buf, int len);

    // One receive of at most size bytes after a readiness wait: the count (0 = peer closed), -1 on a socket
    // error, kTimedOut when nothing arrived within the timeout.
    int Receive(char* buf, int size);

    // 0 on time-out, positive when ready, -1 on error.
    int WaitReady(bool forWrite);

    void Close();
    int Timeout() const { return m_nTimeout; }

private:
    int m_nTimeout;
    int m_hSocket = -1;
};

}  // namespace vox
