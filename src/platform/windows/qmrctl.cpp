// qmrctl.exe on Windows: the QLN-72RT configuration tool on the command line. Everything but
// the program's devices (COM port, clock, port map, registry) and the console lives in the
// portable qmr_cli, so this only builds them, as the Linux program does.

#include "cli/commandrunner.h"
#include "link/link.h"
#include "link/networkport.h"
#include "platform/windows/console.h"
#include "platform/windows/serialdevice.h"
#include "platform/windows/systemclock.h"
#include "platform/windows/systemport.h"
#include "platform/windows/systemportmap.h"
#include "platform/windows/systemsettingsstore.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string utf8(const wchar_t *text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return {};
    std::string result(std::size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
    result.resize(std::size_t(size - 1));
    return result;
}

// The arguments after the program name as UTF-8. main's argv holds them in the ANSI code
// page, where a character outside it is lost; the wide command line has them all.
std::vector<std::string> commandLineArguments()
{
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv)
        return arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(utf8(argv[i]));
    LocalFree(argv);
    return arguments;
}

// Ports named on the command line: "COMn" is COM n of the port map ("\\.\COMn", COM10 and
// above open only so, unless the registry's Ports key names another device); a name already
// in the device namespace or a network port name is taken as it is. Each provisioning thread gets a
// port and a clock of its own.
class WindowsDevices : public qmr::DeviceFactory
{
public:
    explicit WindowsDevices(const qmr::PortMap &ports) : m_ports(ports) {}
    std::string deviceFor(const std::string &portName) const override
    {
        if (const auto number = qmr::comNumberOf(portName))
            return m_ports.deviceFor(*number);
        if (portName.rfind("\\\\.\\", 0) == 0 || qmr::isNetworkDevice(portName))
            return portName;
        return {};
    }
    qmr::PortDevices makeDevices(const std::string &) override
    {
        auto clock = std::make_unique<qmr::SystemClock>();
        auto port = qmr::makeSystemPort(*clock);
        return {std::move(clock), std::move(port)};
    }
    bool persist(const std::filesystem::path &file, std::string &why) override
    {
        const HANDLE handle =
            CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        const bool ok = handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
        if (!ok)
            why = qmr::SerialDevice::systemMessage(GetLastError());
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        return ok;
    }
    bool persistDirectory(const std::filesystem::path &, std::string &) override
    {
        // NTFS journals a new file's directory entry itself; a directory has no buffers a
        // program can flush.
        return true;
    }
    std::unique_ptr<qmr::FileLock> lockFile(const std::filesystem::path &file, bool &heldElsewhere,
                                            std::string &why) override
    {
        heldElsewhere = false;
        const HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            why = qmr::SerialDevice::systemMessage(GetLastError());
            return nullptr;
        }
        // Locks on Windows bar other handles from the bytes they cover, so the lock covers one
        // byte far beyond any record's end, where no write ever goes.
        OVERLAPPED at{};
        at.Offset = 0xFFFFFFFF;
        at.OffsetHigh = 0x7FFFFFFF;
        if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                        &at)) {
            const DWORD error = GetLastError();
            heldElsewhere = error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING;
            why = qmr::SerialDevice::systemMessage(error);
            CloseHandle(handle);
            return nullptr;
        }
        return std::make_unique<HandleLock>(handle);
    }
    std::string deviceIdentity(const std::string &device) const override
    {
        // "\\.\com3" and "\\.\COM3" are one port.
        std::string upper = device;
        for (char &c : upper)
            c = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
        return upper;
    }

private:
    // Closing the handle releases the lock, also when the process is ended.
    class HandleLock : public qmr::FileLock
    {
    public:
        explicit HandleLock(HANDLE handle) : m_handle(handle) {}
        ~HandleLock() override { CloseHandle(m_handle); }
        HandleLock(const HandleLock &) = delete;
        HandleLock &operator=(const HandleLock &) = delete;

    private:
        HANDLE m_handle;
    };

    const qmr::PortMap &m_ports;
};

} // namespace

int main()
{
    // UTF-8 output (the Chinese texts of --lang gb and big5 too) and escape sequences where
    // the console interprets them, given back as found however the program ends.
    qmr::Console console;

    qmr::CliArguments args = qmr::parseCliArguments(commandLineArguments());
    // The settings live in the registry here; there is no settings file to name.
    if (args.action != qmr::CliAction::None && !args.configFile.empty()) {
        args.action = qmr::CliAction::None;
        args.command = nullptr;
        args.error = "option --config is not available on Windows: the settings live in the "
                     "registry";
    }

    qmr::SystemSettingsStore store;
    qmr::SystemClock clock;
    const auto port = qmr::makeSystemPort(clock);
    const qmr::SystemPortMap ports(qmr::SystemPortMap::registryAssignments());
    qmr::Link link(*port, clock, ports);

    qmr::CommandRunner runner(
        [&](qmr::ModuleView &view, qmr::Settings &settings) {
            return qmr::ModuleContext{link, clock, settings, store, view};
        },
        std::cout, std::cerr);
    WindowsDevices devices(ports);
    runner.setDeviceFactory(&devices);
    runner.setInterruptSource(&console);
    // Progress lines and in-place redraws use escape sequences: only where they are understood.
    runner.setProgressAllowed(console.errorWritesEscapes());
    // Status lines are cut to the console window's width, so a redraw never wraps.
    CONSOLE_SCREEN_BUFFER_INFO screen{};
    const bool sized = GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &screen);
    runner.setTerminalOutput(console.outputWritesEscapes(),
                             sized ? screen.srWindow.Right - screen.srWindow.Left + 1 : 0);
    return runner.run(args);
}
