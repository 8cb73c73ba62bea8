#include "delivery/blocking_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

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
    m_connectTimedOut = false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return false;
    // Every address of the host is worth a try before the caller gives up on it, IPv6 first: a host may
    // answer on one family and not the other. The resolver's order stays within each family.
    std::vector<sockaddr_storage> addresses;
    for (int family : {AF_INET6, AF_INET})
        for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
            if (a->ai_family != family || a->ai_addrlen > sizeof(sockaddr_storage)) continue;
            sockaddr_storage address{};
            std::memcpy(&address, a->ai_addr, a->ai_addrlen);
            const bool seen = std::any_of(addresses.begin(), addresses.end(), [&](const sockaddr_storage& s) {
                return std::memcmp(&s, &address, sizeof address) == 0;
            });
            if (!seen) addresses.push_back(address);
        }
    ::freeaddrinfo(found);
    for (sockaddr_storage& address : addresses) {
        if (m_cancel != nullptr && m_cancel->load()) return false;
        const int family = address.ss_family;
        if (family == AF_INET6) {
            reinterpret_cast<sockaddr_in6*>(&address)->sin6_port = htons(static_cast<uint16_t>(port));
            if (ConnectTo(&address, sizeof(sockaddr_in6), family)) return true;
        } else {
            reinterpret_cast<sockaddr_in*>(&address)->sin_port = htons(static_cast<uint16_t>(port));
            if (ConnectTo(&address, sizeof(sockaddr_in), family)) return true;
        }
    }
    return false;
}

bool CBlockingSocket::ConnectTo(const void* address, unsigned length, int family) {
    Close();
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd == -1) return false;
    m_hSocket = fd;
    if (::connect(fd, static_cast<const sockaddr*>(address), length) == 0) return true;
    if (errno != EINPROGRESS && errno != EINTR) {
        Close();
        return false;
    }
    // A network that drops the packets would hold the kernel's own connect for minutes.
    const int limitMs = m_connectTimeoutMs > 0 ? m_connectTimeoutMs : m_nTimeout * 1000;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    pollfd pfd{fd, POLLOUT, 0};
    for (;;) {
        if (m_cancel != nullptr && m_cancel->load()) {
            Close();
            return false;
        }
        const int left = MillisecondsUntil(deadline);
        if (left == 0) {
            m_connectTimedOut = true;
            Close();
            return false;
        }
        const int rc = ::poll(&pfd, 1, std::min(left, static_cast<int>(kCancelSliceMs)));
        if (rc == 0 || (rc == -1 && errno == EINTR)) continue;
        int error = 0;
        socklen_t len = sizeof error;
        if (rc == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0) return true;
        if (error == ETIMEDOUT) m_connectTimedOut = true;
        Close();
        return false;
    }
}

std::string CBlockingSocket::LocalAddressLiteral() const {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (m_hSocket == -1 || ::getsockname(m_hSocket, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return "";
    char text[INET6_ADDRSTRLEN] = {};
    if (addr.ss_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&addr)->sin_addr, text, sizeof text);
        return std::string("[") + text + "]";
    }
    if (addr.ss_family == AF_INET6) {
        // RFC 5321's literal for an IPv6 address carries its tag.
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_addr, text, sizeof text);
        return std::string("[IPv6:") + text + "]";
    }
    return "";
}

int CBlockingSocket::WaitReady(bool forWrite) {
    // poll rather than select: a descriptor number above FD_SETSIZE must not overrun a descriptor set.
    // The wait is cut into short slices so a cancel request is seen quickly.
    auto deadline = Clock::now() + std::chrono::seconds(m_nTimeout);
    if (m_deadline != Clock::time_point{} && m_deadline < deadline) deadline = m_deadline;
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
