// qmrctl.exe on Windows: the QLN-72RT configuration tool on the command line. Everything but
// the program's devices (COM port, clock, port map, registry) and the console lives in the
// portable qmr_cli, so this only builds them, as the Linux program does.

#include "cli/commandrunner.h"
#include "link/link.h"
#include "platform/windows/console.h"
#include "platform/windows/registrysettingsstore.h"
#include "platform/windows/win32clock.h"
#include "platform/windows/win32portmap.h"
#include "platform/windows/win32serialport.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
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

// Ports named on the command line: "COMn" is "\\.\COMn" (COM10 and above open only so), a
// name already in the device namespace is taken as it is. Each provisioning thread gets a
// port and a clock of its own.
class WindowsDevices : public qmr::DeviceFactory
{
public:
    std::string deviceFor(const std::string &portName) const override
    {
        if (const auto number = qmr::comNumberOf(portName))
            return qmr::Win32PortMap().deviceFor(*number);
        if (portName.rfind("\\\\.\\", 0) == 0)
            return portName;
        return {};
    }
    qmr::PortDevices makeDevices(const std::string &) override
    {
        return {std::make_unique<qmr::Win32Clock>(), std::make_unique<qmr::Win32SerialPort>()};
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
};

} // namespace

int main()
{
    // UTF-8 output (the Chinese texts of --lang gb and big5 too) and escape sequences where
    // the console interprets them, given back as found however the program ends.
    qmr::Console console;

    qmr::CliArguments args = qmr::parseCliArguments(commandLineArguments());
    // The settings live in the registry here; there is no settings file to name.
    if (args.command != qmr::CliCommand::None && !args.configFile.empty()) {
        args.command = qmr::CliCommand::None;
        args.error = "option --config is not available on Windows: the settings live in the "
                     "registry";
    }

    qmr::RegistrySettingsStore store;
    qmr::Win32Clock clock;
    qmr::Win32SerialPort port;
    qmr::Win32PortMap ports;
    qmr::Link link(port, clock, ports);

    qmr::CommandRunner runner(
        [&](qmr::ModuleView &view, qmr::Settings &settings) {
            return qmr::ModuleContext{link, clock, settings, store, view};
        },
        std::cout, std::cerr);
    WindowsDevices devices;
    runner.setDeviceFactory(&devices);
    runner.setInterruptSource(&console);
    // Progress lines and in-place redraws use escape sequences: only where they are understood.
    runner.setProgressAllowed(console.errorWritesEscapes());
    runner.setTerminalOutput(console.outputWritesEscapes());
    return runner.run(args);
}
