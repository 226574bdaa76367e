// qmrctl.exe on Windows: the QLN-72RT configuration tool on the command line. Everything but
// the program's devices (COM port, clock, port map, registry, the record's files) and the
// console lives in the portable qmr_cli, so this only hands them over, as the Linux program does.

#include "cli/commandrunner.h"
#include "link/networkport.h"
#include "platform/windows/console.h"
#include "platform/windows/systemdevices.h"
#include "platform/windows/systemfiles.h"

#include <windows.h>

#include <shellapi.h>

#include <iostream>
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
// in the device namespace or a network port name is taken as it is. Each provisioning thread
// gets a line (port and clock) of its own.
class CommandLineDevices : public qmr::DeviceFactory
{
public:
    explicit CommandLineDevices(const qmr::PortMap &ports) : m_ports(ports) {}
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
        qmr::SystemLine line = qmr::makeSystemLine();
        return {std::move(line.clock), std::move(line.port)};
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

    qmr::SystemDevices system = qmr::makeSystemDevices();
    qmr::CommandRunner runner(
        [&](qmr::ModuleView &view, qmr::Settings &settings) {
            return qmr::ModuleContext{*system.link, *system.line.clock, settings, *system.store,
                                      view};
        },
        std::cout, std::cerr);
    CommandLineDevices devices(*system.ports);
    runner.setDeviceFactory(&devices);
    qmr::SystemFiles files;
    runner.setFileServices(&files);
    runner.setInterruptSource(&console);
    // Progress lines and in-place redraws use escape sequences: only where they are understood.
    runner.setProgressAllowed(console.errorWritesEscapes());
    // Status lines are cut to the console window's width, so a redraw never wraps.
    runner.setTerminalOutput(console.outputWritesEscapes(), console.outputWidth());
    return runner.run(args);
}
