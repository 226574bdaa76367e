#pragma once

#include "serialport.h"

#include <memory>

namespace qmr {

// The serial port a program uses: each open() picks the backend by the device's name, a
// network port ("rfc2217://...", "tcp://...") or a local device (anything else). This is the
// one place where that choice is made.
class DispatchingPort : public SerialPort
{
public:
    DispatchingPort(std::unique_ptr<SerialPort> local, std::unique_ptr<SerialPort> network);

    bool open(const std::string &device) override;
    bool probe(const std::string &device) override;
    void close() override { m_current->close(); }
    bool isOpen() const override { return m_current->isOpen(); }
    CommTimeouts timeouts() const override { return m_current->timeouts(); }
    bool setTimeouts(const CommTimeouts &timeouts) override
    {
        return m_current->setTimeouts(timeouts);
    }
    bool setLineSettings(const LineSettings &settings) override
    {
        return m_current->setLineSettings(settings);
    }
    std::int64_t write(const char *data, std::int64_t count) override
    {
        return m_current->write(data, count);
    }
    int readByte(char *byte) override { return m_current->readByte(byte); }
    bool fixedLine() const override { return m_current->fixedLine(); }
    std::string lineRefusal() const override { return m_current->lineRefusal(); }
    void keepConnection(bool keep) override
    {
        m_local->keepConnection(keep);
        m_network->keepConnection(keep);
    }
    PortError error() const override { return m_current->error(); }
    std::string errorString() const override { return m_current->errorString(); }

    // The device last opened (or tried) is a network port: bytes come over a socket, not as
    // events of the serial device.
    bool network() const { return m_current == m_network.get(); }

private:
    SerialPort &choose(const std::string &device);

    std::unique_ptr<SerialPort> m_local;
    std::unique_ptr<SerialPort> m_network;
    SerialPort *m_current;
};

} // namespace qmr
