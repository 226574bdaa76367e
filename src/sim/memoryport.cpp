#include "memoryport.h"

namespace qmr {

namespace {

// True when the fake time `at` has come at `now` (readings wrap at 2^32).
bool isDue(quint32 at, quint32 now)
{
    return qint32(now - at) >= 0;
}

} // namespace

MemoryPort::MemoryPort(FakeClock &clock) : m_clock(clock) {}

void MemoryPort::addDevice(const QString &device, ModuleModel *module)
{
    m_devices[device].module = module;
}

void MemoryPort::refuseOpen(const QString &device, PortError error)
{
    m_devices[device].refuse = error;
}

void MemoryPort::inject(const QByteArray &bytes, quint32 atMs)
{
    queue(bytes, atMs);
}

void MemoryPort::vanish(const QString &device)
{
    m_devices[device].vanished = true;
}

bool MemoryPort::fail(PortError error, const QString &text)
{
    m_error = error;
    m_errorString = text;
    return false;
}

MemoryPort::Device *MemoryPort::openDevice()
{
    if (m_device.isEmpty())
        return nullptr;
    auto it = m_devices.find(m_device);
    return it == m_devices.end() ? nullptr : &it.value();
}

bool MemoryPort::open(const QString &device)
{
    if (isOpen())
        return fail(PortError::Busy, QStringLiteral("%1 is already open").arg(m_device));
    auto it = m_devices.find(device);
    if (it == m_devices.end() || it->vanished)
        return fail(PortError::NotFound, QStringLiteral("%1: no such device").arg(device));
    if (it->refuse != PortError::NoError)
        return fail(it->refuse, QStringLiteral("%1: open refused").arg(device));
    m_device = device;
    m_timeouts = it->timeouts;
    m_line = it->line;
    m_incoming.clear();
    m_endless.clear();
    m_opens.append(device);
    m_error = PortError::NoError;
    m_errorString.clear();
    return true;
}

void MemoryPort::close()
{
    if (const Device *device = openDevice()) {
        // The device keeps its own settings; what the user applied ends with the open.
        m_timeouts = device->timeouts;
        m_line = device->line;
    }
    if (isOpen())
        ++m_closes;
    m_device.clear();
    // Bytes still on their way arrive at a closed port and are lost.
    m_incoming.clear();
    m_endless.clear();
}

bool MemoryPort::setTimeouts(const CommTimeouts &timeouts)
{
    const Device *device = openDevice();
    if (!device || device->vanished)
        return fail(PortError::Io, QStringLiteral("the port is not usable"));
    m_timeouts = timeouts;
    return true;
}

bool MemoryPort::setLineSettings(const LineSettings &settings)
{
    const Device *device = openDevice();
    if (!device || device->vanished)
        return fail(PortError::Io, QStringLiteral("the port is not usable"));
    m_line = settings;
    return true;
}

void MemoryPort::queue(const QByteArray &bytes, quint32 dueMs)
{
    // Kept in order of due time; bytes due at the same time keep the order they were sent.
    qsizetype at = m_incoming.size();
    while (at > 0 && !isDue(m_incoming[at - 1].dueMs, dueMs))
        --at;
    for (char b : bytes)
        m_incoming.insert(at++, Pending{b, dueMs});
}

qint64 MemoryPort::write(const char *data, qint64 count)
{
    Device *device = openDevice();
    if (!device || device->vanished) {
        fail(PortError::Io, QStringLiteral("write failed: the device is gone"));
        return -1;
    }
    const QByteArray bytes(data, count);
    const quint32 now = m_clock.milliseconds();
    m_writes.append(Written{m_device, m_line, bytes, now});
    m_endless.clear(); // a babbling module stops when spoken to
    if (device->module) {
        const QList<ModuleReply> replies = device->module->hear(bytes, m_line, true);
        for (const ModuleReply &reply : replies) {
            const quint32 due = now + quint32(qMax(0, reply.delayMs));
            if (reply.endless && !reply.bytes.isEmpty()) {
                m_endless = reply.bytes;
                m_endlessDueMs = due;
                m_endlessPos = 0;
                m_endlessBits = 0;
            } else {
                queue(reply.bytes, due);
            }
        }
    }
    return count;
}

bool MemoryPort::takeDue(char *byte)
{
    const quint32 now = m_clock.milliseconds();
    if (!m_incoming.isEmpty() && isDue(m_incoming.first().dueMs, now)) {
        *byte = m_incoming.takeFirst().byte;
        return true;
    }
    if (!m_endless.isEmpty() && isDue(m_endlessDueMs, now)) {
        *byte = m_endless[m_endlessPos];
        m_endlessPos = (m_endlessPos + 1) % m_endless.size();
        // A stream takes line time: ten bits a byte at the line's baud, so that a reader
        // that bounds a stream by the clock sees the clock move.
        m_endlessBits += 10 * 1000;
        const qint64 baud = qMax<qint64>(1, m_line.baud);
        if (m_endlessBits >= baud) {
            const int ms = int(m_endlessBits / baud);
            m_endlessBits -= ms * baud;
            m_clock.advance(ms);
        }
        return true;
    }
    return false;
}

int MemoryPort::readByte(char *byte)
{
    const Device *device = openDevice();
    if (!device || device->vanished) {
        fail(PortError::Io, QStringLiteral("read failed: the device is gone"));
        // A failing read still takes its time on the fake clock; otherwise a reply wait on
        // a vanished device would never see its window run out.
        m_clock.advance(int(qMax<quint32>(1, m_timeouts.ReadTotalTimeoutConstant)));
        return -1;
    }
    if (takeDue(byte))
        return 1;
    // Nothing waiting: the read waits its timeout, or less when a byte falls due sooner.
    const quint32 now = m_clock.milliseconds();
    quint32 wait = qMax<quint32>(1, m_timeouts.ReadTotalTimeoutConstant);
    if (!m_incoming.isEmpty()) {
        const quint32 until = m_incoming.first().dueMs - now;
        if (until < wait)
            wait = until;
    }
    if (!m_endless.isEmpty()) {
        const quint32 until = m_endlessDueMs - now;
        if (until < wait)
            wait = until;
    }
    m_clock.advance(int(qMax<quint32>(1, wait)));
    // The clock's hook may have unplugged the device or closed the port.
    if (!openDevice() || openDevice()->vanished)
        return 0;
    return takeDue(byte) ? 1 : 0;
}

} // namespace qmr
