#pragma once

#include "link/serialport.h"
#include "sim/fakeclock.h"

#include <cstdint>
#include <string>

namespace qmr {

// A serial port whose far end is a byte stream taken from the fuzz input. Each input byte
// is either a byte on the line or, when it follows the marker 0xFF, a pause of that many
// milliseconds of silence; 0xFE is a read that fails. An empty read costs the 1 ms read
// timeout of the fake clock.
class StreamPort : public SerialPort
{
public:
    StreamPort(FakeClock &clock, std::string stream) : m_clock(clock), m_stream(std::move(stream))
    {
    }
    bool open(const std::string &) override { return m_open = true; }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    CommTimeouts timeouts() const override { return m_timeouts; }
    bool setTimeouts(const CommTimeouts &t) override
    {
        m_timeouts = t;
        return true;
    }
    bool setLineSettings(const LineSettings &) override { return true; }
    std::int64_t write(const char *, std::int64_t count) override { return count; }
    int readByte(char *byte) override
    {
        ++reads;
        if (m_silentMs > 0) {
            --m_silentMs;
            m_clock.advance(1);
            return 0;
        }
        if (m_pos >= m_stream.size()) {
            m_clock.advance(1);
            return 0;
        }
        const auto b = std::uint8_t(m_stream[m_pos++]);
        if (b == 0xFF && m_pos < m_stream.size()) {
            m_silentMs = std::uint8_t(m_stream[m_pos++]);
            m_clock.advance(1);
            return 0;
        }
        if (b == 0xFE) { // a read that fails
            m_clock.advance(1);
            return -1;
        }
        *byte = char(b);
        ++delivered;
        return 1;
    }
    PortError error() const override { return PortError::NoError; }
    std::string errorString() const override { return {}; }

    std::int64_t reads = 0;
    std::int64_t delivered = 0;

private:
    FakeClock &m_clock;
    std::string m_stream;
    std::size_t m_pos = 0;
    int m_silentMs = 0;
    bool m_open = false;
    CommTimeouts m_timeouts;
};

} // namespace qmr
