// qmrctl on Linux and other Unix systems: the QLN-72RT configuration tool on the command line.
// Everything but the program's devices (serial port, clock, port map, settings file, the
// record's files) and the console lives in the portable qmr_cli, so each platform's program
// only hands these over.

#include "cli/commandrunner.h"
#include "platform/unix/console.h"
#include "platform/unix/systemdevices.h"
#include "platform/unix/systemfiles.h"

#include <QCoreApplication>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

// Ports named on the command line: "COMn" is COM n of the port map, anything else a device
// path or network port name (rfc2217://HOST:PORT, tcp://HOST:PORT) taken as it is. Each
// provisioning thread gets a line (port and clock) of its own.
class CommandLineDevices : public qmr::DeviceFactory
{
public:
    explicit CommandLineDevices(const qmr::PortMap &ports) : m_ports(ports) {}
    std::string deviceFor(const std::string &portName) const override
    {
        if (const auto number = qmr::comNumberOf(portName))
            return m_ports.deviceFor(*number);
        return portName;
    }
    qmr::PortDevices makeDevices(const std::string &) override
    {
        qmr::SystemLine line = qmr::makeSystemLine();
        return {std::move(line.clock), std::move(line.port)};
    }
    std::string deviceIdentity(const std::string &device) const override
    {
        // A symlink (/dev/serial/by-id/...) and its target are one device.
        std::error_code ec;
        const std::filesystem::path canonical = std::filesystem::canonical(device, ec);
        return ec ? device : canonical.string();
    }

private:
    const qmr::PortMap &m_ports;
};

} // namespace

int main(int argc, char *argv[])
{
    // The serial backend is a QSerialPort, which wants an application object.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qmrctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QMR_VERSION));

    // Arguments as the system gives them (UTF-8 on any current Unix).
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const qmr::CliArguments args = qmr::parseCliArguments(arguments);

    qmr::SystemDevices system = qmr::makeSystemDevices(args.configFile);
    qmr::SystemSettingsStore &store = *system.store;
    qmr::CommandRunner runner(
        [&](qmr::ModuleView &view, qmr::Settings &settings) {
            return qmr::ModuleContext{*system.link, *system.line.clock, settings, store, view};
        },
        std::cout, std::cerr);
    CommandLineDevices devices(*system.ports);
    runner.setDeviceFactory(&devices);
    qmr::SystemFiles files;
    runner.setFileServices(&files);
    qmr::Console console;
    runner.setInterruptSource(&console);
    // Progress lines and in-place redraws use escape sequences: only on a terminal.
    runner.setProgressAllowed(console.errorWritesEscapes());
    // Status lines are cut to the terminal's width, so a redraw never wraps.
    runner.setTerminalOutput(console.outputWritesEscapes(), console.outputWidth());
    const int code = runner.run(args);
    // A settings file that could not be read or saved does not change the outcome, but is said.
    if (!store.lastError().empty())
        std::cerr << "qmrctl: settings: " << store.lastError() << '\n' << std::flush;
    return code;
}
