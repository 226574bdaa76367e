#pragma once

#include "link/serialport.h"

#include <QSerialPort>
#include <QString>

#include <chrono>
#include <cstdint>
#include <string>

namespace qmr {

// A real serial device through QSerialPort. The open is exclusive whatever path names the
// device and whoever asks (root or another copy of this program): the path is resolved to
// the real device, whose lock file QSerialPort takes, and the descriptor is flock()ed.
// Reads wait for at most ReadTotalTimeoutConstant ms with poll() on the descriptor.
// A device another program holds (an open descriptor, a live UUCP lock file) is not opened,
// even where the system would let it be. At open the driver is asked for low latency, which
// close() gives back as it was.
class SerialDevice : public SerialPort
{
public:
    SerialDevice();
    ~SerialDevice() override;

    bool open(const std::string &device) override;
    // Opens without becoming the controlling terminal and without waiting for the carrier,
    // applies no setting and closes again.
    bool probe(const std::string &device) override;
    void close() override;
    bool isOpen() const override;

    CommTimeouts timeouts() const override { return m_timeouts; }
    bool setTimeouts(const CommTimeouts &timeouts) override;
    bool setLineSettings(const LineSettings &settings) override;

    std::int64_t write(const char *data, std::int64_t count) override;
    int readByte(char *byte) override;

    PortError error() const override { return m_error; }
    std::string errorString() const override { return m_errorString; }

    // "permission denied for <device> (owned by group <group>)"; exposed for tests.
    static std::string permissionMessage(const std::string &device);

    // What came of the low-latency request at the last open.
    enum class LowLatency
    {
        NotSupported, // the driver knows no such setting (a pseudo-terminal, say)
        AlreadyOn,
        Enabled, // switched on here, switched off again at close
        Refused,
    };
    LowLatency lowLatency() const { return m_lowLatency; }

private:
    // The checks every open makes before it touches the device; the real path in `real`.
    bool mayTouch(const QString &device, QString &real);
    void requestLowLatency(int fd);
    void restoreLowLatency(int fd);
    void setError(PortError error, const QString &text);
    // How long a one-byte read may wait under the current timeouts; -1 waits without end.
    int readWaitMs() const;

    QSerialPort m_port;
    CommTimeouts m_timeouts;
    PortError m_error = PortError::NoError;
    std::string m_errorString;
    QString m_device;
    LowLatency m_lowLatency = LowLatency::NotSupported;
    QString m_freeDevice; // the device last found without other holders, and when
    std::chrono::steady_clock::time_point m_freeAt;
};

} // namespace qmr
