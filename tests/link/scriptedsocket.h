#pragma once

#include "link/streamsocket.h"
#include "link/telnetsession.h"
#include "sim/fakeclock.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <string>

namespace qmr {

// A TCP connection to a scripted server on a fake clock. The server's bytes come from a queue
// of chunks (one chunk per receive); a test, or the server function called with every send,
// adds to it. A receive with nothing queued costs its whole timeout of fake time.
class ScriptedSocket : public StreamSocket
{
public:
    explicit ScriptedSocket(FakeClock &clock) : m_clock(clock) {}

    // What the server does with bytes sent to it: returns bytes it sends back (queued).
    std::function<std::string(std::string_view)> server;
    std::function<std::string()> onConnect; // the server's first bytes
    std::deque<std::string> incoming;
    bool closeWhenDrained = false; // the server closes once its queue is empty
    bool resetOnSend = false;      // the server is gone: sends fail, its last bytes still come
    bool refuse = false;
    bool silent = false; // the host never answers the connect
    std::string sent;
    int connects = 0;

    bool connect(const std::string &, std::uint16_t, std::uint32_t timeoutMs) override
    {
        ++connects;
        if (refuse || silent) {
            if (silent)
                m_clock.advance(int(timeoutMs));
            m_error = silent ? Error::TimedOut : Error::Refused;
            return false;
        }
        m_connected = true;
        m_closed = false;
        if (onConnect)
            incoming.push_back(onConnect());
        return true;
    }
    bool send(const char *data, std::size_t count) override
    {
        if (!m_connected || m_closed || resetOnSend) {
            m_error = Error::Closed;
            return false;
        }
        sent.append(data, count);
        if (server) {
            const std::string answer = server(std::string_view(data, count));
            if (!answer.empty())
                incoming.push_back(answer);
        }
        return true;
    }
    std::int64_t receive(char *buffer, std::size_t size, std::uint32_t timeoutMs) override
    {
        if (!m_connected || m_closed) {
            m_error = Error::Closed;
            return -1;
        }
        if (incoming.empty()) {
            if (closeWhenDrained) {
                m_closed = true;
                m_error = Error::Closed;
                return -1;
            }
            m_clock.advance(int(std::max<std::uint32_t>(timeoutMs, 1)));
            return 0;
        }
        std::string &chunk = incoming.front();
        const std::size_t n = std::min(size, chunk.size());
        std::memcpy(buffer, chunk.data(), n);
        chunk.erase(0, n);
        if (chunk.empty())
            incoming.pop_front();
        return std::int64_t(n);
    }
    void close() override { m_connected = false; }
    Error error() const override { return m_error; }
    std::string errorString() const override
    {
        return m_error == Error::Closed ? "the server closed the connection" : "connection refused";
    }

private:
    FakeClock &m_clock;
    bool m_connected = false;
    bool m_closed = false;
    Error m_error = Error::NoError;
};

// ser2net's opening (will and do suppress-go-ahead, will and won't echo, do and will binary,
// do COM port control) and its answer to every COM port command: the code plus 100 with the
// value, a baud query answered with baud.
inline std::string ser2netGreeting()
{
    return std::string("\xff\xfb\x03\xff\xfd\x03\xff\xfb\x01\xff\xfe\x01\xff\xfd\x00\xff\xfb\x00"
                       "\xff\xfd\x2c",
                       21);
}

inline std::string answerComPort(std::string_view sent, std::uint32_t baud = 19200)
{
    std::string out;
    const std::string_view start("\xff\xfa\x2c", 3);
    for (std::size_t at = sent.find(start); at != std::string_view::npos;
         at = sent.find(start, at + 1)) {
        const std::size_t end = sent.find(std::string_view("\xff\xf0", 2), at);
        if (end == std::string_view::npos)
            break;
        const auto code = std::uint8_t(sent[at + 3]);
        std::string value(sent.substr(at + 4, end - at - 4));
        if (code == 1 && value == std::string(4, '\0'))
            value = {char(baud >> 24), char(baud >> 16), char(baud >> 8), char(baud)};
        out += std::string("\xff\xfa\x2c", 3) + char(code + 100) + value + "\xff\xf0";
    }
    return out;
}

// A server's COM port side with a line of its own: a question (value 0) is answered with the
// port's value, a setting is taken and confirmed, unless the test has it answer another
// value (or none, -1) to a command.
struct ComPortServer
{
    TelnetSession::LineCodes line{9600, 8, 1, 1, 1};
    std::map<int, int> answerInstead; // command code -> value answered to a setting
    std::string operator()(std::string_view sent)
    {
        std::string out;
        const std::string_view start("\xff\xfa\x2c", 3);
        for (std::size_t at = sent.find(start); at != std::string_view::npos;
             at = sent.find(start, at + 1)) {
            const std::size_t end = sent.find(std::string_view("\xff\xf0", 2), at);
            if (end == std::string_view::npos)
                break;
            const auto code = std::uint8_t(sent[at + 3]);
            std::uint32_t v = 0;
            for (const char c : sent.substr(at + 4, end - at - 4))
                v = v << 8 | std::uint8_t(c);
            std::uint8_t *small = code == 2   ? &line.dataSize
                                  : code == 3 ? &line.parity
                                  : code == 4 ? &line.stopSize
                                              : nullptr;
            if (v != 0 && answerInstead.count(code)) {
                if (answerInstead[code] < 0)
                    continue;
                v = std::uint32_t(answerInstead[code]);
            } else if (code == 1) {
                line.baud = v != 0 ? v : line.baud;
                v = line.baud;
            } else if (small) {
                *small = v != 0 ? std::uint8_t(v) : *small;
                v = *small;
            }
            std::string value =
                code == 1 ? std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}
                          : std::string(1, char(v));
            out += std::string("\xff\xfa\x2c", 3) + char(code + 100) + value + "\xff\xf0";
        }
        return out;
    }
};

} // namespace qmr
