// qmrctl on Linux: the QLN-72RT configuration tool on the command line. Everything but the
// program's devices (serial port, clock, port map, settings file) and Ctrl-C lives in the
// portable qmr_cli, so each platform's program only builds these.

#include "cli/commandrunner.h"
#include "link/link.h"
#include "platform/linux/inisettingsstore.h"
#include "platform/linux/systemclock.h"
#include "platform/linux/systemport.h"
#include "platform/linux/systemportmap.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Ctrl-C (or a TERM signal) while process mode runs asks it to stop, so the port is closed
// and the program ends normally. Before that the default action applies.
class SignalInterrupt : public qmr::InterruptSource
{
public:
    void arm() override
    {
        struct sigaction action = {};
        action.sa_handler = &SignalInterrupt::handle;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
    }
    bool requested() const override { return s_requested.load(); }

private:
    // A signal handler can reach nothing but static storage; this flag is the one
    // program-wide value, and only this class touches it.
    static void handle(int) { s_requested.store(true); }
    static inline std::atomic<bool> s_requested{false};
    static_assert(std::atomic<bool>::is_always_lock_free);
};

// Ports named on the command line: "COMn" is COM n of the port map, anything else a device
// path or network port name (rfc2217://HOST:PORT, tcp://HOST:PORT) taken as it is. Each
// provisioning thread gets a backend and a clock of its own.
class LinuxDevices : public qmr::DeviceFactory
{
public:
    explicit LinuxDevices(const qmr::PortMap &ports) : m_ports(ports) {}
    std::string deviceFor(const std::string &portName) const override
    {
        if (const auto number = qmr::comNumberOf(portName))
            return m_ports.deviceFor(*number);
        return portName;
    }
    qmr::PortDevices makeDevices(const std::string &) override
    {
        // QSerialPort sets up socket notifiers, which want an event dispatcher on the thread
        // that owns them; an event loop object gives the calling thread one. (The backend
        // itself waits with poll(), no loop ever runs.)
        const QEventLoop dispatcher;
        auto clock = std::make_unique<qmr::SystemClock>();
        auto port = qmr::makeSystemPort(*clock);
        return {std::move(clock), std::move(port)};
    }
    void persist(const std::string &path) override
    {
        // Any descriptor of the file will do: fsync writes out the file's data, whoever wrote it.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
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

    // Arguments as the system gives them (UTF-8 on any current Linux).
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const qmr::CliArguments args = qmr::parseCliArguments(arguments);

    qmr::IniSettingsStore store(args.configFile);
    qmr::SystemClock clock;
    const auto port = qmr::makeSystemPort(clock);
    qmr::SystemPortMap ports(store.portAssignments());
    qmr::Link link(*port, clock, ports);

    qmr::CommandRunner runner(
        [&](qmr::ModuleView &view, qmr::Settings &settings) {
            return qmr::ModuleContext{link, clock, settings, store, view};
        },
        std::cout, std::cerr);
    LinuxDevices devices(ports);
    runner.setDeviceFactory(&devices);
    SignalInterrupt interrupt;
    runner.setInterruptSource(&interrupt);
    runner.setProgressAllowed(isatty(STDERR_FILENO) == 1);
    runner.setTerminalOutput(isatty(STDOUT_FILENO) == 1);
    return runner.run(args);
}
