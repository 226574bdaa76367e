#include "serialdevice.h"

#include "deviceholders.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <climits>
#include <fcntl.h>
#if defined(__linux__)
#include <linux/serial.h> // low latency: serial_struct, ASYNC_LOW_LATENCY
#endif
#include <cstdint>
#include <cstring>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qmr {

namespace {

// A write that hands no byte to the device for this long counts as failed (the device is
// gone or stuck); a frame at 4800 baud takes a few tens of ms.
constexpr int WriteStallMs = 2000;
// How long a device found without other holders counts as free.
constexpr std::chrono::milliseconds FreeLookValid{1000};

QString groupOf(const QString &path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    long size = sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? size_t(size) : 16384);
    group entry{};
    group *result = nullptr;
    while (getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &result) == ERANGE)
        buffer.resize(buffer.size() * 2);
    return result ? QString::fromLocal8Bit(result->gr_name) : QString::number(st.st_gid);
}

bool mayOpen(const QString &path)
{
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0;
}

QString permissionText(const QString &device)
{
    const QString group = groupOf(device);
    if (group.isEmpty())
        return QStringLiteral("permission denied for %1").arg(device);
    return QStringLiteral("permission denied for %1 (owned by group %2)").arg(device, group);
}

} // namespace

SerialDevice::SerialDevice() = default;

SerialDevice::~SerialDevice()
{
    close();
}

std::string SerialDevice::permissionMessage(const std::string &device)
{
    return permissionText(QString::fromStdString(device)).toStdString();
}

void SerialDevice::setError(PortError error, const QString &text)
{
    m_error = error;
    m_errorString = text.toStdString();
}

bool SerialDevice::mayTouch(const QString &device, QString &real)
{
    const QFileInfo info(device);
    if (device.isEmpty() || !info.exists()) {
        setError(PortError::NotFound, QStringLiteral("no such device: %1").arg(device));
        return false;
    }
    // QSerialPort names its lock file after the path it is given; the real device's name
    // makes a link and its target share one lock.
    real = info.canonicalFilePath();
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(real).constData(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        setError(PortError::NotASerialPort, QStringLiteral("%1 is not a serial port").arg(device));
        return false;
    }
    // Only a terminal is asked about its holders (a file such as /dev/null has many). The
    // look opens it without waiting and sets nothing.
    if (const int fd =
            ::open(QFile::encodeName(real).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        fd >= 0) {
        const bool terminal = ::isatty(fd) == 1;
        ::close(fd);
        if (!terminal) {
            setError(PortError::NotASerialPort,
                     QStringLiteral("%1 is not a serial port").arg(device));
            return false;
        }
    }
    // The system lets a second program open a terminal that the first did not lock; a getty,
    // a modem daemon or a terminal program would then find our frames in its line. The look
    // costs a few ms of CPU; a device found free is not looked at again for a moment, so a
    // sweep of its twelve line settings looks once.
    const auto now = std::chrono::steady_clock::now();
    if (real == m_freeDevice && now - m_freeAt < FreeLookValid)
        return true;
    m_freeDevice.clear();
    if (const auto holder = findDeviceHolder(real.toStdString())) {
        setError(PortError::Busy,
                 QStringLiteral("%1 is %2").arg(real, QString::fromStdString(inUseText(holder))));
        return false;
    }
    m_freeDevice = real;
    m_freeAt = now;
    return true;
}

bool SerialDevice::open(const std::string &deviceName)
{
    const QString device = QString::fromStdString(deviceName);
    if (m_port.isOpen())
        close();
    setError(PortError::NoError, {});
    QString real;
    if (!mayTouch(device, real))
        return false;

    m_port.setPortName(real);
    if (!m_port.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError qtError = m_port.error();
        const QString qtText = m_port.errorString();
        m_port.clearError();
        switch (qtError) {
        case QSerialPort::PermissionError:
            // Qt reports a held lock and a refused open alike; the file's mode tells them apart.
            if (!mayOpen(real))
                setError(PortError::PermissionDenied, permissionText(real));
            else
                setError(PortError::Busy,
                         QStringLiteral("%1 is in use by another program").arg(real));
            break;
        case QSerialPort::DeviceNotFoundError:
            setError(PortError::NotFound, QStringLiteral("no such device: %1").arg(device));
            break;
        case QSerialPort::UnsupportedOperationError:
            setError(PortError::NotASerialPort,
                     QStringLiteral("%1 is not a serial port").arg(device));
            break;
        default:
            setError(PortError::Other, QStringLiteral("%1: %2").arg(real, qtText));
            break;
        }
        return false;
    }
    const int fd = int(m_port.handle());
    if (!::isatty(fd)) {
        m_port.close();
        setError(PortError::NotASerialPort, QStringLiteral("%1 is not a serial port").arg(device));
        return false;
    }
    // The lock file does not stop a program that ignores it; an flock on the device does
    // stop every other copy of this program, root included.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        m_port.close();
        setError(PortError::Busy, QStringLiteral("%1 is in use by another program").arg(real));
        return false;
    }
    m_device = real;
    requestLowLatency(fd);
    return true;
}

bool SerialDevice::probe(const std::string &deviceName)
{
    const QString device = QString::fromStdString(deviceName);
    if (m_port.isOpen())
        close();
    setError(PortError::NoError, {});
    QString real;
    if (!mayTouch(device, real))
        return false;
    // No QSerialPort here: it would apply its own line settings at open.
    const int fd =
        ::open(QFile::encodeName(real).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int why = errno;
        if (why == EACCES || why == EPERM)
            setError(PortError::PermissionDenied, permissionText(real));
        else if (why == EBUSY) // held with TIOCEXCL
            setError(PortError::Busy, QStringLiteral("%1 is in use by another program").arg(real));
        else if (why == ENOENT || why == ENXIO || why == ENODEV)
            setError(PortError::NotFound, QStringLiteral("no such device: %1").arg(device));
        else
            setError(PortError::Other, QStringLiteral("%1: %2").arg(
                                           real, QString::fromLocal8Bit(std::strerror(why))));
        return false;
    }
    bool ok = true;
    if (!::isatty(fd)) {
        setError(PortError::NotASerialPort, QStringLiteral("%1 is not a serial port").arg(device));
        ok = false;
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        setError(PortError::Busy, QStringLiteral("%1 is in use by another program").arg(real));
        ok = false;
    }
    ::close(fd);
    return ok;
}

void SerialDevice::requestLowLatency(int fd)
{
    // The driver hands received bytes on at once instead of batching them; where it knows no
    // such setting (a pseudo-terminal) or refuses it, the port works as before.
#if defined(__linux__)
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) {
        m_lowLatency = LowLatency::NotSupported;
        return;
    }
    if (serial.flags & ASYNC_LOW_LATENCY) {
        m_lowLatency = LowLatency::AlreadyOn;
        return;
    }
    serial.flags |= ASYNC_LOW_LATENCY;
    m_lowLatency =
        ::ioctl(fd, TIOCSSERIAL, &serial) == 0 ? LowLatency::Enabled : LowLatency::Refused;
#else
    (void)fd;
    m_lowLatency = LowLatency::NotSupported;
#endif
}

void SerialDevice::restoreLowLatency(int fd)
{
#if defined(__linux__)
    serial_struct serial{};
    if (m_lowLatency != LowLatency::Enabled || ::ioctl(fd, TIOCGSERIAL, &serial) != 0)
        return;
    serial.flags &= ~ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &serial);
#else
    (void)fd;
#endif
}

void SerialDevice::close()
{
    // QSerialPort puts back the terminal settings it found at open; closing the descriptor
    // releases the flock.
    if (m_port.isOpen()) {
        restoreLowLatency(int(m_port.handle()));
        m_port.close();
    }
    m_lowLatency = LowLatency::NotSupported;
    m_device.clear();
}

bool SerialDevice::isOpen() const
{
    return m_port.isOpen();
}

bool SerialDevice::setTimeouts(const CommTimeouts &timeouts)
{
    m_timeouts = timeouts;
    return true;
}

bool SerialDevice::setLineSettings(const LineSettings &settings)
{
    if (!m_port.isOpen())
        return false;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    switch (settings.parity) {
    case 'n':
        parity = QSerialPort::NoParity;
        break;
    case 'e':
        parity = QSerialPort::EvenParity;
        break;
    case 'o':
        parity = QSerialPort::OddParity;
        break;
    case 'm':
        parity = QSerialPort::MarkParity;
        break;
    case 's':
        parity = QSerialPort::SpaceParity;
        break;
    default:
        return false;
    }
    if (settings.dataBits < 5 || settings.dataBits > 8)
        return false;
    if (settings.stopBits != 1 && settings.stopBits != 2)
        return false;
    if (settings.baud <= 0)
        return false;

    bool ok = m_port.setBaudRate(settings.baud);
    ok = m_port.setParity(parity) && ok;
    ok = m_port.setDataBits(QSerialPort::DataBits(settings.dataBits)) && ok;
    ok = m_port.setStopBits(settings.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop) &&
         ok;
    ok = m_port.setFlowControl(QSerialPort::NoFlowControl) && ok;
    if (!ok)
        m_port.clearError();
    return ok;
}

std::int64_t SerialDevice::write(const char *data, std::int64_t count)
{
    if (!m_port.isOpen()) {
        setError(PortError::Io, QStringLiteral("the port is not open"));
        return -1;
    }
    if (count <= 0)
        return 0;
    // Straight to the descriptor: QSerialPort's write buffer would need its event loop (or a
    // waitForBytesWritten() round trip per call) to drain, which costs time on every frame.
    const int fd = int(m_port.handle());
    std::int64_t written = 0;
    while (written < count) {
        const ssize_t n = ::write(fd, data + written, size_t(count - written));
        if (n > 0) {
            written += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            setError(PortError::Io, QStringLiteral("%1: writing failed").arg(m_device));
            return -1;
        }
        // The driver's buffer is full: wait until it takes more, but not without end.
        pollfd pfd{fd, POLLOUT, 0};
        const int ready = ::poll(&pfd, 1, WriteStallMs);
        if (ready == 0 || (ready > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)))) {
            setError(PortError::Io, QStringLiteral("%1: writing stalled").arg(m_device));
            return -1;
        }
    }
    return written;
}

int SerialDevice::readWaitMs() const
{
    // The serial driver's rules: an interval of all ones with no totals returns at once,
    // no total at all waits until a byte comes.
    const CommTimeouts &t = m_timeouts;
    if (t.ReadIntervalTimeout == UINT_MAX && t.ReadTotalTimeoutMultiplier == 0 &&
        t.ReadTotalTimeoutConstant == 0)
        return 0;
    const std::uint64_t total =
        std::uint64_t(t.ReadTotalTimeoutMultiplier) + t.ReadTotalTimeoutConstant;
    if (total == 0)
        return -1;
    return total > std::uint64_t(INT_MAX) ? INT_MAX : int(total);
}

int SerialDevice::readByte(char *byte)
{
    if (!m_port.isOpen()) {
        setError(PortError::Io, QStringLiteral("the port is not open"));
        return -1;
    }
    // Bytes the event loop already pulled in come first.
    if (m_port.bytesAvailable() > 0)
        return m_port.read(byte, 1) == 1 ? 1 : -1;

    const int fd = int(m_port.handle());
    const int waitMs = readWaitMs();
    QDeadlineTimer deadline(waitMs < 0 ? QDeadlineTimer::Forever : QDeadlineTimer(waitMs));
    pollfd pfd{fd, POLLIN, 0};
    int ready = 0;
    for (;;) {
        pfd.revents = 0;
        const std::int64_t remaining = deadline.isForever() ? -1 : deadline.remainingTime();
        ready = ::poll(&pfd, 1, int(remaining));
        if (ready >= 0 || errno != EINTR)
            break;
    }
    if (ready == 0)
        return 0;
    if (ready < 0 || (pfd.revents & POLLNVAL)) {
        setError(PortError::Io, QStringLiteral("%1: reading failed").arg(m_device));
        return -1;
    }
    if (pfd.revents & POLLIN) {
        m_port.waitForReadyRead(0);
        if (m_port.bytesAvailable() > 0)
            return m_port.read(byte, 1) == 1 ? 1 : -1;
    }
    // Readable without data, or hung up: the device is gone.
    setError(PortError::Io, QStringLiteral("%1: the device is gone").arg(m_device));
    return -1;
}

} // namespace qmr
