#pragma once

#include "fakeclock.h"
#include "link/serialport.h"
#include "modulemodel.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qmr {

// An in-memory serial port on a fake clock. It knows any number of named devices; each may
// refuse to open (with a chosen error) and may have a module model on its far end. Bytes
// the link writes reach the model at the line settings in force; its replies become
// readable at the fake time they are due. A read with nothing due advances the clock by
// the read timeout (1 ms with the link's working timeouts).
class MemoryPort : public SerialPort
{
public:
    struct Written
    {
        std::string device;
        LineSettings line;
        std::string bytes;  // one write() call
        std::uint32_t atMs; // fake time of the write
    };

    explicit MemoryPort(FakeClock &clock);

    // A device that opens; module may be null (a line with nothing on it). Not owned.
    void addDevice(const std::string &device, ModuleModel *module = nullptr);
    // Opening this device fails with error.
    void refuseOpen(const std::string &device, PortError error);
    // Bytes that arrive on the open device at the given fake time, as if the far end sent them.
    void inject(std::string_view bytes, std::uint32_t atMs);
    // Every later read or write fails (the adapter was unplugged); open() fails too.
    void vanish(const std::string &device);

    // What happened, for tests.
    const std::vector<Written> &writes() const { return m_writes; }
    // The device of every successful open().
    const std::vector<std::string> &opens() const { return m_opens; }
    int closeCount() const { return m_closes; }
    std::string currentDevice() const { return m_device; }
    LineSettings currentLine() const { return m_line; }

    bool open(const std::string &device) override;
    void close() override;
    bool isOpen() const override { return !m_device.empty(); }
    CommTimeouts timeouts() const override { return m_timeouts; }
    bool setTimeouts(const CommTimeouts &timeouts) override;
    bool setLineSettings(const LineSettings &settings) override;
    std::int64_t write(const char *data, std::int64_t count) override;
    int readByte(char *byte) override;
    PortError error() const override { return m_error; }
    std::string errorString() const override { return m_errorString; }

private:
    struct Device
    {
        ModuleModel *module = nullptr;
        PortError refuse = PortError::NoError;
        bool vanished = false;
        CommTimeouts timeouts{10, 0, 50, 0, 0}; // what a device had before anyone opened it
        LineSettings line{9600, 'n', 8, 1};
    };
    struct Pending
    {
        char byte;
        std::uint32_t dueMs;
    };

    void queue(std::string_view bytes, std::uint32_t dueMs);
    bool takeDue(char *byte);
    Device *openDevice();
    bool fail(PortError error, std::string text);

    FakeClock &m_clock;
    std::map<std::string, Device> m_devices;
    std::string m_device; // empty while closed
    LineSettings m_line;
    CommTimeouts m_timeouts;
    std::deque<Pending> m_incoming; // in due order
    std::string m_endless;          // repeats while set (an endless-stream fault)
    std::uint32_t m_endlessDueMs = 0;
    std::size_t m_endlessPos = 0;
    std::int64_t m_endlessBits = 0; // bits sent since the last whole millisecond of line time
    std::vector<Written> m_writes;
    std::vector<std::string> m_opens;
    int m_closes = 0;
    PortError m_error = PortError::NoError;
    std::string m_errorString;
};

} // namespace qmr
