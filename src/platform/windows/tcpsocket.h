#pragma once

#include "link/streamsocket.h"

#include <cstdint>

namespace qmr {

// A TCP connection over Winsock, non-blocking underneath so that every wait has its limit
// (select()). Each object holds its own Winsock start-up.
class TcpSocket : public StreamSocket
{
public:
    TcpSocket();
    ~TcpSocket() override;
    TcpSocket(const TcpSocket &) = delete;
    TcpSocket &operator=(const TcpSocket &) = delete;

    bool connect(const std::string &host, std::uint16_t port, std::uint32_t timeoutMs) override;
    bool send(const char *data, std::size_t count) override;
    std::int64_t receive(char *buffer, std::size_t size, std::uint32_t timeoutMs) override;
    void close() override;
    Error error() const override { return m_error; }
    std::string errorString() const override { return m_errorString; }

private:
    void setError(Error error, std::string text);
    void setSystemError(int code);

    bool m_started = false;
    std::uintptr_t m_socket; // a SOCKET; INVALID_SOCKET when there is none
    Error m_error = Error::NoError;
    std::string m_errorString;
};

} // namespace qmr
