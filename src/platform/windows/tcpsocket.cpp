#include "platform/windows/tcpsocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
// after winsock2.h
#include <mstcpip.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>

namespace qmr {

namespace {

// A send that moves no byte for this long counts as failed: the server takes no more. No send
// outlasts the link's reply window (120 ms).
constexpr std::uint32_t SendStallMs = 120;

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

bool TcpSocket::systemLookup(const std::string &host, std::vector<std::string> &addresses,
                             std::string &why)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo *found = nullptr;
    if (const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found); rc != 0) {
        why = "Winsock error " + std::to_string(rc);
        return false;
    }
    for (const addrinfo *a = found; a; a = a->ai_next)
        addresses.emplace_back(reinterpret_cast<const char *>(a->ai_addr), a->ai_addrlen);
    ::freeaddrinfo(found);
    return true;
}

void TcpSocket::keepWatch(std::uintptr_t socket)
{
    const auto s = SOCKET(socket);
    // Nagle off: a frame's bytes leave as they are written, not held for a fuller packet.
    const BOOL on = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof on);
    // A server that vanishes without a word is noticed within about LossLimitMs: keepalive
    // probes on an idle connection (2 s idle, then 10 probes 0.8 s apart),
    // a limit on retransmission on a busy one.
    tcp_keepalive alive{1, 2000, 800};
    DWORD returned = 0;
    ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &alive, sizeof alive, nullptr, 0, &returned, nullptr,
               nullptr);
#ifdef TCP_MAXRT
    const DWORD maxRetransmitSeconds = LossLimitMs / 1000;
    ::setsockopt(s, IPPROTO_TCP, TCP_MAXRT, reinterpret_cast<const char *>(&maxRetransmitSeconds),
                 sizeof maxRetransmitSeconds);
#endif
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

std::uintptr_t TcpSocket::startAttempt(const std::string &a, std::uint16_t port, bool &connected)
{
    sockaddr_storage address{};
    std::memcpy(&address, a.data(), std::min(a.size(), sizeof address));
    if (address.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6 &>(address).sin6_port = htons(port);
    else
        reinterpret_cast<sockaddr_in &>(address).sin_port = htons(port);
    const SOCKET s = ::socket(address.ss_family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        setSystemError(WSAGetLastError());
        return INVALID_SOCKET;
    }
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    connected = ::connect(s, reinterpret_cast<const sockaddr *>(&address), int(a.size())) == 0;
    if (!connected && WSAGetLastError() != WSAEWOULDBLOCK) {
        setSystemError(WSAGetLastError());
        ::closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
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
    std::vector<std::string> addresses;
    if (!resolve(host, timeoutMs, addresses))
        return false;
    setError(Error::TimedOut,
             "no answer from " + host + " within " + std::to_string(timeoutMs) + " ms");

    // Every address gets its chance (Happy Eyeballs): the next attempt starts when the last
    // one failed or AttemptDelayMs after it began, while the earlier ones go on.
    std::vector<SOCKET> pending;
    std::size_t next = 0;
    auto nextStart = std::chrono::steady_clock::now();
    SOCKET won = INVALID_SOCKET;
    while (won == INVALID_SOCKET && millisecondsLeft(end) > 0) {
        if (next < addresses.size() &&
            (pending.empty() || std::chrono::steady_clock::now() >= nextStart)) {
            bool connected = false;
            const SOCKET s = startAttempt(addresses[next++], port, connected);
            if (s == INVALID_SOCKET)
                continue;
            if (connected) {
                won = s;
                break;
            }
            pending.push_back(s);
            nextStart =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(AttemptDelayMs);
            continue;
        }
        if (pending.empty())
            break; // every address failed
        int wait = millisecondsLeft(end);
        if (next < addresses.size())
            wait = std::min(wait, std::max(1, millisecondsLeft(nextStart)));
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        for (const SOCKET s : pending) {
            FD_SET(s, &writable);
            FD_SET(s, &failed);
        }
        timeval limit = timeoutOf(std::uint32_t(wait));
        if (::select(0, nullptr, &writable, &failed, &limit) < 0) {
            setSystemError(WSAGetLastError());
            break;
        }
        for (auto s = pending.begin(); s != pending.end() && won == INVALID_SOCKET;) {
            if (FD_ISSET(*s, &writable)) {
                won = *s;
                s = pending.erase(s);
            } else if (FD_ISSET(*s, &failed)) {
                int code = 0;
                int length = sizeof code;
                ::getsockopt(*s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&code), &length);
                setSystemError(code);
                ::closesocket(*s);
                s = pending.erase(s);
            } else {
                ++s;
            }
        }
    }
    for (const SOCKET s : pending)
        ::closesocket(s);
    if (won == INVALID_SOCKET)
        return false;
    m_socket = won;
    keepWatch(m_socket);
    setError(Error::NoError, {});
    return true;
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
