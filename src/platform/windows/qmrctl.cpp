// qmrctl.exe on Windows: the QLN-72RT configuration tool on the command line. Everything but
// the program's devices (COM port, clock, port map, registry) and Ctrl-C lives in the
// portable qmr_cli, so this only builds them, as the Linux program does.

#include "cli/commandrunner.h"
#include "link/link.h"
#include "link/networkport.h"
#include "platform/windows/registrysettingsstore.h"
#include "platform/windows/systemport.h"
#include "platform/windows/win32clock.h"
#include "platform/windows/win32portmap.h"

#include <windows.h>

#include <io.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

// Ctrl-C or Ctrl-Break while process mode runs asks it to stop, so the port is closed and
// the program ends normally. Before that the default action (ending the program) applies.
class ConsoleInterrupt : public qmr::InterruptSource
{
public:
    void arm() override { SetConsoleCtrlHandler(&ConsoleInterrupt::handle, TRUE); }
    bool requested() const override { return s_requested.load(); }

private:
    // The system calls the handler on a thread of its own with no object to hand; this flag
    // is the one program-wide value, and only this class touches it.
    static BOOL WINAPI handle(DWORD event)
    {
        if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
            return FALSE;
        s_requested.store(true);
        return TRUE;
    }
    static inline std::atomic<bool> s_requested{false};
    static_assert(std::atomic<bool>::is_always_lock_free);
};

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
        auto clock = std::make_unique<qmr::Win32Clock>();
        auto port = qmr::makeSystemPort(*clock);
        return {std::move(clock), std::move(port)};
    }
    void persist(const std::string &path) override
    {
        // The record was opened with the narrow name too, so the same code page applies.
        const HANDLE file =
            CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            FlushFileBuffers(file);
            CloseHandle(file);
        }
    }

private:
    const qmr::PortMap &m_ports;
};

} // namespace

int main()
{
    // The texts are UTF-8 (the Chinese ones of --lang gb and big5 too).
    SetConsoleOutputCP(CP_UTF8);

    qmr::CliArguments args = qmr::parseCliArguments(commandLineArguments());
    // The settings live in the registry here; there is no settings file to name.
    if (args.command != qmr::CliCommand::None && !args.configFile.empty()) {
        args.command = qmr::CliCommand::None;
        args.error = "option --config is not available on Windows: the settings live in the "
                     "registry";
    }

    qmr::RegistrySettingsStore store;
    qmr::Win32Clock clock;
    const auto port = qmr::makeSystemPort(clock);
    const qmr::Win32PortMap ports(qmr::Win32PortMap::registryAssignments());
    qmr::Link link(*port, clock, ports);

    qmr::CommandRunner runner(
        [&](qmr::ModuleView &view, qmr::Settings &settings) {
            return qmr::ModuleContext{link, clock, settings, store, view};
        },
        std::cout, std::cerr);
    WindowsDevices devices(ports);
    runner.setDeviceFactory(&devices);
    ConsoleInterrupt interrupt;
    runner.setInterruptSource(&interrupt);
    runner.setProgressAllowed(_isatty(_fileno(stderr)) != 0);
    runner.setTerminalOutput(_isatty(_fileno(stdout)) != 0);
    return runner.run(args);
}
