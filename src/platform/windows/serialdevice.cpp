#include "platform/windows/serialdevice.h"

#include <limits>
#include <utility>

namespace qmr {

HANDLE Win32Comm::open(const std::string &device)
{
    return CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

SerialDevice::SerialDevice(std::unique_ptr<Win32Comm> comm) : m_comm(std::move(comm)) {}

SerialDevice::~SerialDevice()
{
    close();
}

std::string SerialDevice::definitionText(const LineSettings &settings)
{
    return std::to_string(settings.baud) + ',' + settings.parity + ',' +
           std::to_string(settings.dataBits) + ',' + std::to_string(settings.stopBits);
}

PortError SerialDevice::errorFor(DWORD systemError)
{
    switch (systemError) {
    case ERROR_SUCCESS:
        return PortError::NoError;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return PortError::NotFound;
    // A COM port opened without sharing by someone else answers "access denied": on Windows
    // that nearly always means another program holds it, not that this user lacks a right.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return PortError::Busy;
    default:
        return PortError::Other;
    }
}

std::string SerialDevice::systemMessage(DWORD systemError)
{
    // The wide form, so the message comes out as UTF-8 whatever the ANSI code page is.
    wchar_t *buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, systemError, 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    std::string text;
    if (length > 0 && buffer) {
        const int size =
            WideCharToMultiByte(CP_UTF8, 0, buffer, int(length), nullptr, 0, nullptr, nullptr);
        text.resize(std::size_t(size));
        WideCharToMultiByte(CP_UTF8, 0, buffer, int(length), text.data(), size, nullptr, nullptr);
    }
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    if (text.empty())
        text = "system error " + std::to_string(systemError);
    return text;
}

bool SerialDevice::fail(PortError error, DWORD systemError)
{
    m_error = error;
    if (error == PortError::Busy)
        m_errorString =
            m_device + " is in use by another program (" + systemMessage(systemError) + ")";
    else
        m_errorString = m_device + ": " + systemMessage(systemError);
    return false;
}

std::string SerialDevice::lockName(const std::string &device)
{
    std::string name = device;
    if (name.rfind("\\\\.\\", 0) == 0)
        name.erase(0, 4);
    for (char &c : name) {
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        else if (c == '\\')
            c = '/'; // a backslash would name a namespace
    }
    // The session's namespace: a standard user may not create objects in the global one, and
    // the copies to keep apart run in the user's own session.
    return "Local\\TAVEX.QMRConfig.port." + name;
}

bool SerialDevice::open(const std::string &device)
{
    close();
    m_device = device;
    m_error = PortError::NoError;
    m_errorString.clear();
    m_lock = CreateMutexA(nullptr, FALSE, lockName(device).c_str());
    if (m_lock && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(m_lock);
        m_lock = nullptr;
        return fail(PortError::Busy, ERROR_SHARING_VIOLATION);
    }
    m_handle = m_comm->open(device);
    if (m_handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (m_lock)
            CloseHandle(m_lock);
        m_lock = nullptr;
        return fail(errorFor(code), code);
    }
    // The line settings are given back at close, as the port had them before.
    m_savedState = DCB{};
    m_savedState.DCBlength = sizeof m_savedState;
    m_haveSavedState = m_comm->getState(m_handle, &m_savedState) != 0;
    // A read error must not stop every read after it: abort-on-error off for as long as the
    // port is held. A driver that refuses it still works; its errors are cleared as they come.
    if (m_haveSavedState && m_savedState.fAbortOnError) {
        DCB state = m_savedState;
        state.fAbortOnError = FALSE;
        m_comm->setState(m_handle, &state);
    }
    return true;
}

void SerialDevice::close()
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return;
    if (m_haveSavedState)
        m_comm->setState(m_handle, &m_savedState);
    m_comm->close(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
    m_haveSavedState = false;
    if (m_lock)
        CloseHandle(m_lock);
    m_lock = nullptr;
}

CommTimeouts SerialDevice::timeouts() const
{
    COMMTIMEOUTS t{};
    if (m_handle == INVALID_HANDLE_VALUE || !m_comm->getTimeouts(m_handle, &t))
        return {};
    return {t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
            t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant};
}

bool SerialDevice::setTimeouts(const CommTimeouts &timeouts)
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return false;
    COMMTIMEOUTS t{timeouts.ReadIntervalTimeout, timeouts.ReadTotalTimeoutMultiplier,
                   timeouts.ReadTotalTimeoutConstant, timeouts.WriteTotalTimeoutMultiplier,
                   timeouts.WriteTotalTimeoutConstant};
    if (!m_comm->setTimeouts(m_handle, &t))
        return fail(PortError::Other, GetLastError());
    return true;
}

bool SerialDevice::setLineSettings(const LineSettings &settings)
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return false;
    // The port's own state is the starting point, so fields the definition does not name keep
    // what the driver has; BuildCommDCBA turns flow control off unless the text asks for it.
    DCB state{};
    state.DCBlength = sizeof state;
    if (!m_comm->getState(m_handle, &state))
        return fail(PortError::Other, GetLastError());
    const std::string text = definitionText(settings);
    if (!BuildCommDCBA(text.c_str(), &state))
        return fail(PortError::Other, GetLastError());
    // BuildCommDCBA leaves fAbortOnError as the port has it, which is off since the open.
    state.fAbortOnError = FALSE;
    if (!m_comm->setState(m_handle, &state))
        return fail(PortError::Other, GetLastError());
    return true;
}

std::int64_t SerialDevice::write(const char *data, std::int64_t count)
{
    if (m_handle == INVALID_HANDLE_VALUE || count < 0 || count > std::numeric_limits<DWORD>::max())
        return -1;
    DWORD written = 0;
    if (!m_comm->write(m_handle, data, DWORD(count), &written)) {
        fail(PortError::Io, GetLastError());
        return -1;
    }
    return written;
}

int SerialDevice::readByte(char *byte)
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return -1;
    DWORD read = 0;
    if (!m_comm->read(m_handle, byte, 1, &read)) {
        const DWORD code = GetLastError();
        // A line error (framing, parity, overrun) fails the read and, until it is cleared, may
        // fail every read after it: cleared here, the read counts as one that brought nothing.
        // A port that cannot even be cleared (the device is gone) fails the read.
        DWORD errors = 0;
        if (m_comm->clearError(m_handle, &errors))
            return 0;
        fail(PortError::Io, code);
        return -1;
    }
    return read == 1 ? 1 : 0;
}

} // namespace qmr
