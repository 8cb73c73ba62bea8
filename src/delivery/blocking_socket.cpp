#include "delivery/blocking_socket.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace vox {

CBlockingSocket::CBlockingSocket(int timeoutSeconds) : m_nTimeout(timeoutSeconds) {}

CBlockingSocket::~CBlockingSocket() { Close(); }

void CBlockingSocket::Close() {
    if (m_hSocket != -1) {
        ::close(m_hSocket);
        m_hSocket = -1;
    }
}

bool CBlockingSocket::Connect(const char* host, int port) {
    Close();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return false;
    // Only the first address is tried: one exchanger, one connection.
    sockaddr_in addr{};
    std::memcpy(&addr, found->ai_addr, sizeof addr);
    ::freeaddrinfo(found);
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));

    m_hSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_hSocket == -1) return false;
    if (::connect(m_hSocket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return true;
    if (errno == EINTR) {
        // Interrupted by a signal (Ctrl+C in the command-line tool): the connection goes on being made;
        // calling connect again would only say so. Wait for its outcome instead.
        pollfd pfd{m_hSocket, POLLOUT, 0};
        int rc;
        do {
            rc = ::poll(&pfd, 1, -1);
        } while (rc == -1 && errno == EINTR);
        int error = 0;
        socklen_t len = sizeof error;
        if (rc == 1 && ::getsockopt(m_hSocket, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0) return true;
    }
    Close();
    return false;
}

int CBlockingSocket::WaitReady(bool forWrite) {
    // poll rather than select: a descriptor number above FD_SETSIZE must not overrun a descriptor set.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(m_nTimeout);
    pollfd pfd{};
    pfd.fd = m_hSocket;
    pfd.events = forWrite ? POLLOUT : POLLIN;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const int rc = ::poll(&pfd, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        // A signal (Ctrl+C in the command-line tool) must not end the wait early as a failure.
        if (rc == -1 && errno == EINTR) continue;
        return rc;
    }
}

int CBlockingSocket::Send(const char* buf, int len) {
    if (m_hSocket == -1) return -1;
    int sent = 0;
    while (sent < len) {
        // Try first and wait only when the kernel cannot take anything now: a socket that is writable at
        // once would pass the wait at once anyway, and the message goes out in many small sends.
        // MSG_NOSIGNAL: a peer that hung up must give an error here, not kill the process with SIGPIPE.
        const ssize_t n =
            ::send(m_hSocket, buf + sent, static_cast<size_t>(len - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        if (WaitReady(true) == 0) return kTimedOut;
    }
    return sent;
}

int CBlockingSocket::Receive(char* buf, int size) {
    if (m_hSocket == -1) return -1;
    if (WaitReady(false) == 0) return kTimedOut;
    ssize_t n;
    do {
        n = ::recv(m_hSocket, buf, static_cast<size_t>(size), 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

}  // namespace vox
