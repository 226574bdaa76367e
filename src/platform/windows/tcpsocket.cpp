#include "platform/windows/tcpsocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <climits>

namespace qmr {

namespace {

// A send that moves no byte for this long counts as failed: the server takes no more.
constexpr std::uint32_t SendStallMs = 2000;

timeval timeoutOf(std::uint32_t ms)
{
    return {long(ms / 1000), long(ms % 1000) * 1000};
}

// Waits until the socket is readable (or writable), at most ms; > 0 ready, 0 not, < 0 failed.
int waitFor(SOCKET s, bool write, std::uint32_t ms)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    timeval limit = timeoutOf(ms);
    return ::select(0, write ? nullptr : &set, write ? &set : nullptr, &failed, &limit);
}

int millisecondsLeft(std::chrono::steady_clock::time_point end)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    return left < 0 ? 0 : int(left > INT_MAX ? INT_MAX : left);
}

} // namespace

TcpSocket::TcpSocket() : m_socket(INVALID_SOCKET)
{
    WSADATA data;
    m_started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

TcpSocket::~TcpSocket()
{
    close();
    if (m_started)
        WSACleanup();
}

void TcpSocket::setError(Error error, std::string text)
{
    m_error = error;
    m_errorString = std::move(text);
}

void TcpSocket::setSystemError(int code)
{
    switch (code) {
    case WSAECONNREFUSED:
        setError(Error::Refused, "connection refused");
        break;
    case WSAETIMEDOUT:
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
        setError(Error::TimedOut,
                 "the host does not answer (Winsock error " + std::to_string(code) + ")");
        break;
    case WSAECONNRESET:
    case WSAECONNABORTED:
        setError(Error::Closed, "the server closed the connection");
        break;
    default:
        setError(Error::Other, "Winsock error " + std::to_string(code));
        break;
    }
}

bool TcpSocket::connect(const std::string &host, std::uint16_t port, std::uint32_t timeoutMs)
{
    close();
    setError(Error::NoError, {});
    if (!m_started) {
        setError(Error::Other, "Winsock did not start");
        return false;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo *found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0) {
        setError(Error::HostNotFound, "cannot resolve " + host);
        return false;
    }
    setError(Error::TimedOut, "no answer from " + host);
    for (const addrinfo *a = found; a; a = a->ai_next) {
        const SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET) {
            setSystemError(WSAGetLastError());
            continue;
        }
        u_long nonBlocking = 1;
        ::ioctlsocket(s, FIONBIO, &nonBlocking);
        int rc = ::connect(s, a->ai_addr, int(a->ai_addrlen));
        if (rc != 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
            rc = waitFor(s, true, std::uint32_t(millisecondsLeft(end)));
            if (rc == 0) {
                ::closesocket(s);
                setError(Error::TimedOut,
                         "no answer from " + host + " within " + std::to_string(timeoutMs) + " ms");
                break; // the time is spent
            }
            int code = 0;
            int length = sizeof code;
            if (rc > 0 && ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&code),
                                       &length) == 0)
                rc = code == 0 ? 0 : (WSASetLastError(code), -1);
            else
                rc = -1;
        }
        if (rc != 0) {
            setSystemError(WSAGetLastError());
            ::closesocket(s);
            continue;
        }
        // Nagle off: a frame's bytes leave as they are written, not held for a fuller packet.
        const BOOL on = TRUE;
        ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof on);
        m_socket = s;
        setError(Error::NoError, {});
        break;
    }
    ::freeaddrinfo(found);
    return m_socket != INVALID_SOCKET;
}

bool TcpSocket::send(const char *data, std::size_t count)
{
    if (m_socket == INVALID_SOCKET) {
        setError(Error::Closed, "not connected");
        return false;
    }
    const auto s = SOCKET(m_socket);
    std::size_t sent = 0;
    while (sent < count) {
        const int chunk = int(count - sent > INT_MAX ? INT_MAX : count - sent);
        const int n = ::send(s, data + sent, chunk, 0);
        if (n > 0) {
            sent += std::size_t(n);
            continue;
        }
        const int code = WSAGetLastError();
        if (n < 0 && code == WSAEWOULDBLOCK) {
            if (waitFor(s, true, SendStallMs) > 0)
                continue;
            setError(Error::Other, "the server takes no more bytes");
            return false;
        }
        setSystemError(code);
        return false;
    }
    return true;
}

std::int64_t TcpSocket::receive(char *buffer, std::size_t size, std::uint32_t timeoutMs)
{
    if (m_socket == INVALID_SOCKET) {
        setError(Error::Closed, "not connected");
        return -1;
    }
    const auto s = SOCKET(m_socket);
    const int ready = waitFor(s, false, timeoutMs);
    if (ready < 0) {
        setSystemError(WSAGetLastError());
        return -1;
    }
    if (ready == 0)
        return 0;
    const int n = ::recv(s, buffer, int(size > INT_MAX ? INT_MAX : size), 0);
    if (n > 0)
        return n;
    if (n == 0) {
        setError(Error::Closed, "the server closed the connection");
        return -1;
    }
    const int code = WSAGetLastError();
    if (code == WSAEWOULDBLOCK)
        return 0;
    setSystemError(code);
    return -1;
}

void TcpSocket::close()
{
    if (m_socket != INVALID_SOCKET) {
        ::closesocket(SOCKET(m_socket));
        m_socket = INVALID_SOCKET;
    }
}

} // namespace qmr
