#pragma once

#include "link/serialport.h"
#include "sim/fakeclock.h"

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace qmr::test {

// A serial port double on a fake clock. Bytes become readable at chosen fake times; a read
// with nothing due lets the read timeout pass on the clock and brings nothing. Every write
// and every setting is recorded.
class ScriptedPort : public SerialPort
{
public:
    struct Write
    {
        std::string bytes;
        std::uint32_t atMs;
    };

    explicit ScriptedPort(FakeClock &clock) : m_clock(clock) {}

    // Devices that open; any other path fails with NotFound.
    void addDevice(const std::string &device) { m_devices[device] = PortError::NoError; }
    void refuseOpen(const std::string &device, PortError error) { m_devices[device] = error; }
    // The device does not open, yet the port names no error and no reason.
    void refuseOpenSilently(const std::string &device) { m_silentRefusals.insert(device); }

    // Bytes that become readable, one after the other, from the fake time atMs on.
    void script(std::string_view bytes, std::uint32_t atMs)
    {
        for (const char c : bytes)
            m_pending.push_back({c, atMs});
    }
    // Bytes readable right after the next write (the far end answers at once).
    void answer(std::string_view bytes) { m_answer = bytes; }
    // Every read brings the next byte of pattern, repeated without end.
    void stream(std::string_view pattern) { m_stream = pattern; }
    // Each byte read takes this long on the clock (the time the byte needs on the line).
    void setByteTime(int ms) { m_byteMs = ms; }
    void failReads(bool fail) { m_failReads = fail; }
    void refuseLineSettings(bool refuse) { m_refuseLine = refuse; }

    // What happened.
    std::vector<Write> writes;
    std::vector<CommTimeouts> timeoutsSet;
    std::vector<LineSettings> linesSet;
    std::vector<std::string> opened;
    int closes = 0;
    int reads = 0;
    int emptyReads = 0;
    CommTimeouts deviceTimeouts{10, 0, 50, 0, 0}; // what the device had before the open
    int unread() const { return int(m_pending.size()); }

    bool open(const std::string &device) override
    {
        if (m_silentRefusals.count(device)) {
            m_error = PortError::NoError;
            m_errorString.clear();
            return false;
        }
        const auto it = m_devices.find(device);
        m_error = it == m_devices.end() ? PortError::NotFound : it->second;
        if (m_error != PortError::NoError) {
            m_errorString = "cannot open " + device;
            return false;
        }
        m_open = true;
        m_timeouts = deviceTimeouts;
        opened.push_back(device);
        return true;
    }
    void close() override
    {
        m_open = false;
        deviceTimeouts = m_timeouts;
        ++closes;
    }
    bool isOpen() const override { return m_open; }
    CommTimeouts timeouts() const override { return m_timeouts; }
    bool setTimeouts(const CommTimeouts &timeouts) override
    {
        timeoutsSet.push_back(timeouts);
        m_timeouts = timeouts;
        return true;
    }
    bool setLineSettings(const LineSettings &settings) override
    {
        linesSet.push_back(settings);
        return !m_refuseLine;
    }
    std::int64_t write(const char *data, std::int64_t count) override
    {
        writes.push_back({std::string(data, std::size_t(count)), m_clock.milliseconds()});
        if (!m_answer.empty()) {
            script(m_answer, m_clock.milliseconds());
            m_answer.clear();
        }
        return count;
    }
    int readByte(char *byte) override
    {
        ++reads;
        if (!m_stream.empty()) {
            *byte = m_stream[m_streamPos++ % m_stream.size()];
            m_clock.advance(m_byteMs);
            return 1;
        }
        // Due once the clock reached the byte's time (an unsigned difference survives the wrap).
        if (!m_failReads && !m_pending.empty() &&
            std::int32_t(m_clock.milliseconds() - m_pending.front().dueMs) >= 0) {
            *byte = m_pending.front().byte;
            m_pending.pop_front();
            m_clock.advance(m_byteMs);
            return 1;
        }
        ++emptyReads;
        m_clock.advance(int(m_timeouts.ReadTotalTimeoutConstant));
        return m_failReads ? -1 : 0;
    }
    PortError error() const override { return m_error; }
    std::string errorString() const override { return m_errorString; }

private:
    struct Pending
    {
        char byte;
        std::uint32_t dueMs;
    };
    FakeClock &m_clock;
    std::map<std::string, PortError> m_devices;
    std::set<std::string> m_silentRefusals;
    std::deque<Pending> m_pending;
    std::string m_answer;
    std::string m_stream;
    int m_byteMs = 0;
    std::size_t m_streamPos = 0;
    bool m_failReads = false;
    bool m_refuseLine = false;
    bool m_open = false;
    CommTimeouts m_timeouts;
    PortError m_error = PortError::NoError;
    std::string m_errorString;
};

} // namespace qmr::test
