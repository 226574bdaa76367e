#pragma once

#include "link/serialport.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace qmr {

// The Win32 calls on a COM port's handle, one virtual function each, so a test can stand in
// for a device (one whose reads fail until its error is cleared, say). This class makes the
// real calls.
class Win32Comm
{
public:
    virtual ~Win32Comm() = default;
    // CreateFileA for read and write, no sharing, not overlapped.
    virtual HANDLE open(const std::string &device);
    virtual BOOL close(HANDLE handle) { return CloseHandle(handle); }
    virtual BOOL getState(HANDLE handle, DCB *state) { return GetCommState(handle, state); }
    virtual BOOL setState(HANDLE handle, DCB *state) { return SetCommState(handle, state); }
    virtual BOOL getTimeouts(HANDLE handle, COMMTIMEOUTS *t) { return GetCommTimeouts(handle, t); }
    virtual BOOL setTimeouts(HANDLE handle, COMMTIMEOUTS *t) { return SetCommTimeouts(handle, t); }
    virtual BOOL read(HANDLE handle, void *data, DWORD count, DWORD *done)
    {
        return ReadFile(handle, data, count, done, nullptr);
    }
    virtual BOOL write(HANDLE handle, const void *data, DWORD count, DWORD *done)
    {
        return WriteFile(handle, data, count, done, nullptr);
    }
    virtual BOOL clearError(HANDLE handle, DWORD *errors)
    {
        return ClearCommError(handle, errors, nullptr);
    }
};

// A real COM port through the Win32 serial calls: CreateFileA (read and write, no sharing,
// not overlapped), Get/SetCommTimeouts, GetCommState/BuildCommDCBA/SetCommState, one-byte
// ReadFile, WriteFile and CloseHandle. Share mode 0 makes the open exclusive: a second open
// of the same port, by this program or another, fails with ERROR_ACCESS_DENIED (Busy).
//
// Wine does not refuse that second open (it checks sharing on files only, not on devices), so
// an open also holds a named mutex for the port, which makes two copies of this tool exclude
// each other there too, whichever name ("COM3" or "\\.\COM3") each uses.
//
// A read error (a framing or parity error with the driver's abort-on-error set, say) would
// fail every later read until it is cleared: the port is opened with fAbortOnError off, and a
// failed read is cleared at once (ClearCommError) and counted as a read that brought nothing,
// so the reply window runs on. fAbortOnError is put back at close with the rest of the line
// settings found at open.
class SerialDevice : public SerialPort
{
public:
    explicit SerialDevice(std::unique_ptr<Win32Comm> comm = std::make_unique<Win32Comm>());
    ~SerialDevice() override;
    SerialDevice(const SerialDevice &) = delete;
    SerialDevice &operator=(const SerialDevice &) = delete;

    bool open(const std::string &device) override;
    // Puts back the line settings found at open (fAbortOnError with them), then closes the
    // handle. The link restores
    // the timeouts itself before it calls this.
    void close() override;
    bool isOpen() const override { return m_handle != INVALID_HANDLE_VALUE; }

    CommTimeouts timeouts() const override;
    bool setTimeouts(const CommTimeouts &timeouts) override;
    bool setLineSettings(const LineSettings &settings) override;

    std::int64_t write(const char *data, std::int64_t count) override;
    int readByte(char *byte) override;

    PortError error() const override { return m_error; }
    std::string errorString() const override { return m_errorString; }

    // The text BuildCommDCBA takes for a line setting: "19200,e,8,1".
    static std::string definitionText(const LineSettings &settings);
    // Why an open failed, from the system's error code.
    static PortError errorFor(DWORD systemError);
    // The system's own message for an error code, as UTF-8 without the trailing line end.
    static std::string systemMessage(DWORD systemError);

private:
    // The mutex name for a device: the same for every name of one COM port.
    static std::string lockName(const std::string &device);
    // Records the last system error of a call on the device; returns false for convenience.
    bool fail(PortError error, DWORD systemError);

    std::unique_ptr<Win32Comm> m_comm;
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    HANDLE m_lock = nullptr; // the port's named mutex while it is open
    DCB m_savedState{};
    bool m_haveSavedState = false;
    std::string m_device;
    PortError m_error = PortError::NoError;
    std::string m_errorString;
};

} // namespace qmr
