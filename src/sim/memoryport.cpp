#include "memoryport.h"

#include <algorithm>

namespace qmr {

namespace {

// True when the fake time `at` has come at `now` (readings wrap at 2^32).
bool isDue(std::uint32_t at, std::uint32_t now)
{
    return std::int32_t(now - at) >= 0;
}

} // namespace

MemoryPort::MemoryPort(FakeClock &clock) : m_clock(clock) {}

void MemoryPort::addDevice(const std::string &device, ModuleModel *module)
{
    m_devices[device].module = module;
}

void MemoryPort::refuseOpen(const std::string &device, PortError error)
{
    m_devices[device].refuse = error;
}

void MemoryPort::inject(std::string_view bytes, std::uint32_t atMs)
{
    queue(bytes, atMs);
}

void MemoryPort::vanish(const std::string &device)
{
    m_devices[device].vanished = true;
}

bool MemoryPort::fail(PortError error, std::string text)
{
    m_error = error;
    m_errorString = std::move(text);
    return false;
}

MemoryPort::Device *MemoryPort::openDevice()
{
    if (m_device.empty())
        return nullptr;
    auto it = m_devices.find(m_device);
    return it == m_devices.end() ? nullptr : &it->second;
}

bool MemoryPort::open(const std::string &device)
{
    if (isOpen())
        return fail(PortError::Busy, m_device + " is already open");
    auto it = m_devices.find(device);
    if (it == m_devices.end() || it->second.vanished)
        return fail(PortError::NotFound, device + ": no such device");
    if (it->second.refuse != PortError::NoError)
        return fail(it->second.refuse, device + ": open refused");
    m_device = device;
    m_timeouts = it->second.timeouts;
    m_line = it->second.line;
    m_incoming.clear();
    m_endless.clear();
    m_opens.push_back(device);
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
        return fail(PortError::Io, "the port is not usable");
    m_timeouts = timeouts;
    return true;
}

bool MemoryPort::setLineSettings(const LineSettings &settings)
{
    const Device *device = openDevice();
    if (!device || device->vanished)
        return fail(PortError::Io, "the port is not usable");
    m_line = settings;
    return true;
}

void MemoryPort::queue(std::string_view bytes, std::uint32_t dueMs)
{
    // Kept in order of due time; bytes due at the same time keep the order they were sent.
    auto at = m_incoming.end();
    while (at != m_incoming.begin() && !isDue(std::prev(at)->dueMs, dueMs))
        --at;
    for (char b : bytes)
        at = std::next(m_incoming.insert(at, Pending{b, dueMs}));
}

std::int64_t MemoryPort::write(const char *data, std::int64_t count)
{
    Device *device = openDevice();
    if (!device || device->vanished) {
        fail(PortError::Io, "write failed: the device is gone");
        return -1;
    }
    const std::string bytes(data, std::size_t(std::max<std::int64_t>(0, count)));
    const std::uint32_t now = m_clock.milliseconds();
    m_writes.push_back(Written{m_device, m_line, bytes, now});
    m_endless.clear(); // a babbling module stops when spoken to
    if (device->module) {
        const std::vector<ModuleReply> replies = device->module->hear(bytes, m_line, true);
        for (const ModuleReply &reply : replies) {
            const std::uint32_t due = now + std::uint32_t(std::max(0, reply.delayMs));
            if (reply.endless && !reply.bytes.empty()) {
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
    const std::uint32_t now = m_clock.milliseconds();
    if (!m_incoming.empty() && isDue(m_incoming.front().dueMs, now)) {
        *byte = m_incoming.front().byte;
        m_incoming.pop_front();
        return true;
    }
    if (!m_endless.empty() && isDue(m_endlessDueMs, now)) {
        *byte = m_endless[m_endlessPos];
        m_endlessPos = (m_endlessPos + 1) % m_endless.size();
        // A stream takes line time: ten bits a byte at the line's baud, so that a reader
        // that bounds a stream by the clock sees the clock move.
        m_endlessBits += 10 * 1000;
        const std::int64_t baud = std::max<std::int64_t>(1, m_line.baud);
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
        fail(PortError::Io, "read failed: the device is gone");
        // A failing read still takes its time on the fake clock; otherwise a reply wait on
        // a vanished device would never see its window run out.
        m_clock.advance(int(std::max<std::uint32_t>(1, m_timeouts.ReadTotalTimeoutConstant)));
        return -1;
    }
    if (takeDue(byte))
        return 1;
    // Nothing waiting: the read waits its timeout, or less when a byte falls due sooner.
    const std::uint32_t now = m_clock.milliseconds();
    std::uint32_t wait = std::max<std::uint32_t>(1, m_timeouts.ReadTotalTimeoutConstant);
    if (!m_incoming.empty())
        wait = std::min(wait, m_incoming.front().dueMs - now);
    if (!m_endless.empty())
        wait = std::min(wait, m_endlessDueMs - now);
    m_clock.advance(int(std::max<std::uint32_t>(1, wait)));
    // The clock's hook may have unplugged the device or closed the port.
    if (!openDevice() || openDevice()->vanished)
        return 0;
    return takeDue(byte) ? 1 : 0;
}

} // namespace qmr
