#include "platform/windows/systemfiles.h"

#include "platform/windows/serialdevice.h"

#include <windows.h>

namespace qmr {

namespace {

class HandleLock : public FileLock
{
public:
    explicit HandleLock(HANDLE handle) : m_handle(handle) {}
    ~HandleLock() override { CloseHandle(m_handle); }
    HandleLock(const HandleLock &) = delete;
    HandleLock &operator=(const HandleLock &) = delete;

private:
    HANDLE m_handle;
};

} // namespace

bool SystemFiles::persist(const std::filesystem::path &file, std::string &why)
{
    const HANDLE handle =
        CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool ok = handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
    if (!ok)
        why = SerialDevice::systemMessage(GetLastError());
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    return ok;
}

bool SystemFiles::persistDirectory(const std::filesystem::path &, std::string &)
{
    // NTFS journals a new file's directory entry itself; a directory has no buffers a
    // program can flush.
    return true;
}

std::unique_ptr<FileLock> SystemFiles::lockFile(const std::filesystem::path &file,
                                                bool &heldElsewhere, std::string &why)
{
    heldElsewhere = false;
    const HANDLE handle =
        CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        why = SerialDevice::systemMessage(GetLastError());
        return nullptr;
    }
    // Locks on Windows bar other handles from the bytes they cover, so the lock covers one
    // byte far beyond any record's end, where no write ever goes.
    OVERLAPPED at{};
    at.Offset = 0xFFFFFFFF;
    at.OffsetHigh = 0x7FFFFFFF;
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        const DWORD error = GetLastError();
        heldElsewhere = error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING;
        why = SerialDevice::systemMessage(error);
        CloseHandle(handle);
        return nullptr;
    }
    return std::make_unique<HandleLock>(handle);
}

} // namespace qmr
