#pragma once

#include "link/addresslookup.h"
#include "link/streamsocket.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qmr {

// A TCP connection over Winsock, non-blocking underneath so that every wait has its limit
// (select()): the name look-up, every address of the name, a server that vanishes. Each
// object holds its own Winsock start-up.
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

    // A second address is tried this long after the first began, the first still waited for.
    static constexpr int AttemptDelayMs = 250;
    // A connection whose server vanished silently fails within about this.
    static constexpr unsigned LossLimitMs = 8000;

private:
    static bool systemLookup(const std::string &host, std::vector<std::string> &addresses,
                             std::string &why);
    bool resolve(const std::string &host, std::uint32_t budgetMs,
                 std::vector<std::string> &addresses);
    // Starts a non-blocking connect to one address: its socket (connected already, or under
    // way), INVALID_SOCKET when it failed at once (the error set).
    std::uintptr_t startAttempt(const std::string &address, std::uint16_t port, bool &connected);
    static void keepWatch(std::uintptr_t socket);
    void setError(Error error, std::string text);
    void setSystemError(int code);

    bool m_started = false;
    std::uintptr_t m_socket; // a SOCKET; INVALID_SOCKET when there is none
    Error m_error = Error::NoError;
    std::string m_errorString;
    AddressLookup m_lookup{&TcpSocket::systemLookup};
};

} // namespace qmr
