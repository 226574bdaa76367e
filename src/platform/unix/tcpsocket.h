#pragma once

#include "link/streamsocket.h"

namespace qmr {

// A TCP connection over POSIX sockets, non-blocking underneath so that every wait has its
// limit (poll()).
class TcpSocket : public StreamSocket
{
public:
    TcpSocket() = default;
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

    int m_fd = -1;
    Error m_error = Error::NoError;
    std::string m_errorString;
};

} // namespace qmr
