#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qmr {

// A TCP connection as the network serial port uses it. Each platform has its own (POSIX
// sockets, Winsock); tests give a scripted one. One object serves one connection at a time.
class StreamSocket
{
public:
    enum class Error
    {
        NoError,
        HostNotFound, // the name does not resolve
        Refused,      // the host answered: nobody listens on that port
        TimedOut,     // the host did not answer in time
        Closed,       // the other end closed the connection
        Other,
    };

    virtual ~StreamSocket() = default;
    // Connects to host:port, giving up after timeoutMs. Nagle's algorithm is off, so every
    // send leaves at once. False with error()/errorString() set.
    virtual bool connect(const std::string &host, std::uint16_t port, std::uint32_t timeoutMs) = 0;
    // Sends all count bytes; false when the connection failed.
    virtual bool send(const char *data, std::size_t count) = 0;
    // Waits at most timeoutMs for bytes and returns how many it put in buffer: 0 when none
    // came, -1 when the connection closed or failed.
    virtual std::int64_t receive(char *buffer, std::size_t size, std::uint32_t timeoutMs) = 0;
    virtual void close() = 0;
    virtual Error error() const = 0;
    virtual std::string errorString() const = 0;
};

} // namespace qmr
