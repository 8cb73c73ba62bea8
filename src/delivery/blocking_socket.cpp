#include "delivery/blocking_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace vox {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

CBlockingSocket::CBlockingSocket(int timeoutSeconds) : m_nTimeout(timeoutSeconds) {}

CBlockingSocket::~CBlockingSocket() {
    Close();
}

void CBlockingSocket::Close() {
    if (m_hSocket != -1) {
        ::close(m_hSocket);
        m_hSocket = -1;
    }
}

void CBlockingSocket::Adopt(int fd) {
    Close();
    m_hSocket = fd;
    // The descriptor stays non-blocking: every wait is ours (time-out and cancel), and TLS over it relies
    // on reads and writes that return instead of blocking.
    ::fcntl(m_hSocket, F_SETFL, ::fcntl(m_hSocket, F_GETFL) | O_NONBLOCK);
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

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd == -1) return false;
    m_hSocket = fd;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return true;
    if (errno != EINPROGRESS && errno != EINTR) {
        Close();
        return false;
    }
    // The kernel's own connect time-out applies, as for a blocking connect; only Cancel ends it sooner.
    pollfd pfd{fd, POLLOUT, 0};
    for (;;) {
        if (m_cancel != nullptr && m_cancel->load()) {
            Close();
            return false;
        }
        const int rc = ::poll(&pfd, 1, kCancelSliceMs);
        if (rc == 0 || (rc == -1 && errno == EINTR)) continue;
        int error = 0;
        socklen_t len = sizeof error;
        if (rc == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0) return true;
        Close();
        return false;
    }
}

std::string CBlockingSocket::LocalAddressLiteral() const {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (m_hSocket == -1 || ::getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        addr.sin_family != AF_INET)
        return "";
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    return std::string("[") + text + "]";
}

int CBlockingSocket::WaitReady(bool forWrite) {
    // poll rather than select: a descriptor number above FD_SETSIZE must not overrun a descriptor set.
    // The wait is cut into short slices so a cancel request is seen quickly.
    const auto deadline = Clock::now() + std::chrono::seconds(m_nTimeout);
    Clock::time_point cancelSeen{};
    pollfd pfd{};
    pfd.fd = m_hSocket;
    pfd.events = forWrite ? POLLOUT : POLLIN;
    for (;;) {
        int slice = MillisecondsUntil(deadline);
        if (m_cancel != nullptr && m_cancel->load()) {
            if (cancelSeen == Clock::time_point{}) cancelSeen = Clock::now();
            const int grace =
                m_cancelGraceMs -
                static_cast<int>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - cancelSeen).count());
            if (grace <= 0) return kStreamCancelled;
            if (grace < slice) slice = grace;
        }
        if (m_cancel != nullptr && slice > kCancelSliceMs) slice = kCancelSliceMs;
        const int rc = ::poll(&pfd, 1, slice);
        // A signal (Ctrl+C in the command-line tool) must not end the wait early as a failure.
        if (rc == -1 && errno == EINTR) continue;
        if (rc != 0) return rc;
        if (MillisecondsUntil(deadline) == 0) return 0;
    }
}

int CBlockingSocket::Send(const char* buf, int len) {
    if (m_hSocket == -1) return kStreamError;
    int sent = 0;
    while (sent < len) {
        // Try first and wait only when the kernel cannot take anything now.
        // MSG_NOSIGNAL: a peer that hung up must give an error here, not kill the process with SIGPIPE.
        const ssize_t n =
            ::send(m_hSocket, buf + sent, static_cast<size_t>(len - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return kStreamError;
        const int ready = WaitReady(true);
        if (ready == 0) return kStreamTimedOut;
        if (ready == kStreamCancelled) return kStreamCancelled;
    }
    return sent;
}

int CBlockingSocket::Receive(char* buf, int size) {
    if (m_hSocket == -1) return kStreamError;
    for (;;) {
        const int ready = WaitReady(false);
        if (ready == 0) return kStreamTimedOut;
        if (ready == kStreamCancelled) return kStreamCancelled;
        const ssize_t n = ::recv(m_hSocket, buf, static_cast<size_t>(size), MSG_DONTWAIT);
        if (n >= 0) return static_cast<int>(n);
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return kStreamError;
    }
}

}  // namespace vox
