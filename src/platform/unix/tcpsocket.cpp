#include "tcpsocket.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qmr {

namespace {

// A send that moves no byte for this long counts as failed: the server takes no more. No send
// outlasts the link's reply window (120 ms).
constexpr int SendStallMs = 120;

int millisecondsLeft(std::chrono::steady_clock::time_point end)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    return left < 0 ? 0 : int(left > INT_MAX ? INT_MAX : left);
}

} // namespace

TcpSocket::~TcpSocket()
{
    close();
}

void TcpSocket::setError(Error error, std::string text)
{
    m_error = error;
    m_errorString = std::move(text);
}

void TcpSocket::setSystemError(int code)
{
    switch (code) {
    case ECONNREFUSED:
        setError(Error::Refused, "connection refused");
        break;
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
        setError(Error::TimedOut, std::strerror(code));
        break;
    case ECONNRESET:
    case EPIPE:
        setError(Error::Closed, "the server closed the connection");
        break;
    default:
        setError(Error::Other, std::strerror(code));
        break;
    }
}

bool TcpSocket::resolve(const std::string &host, std::uint32_t budgetMs,
                        std::vector<std::string> &addresses)
{
    std::string why;
    switch (m_lookup.find(host, budgetMs, addresses, why)) {
    case AddressLookup::Outcome::TimedOut:
        setError(Error::TimedOut, "cannot resolve " + host + ": " + why);
        return false;
    case AddressLookup::Outcome::NotFound:
        setError(Error::HostNotFound, "cannot resolve " + host + ": " + why);
        return false;
    case AddressLookup::Outcome::Found:
        break;
    }
    return true;
}

bool TcpSocket::systemLookup(const std::string &host, std::vector<std::string> &addresses,
                             std::string &why)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0) {
        why = ::gai_strerror(rc);
        return false;
    }
    for (const addrinfo *a = found; a; a = a->ai_next)
        addresses.emplace_back(reinterpret_cast<const char *>(a->ai_addr), a->ai_addrlen);
    ::freeaddrinfo(found);
    return true;
}

void TcpSocket::keepWatch(int fd)
{
    // Nagle off: a frame's bytes leave as they are written, not held for a fuller packet.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // A server that vanishes without a word is noticed within about LossLimitMs: keepalive
    // probes on an idle connection, a limit on unacknowledged data on a busy one.
    const int idle = 2;
    const int interval = 1;
    const int count = 5;
    const unsigned userTimeout = LossLimitMs;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
}

int TcpSocket::startAttempt(const std::string &a, std::uint16_t port, bool &connected)
{
    sockaddr_storage address{};
    std::memcpy(&address, a.data(), std::min(a.size(), sizeof address));
    if (address.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6 &>(address).sin6_port = htons(port);
    else
        reinterpret_cast<sockaddr_in &>(address).sin_port = htons(port);
    const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        setSystemError(errno);
        return -1;
    }
    connected =
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), socklen_t(a.size())) == 0;
    if (!connected && errno != EINPROGRESS) {
        setSystemError(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

bool TcpSocket::connect(const std::string &host, std::uint16_t port, std::uint32_t timeoutMs)
{
    close();
    setError(Error::NoError, {});
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<std::string> addresses;
    if (!resolve(host, timeoutMs, addresses))
        return false;
    setError(Error::TimedOut,
             "no answer from " + host + " within " + std::to_string(timeoutMs) + " ms");

    // Every address gets its chance (Happy Eyeballs): the next attempt starts when the last
    // one failed or AttemptDelayMs after it began, while the earlier ones go on.
    std::vector<pollfd> pending;
    std::size_t next = 0;
    auto nextStart = std::chrono::steady_clock::now();
    while (m_fd < 0 && millisecondsLeft(end) > 0) {
        if (next < addresses.size() &&
            (pending.empty() || std::chrono::steady_clock::now() >= nextStart)) {
            bool connected = false;
            const int fd = startAttempt(addresses[next++], port, connected);
            if (fd < 0)
                continue;
            if (connected) {
                m_fd = fd;
                break;
            }
            pending.push_back({fd, POLLOUT, 0});
            nextStart =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(AttemptDelayMs);
            continue;
        }
        if (pending.empty())
            break; // every address failed
        int wait = millisecondsLeft(end);
        if (next < addresses.size())
            wait = std::min(wait, std::max(1, millisecondsLeft(nextStart)));
        if (::poll(pending.data(), nfds_t(pending.size()), wait) < 0 && errno != EINTR) {
            setSystemError(errno);
            break;
        }
        for (auto p = pending.begin(); p != pending.end() && m_fd < 0;) {
            if (p->revents == 0) {
                ++p;
                continue;
            }
            int code = 0;
            socklen_t length = sizeof code;
            if (::getsockopt(p->fd, SOL_SOCKET, SO_ERROR, &code, &length) != 0)
                code = errno;
            if (code == 0) {
                m_fd = p->fd;
                p = pending.erase(p);
            } else {
                setSystemError(code);
                ::close(p->fd);
                p = pending.erase(p);
            }
        }
    }
    for (const pollfd &p : pending)
        ::close(p.fd);
    if (m_fd < 0)
        return false;
    keepWatch(m_fd);
    setError(Error::NoError, {});
    return true;
}

bool TcpSocket::send(const char *data, std::size_t count)
{
    if (m_fd < 0) {
        setError(Error::Closed, "not connected");
        return false;
    }
    std::size_t sent = 0;
    while (sent < count) {
        const ssize_t n = ::send(m_fd, data + sent, count - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{m_fd, POLLOUT, 0};
            const auto end =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(SendStallMs);
            int ready = 0;
            do
                ready = ::poll(&p, 1, millisecondsLeft(end));
            while (ready < 0 && errno == EINTR);
            if (ready > 0)
                continue;
            setError(Error::Other, "the server takes no more bytes");
            return false;
        }
        setSystemError(n < 0 ? errno : EPIPE);
        return false;
    }
    return true;
}

std::int64_t TcpSocket::receive(char *buffer, std::size_t size, std::uint32_t timeoutMs)
{
    if (m_fd < 0) {
        setError(Error::Closed, "not connected");
        return -1;
    }
    pollfd p{m_fd, POLLIN, 0};
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int ready = 0;
    do // a signal does not cut the wait short: it goes on for the time left
        ready = ::poll(&p, 1, millisecondsLeft(end));
    while (ready < 0 && errno == EINTR);
    if (ready < 0) {
        setSystemError(errno);
        return -1;
    }
    if (ready == 0)
        return 0;
    const ssize_t n = ::recv(m_fd, buffer, size, 0);
    if (n > 0)
        return n;
    if (n == 0) {
        setError(Error::Closed, "the server closed the connection");
        return -1;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return 0;
    setSystemError(errno);
    return -1;
}

void TcpSocket::close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

} // namespace qmr
