#include "tcpsocket.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qmr {

namespace {

// A send that moves no byte for this long counts as failed: the server takes no more.
constexpr int SendStallMs = 2000;

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

bool TcpSocket::connect(const std::string &host, std::uint16_t port, std::uint32_t timeoutMs)
{
    close();
    setError(Error::NoError, {});
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
        setError(Error::HostNotFound, "cannot resolve " + host + ": " + ::gai_strerror(rc));
        return false;
    }
    setError(Error::TimedOut, "no answer from " + host);
    for (const addrinfo *a = found; a; a = a->ai_next) {
        const int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            setSystemError(errno);
            continue;
        }
        int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
        if (rc != 0 && errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            rc = ::poll(&p, 1, millisecondsLeft(end));
            if (rc == 0) {
                ::close(fd);
                setError(Error::TimedOut,
                         "no answer from " + host + " within " + std::to_string(timeoutMs) + " ms");
                break; // the time is spent
            }
            int code = 0;
            socklen_t length = sizeof code;
            if (rc > 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &length) == 0)
                rc = code == 0 ? 0 : (errno = code, -1);
            else
                rc = -1;
        }
        if (rc != 0) {
            setSystemError(errno);
            ::close(fd);
            continue;
        }
        // Nagle off: a frame's bytes leave as they are written, not held for a fuller packet.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        m_fd = fd;
        setError(Error::NoError, {});
        break;
    }
    ::freeaddrinfo(found);
    return m_fd >= 0;
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
            if (::poll(&p, 1, SendStallMs) > 0)
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
    const int ready = ::poll(&p, 1, int(timeoutMs > INT_MAX ? INT_MAX : timeoutMs));
    if (ready < 0) {
        if (errno == EINTR)
            return 0;
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
