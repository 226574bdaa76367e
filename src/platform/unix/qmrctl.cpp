// qmrctl on Linux and other Unix systems: the QLN-72RT configuration tool on the command line.
// Everything but the program's devices (serial port, clock, port map, settings file) and Ctrl-C
// lives in the portable qmr_cli, so each platform's program only builds these.

#include "cli/commandrunner.h"
#include "link/link.h"
#include "platform/unix/systemclock.h"
#include "platform/unix/systemport.h"
#include "platform/unix/systemsettingsstore.h"
#include "systemportmap.h" // the Unix system's own port map

#include <QCoreApplication>
#include <QEventLoop>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
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
class UnixDevices : public qmr::DeviceFactory
{
public:
    explicit UnixDevices(const qmr::PortMap &ports) : m_ports(ports) {}
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
    bool persist(const std::filesystem::path &file, std::string &why) override
    {
        // Any descriptor of the file will do: fsync writes out the file's data, whoever wrote it.
        return sync(file, O_WRONLY, why);
    }
    bool persistDirectory(const std::filesystem::path &file, std::string &why) override
    {
        // A file just created is found after a power cut only once its directory is on disk.
        const std::filesystem::path dir = file.parent_path();
        return sync(dir.empty() ? std::filesystem::path(".") : dir, O_RDONLY | O_DIRECTORY, why);
    }
    std::unique_ptr<qmr::FileLock> lockFile(const std::filesystem::path &file, bool &heldElsewhere,
                                            std::string &why) override
    {
        heldElsewhere = false;
        const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            why = std::strerror(errno);
            return nullptr;
        }
        // An advisory lock every qmrctl takes; the system drops it when the process ends, also
        // when it is killed.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            heldElsewhere = errno == EWOULDBLOCK;
            why = std::strerror(errno);
            ::close(fd);
            return nullptr;
        }
        return std::make_unique<DescriptorLock>(fd);
    }
    std::string deviceIdentity(const std::string &device) const override
    {
        // A symlink (/dev/serial/by-id/...) and its target are one device.
        std::error_code ec;
        const std::filesystem::path canonical = std::filesystem::canonical(device, ec);
        return ec ? device : canonical.string();
    }

private:
    class DescriptorLock : public qmr::FileLock
    {
    public:
        explicit DescriptorLock(int fd) : m_fd(fd) {}
        ~DescriptorLock() override { ::close(m_fd); }
        DescriptorLock(const DescriptorLock &) = delete;
        DescriptorLock &operator=(const DescriptorLock &) = delete;

    private:
        int m_fd;
    };

    static bool sync(const std::filesystem::path &path, int flags, std::string &why)
    {
        const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
        if (fd < 0 || ::fsync(fd) != 0) {
            why = std::strerror(errno);
            if (fd >= 0)
                ::close(fd);
            return false;
        }
        ::close(fd);
        return true;
    }

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

    qmr::SystemSettingsStore store(args.configFile);
    qmr::SystemClock clock;
    const auto port = qmr::makeSystemPort(clock);
    qmr::SystemPortMap ports(store.portAssignments());
    qmr::Link link(*port, clock, ports);

    qmr::CommandRunner runner(
        [&](qmr::ModuleView &view, qmr::Settings &settings) {
            return qmr::ModuleContext{link, clock, settings, store, view};
        },
        std::cout, std::cerr);
    UnixDevices devices(ports);
    runner.setDeviceFactory(&devices);
    SignalInterrupt interrupt;
    runner.setInterruptSource(&interrupt);
    runner.setProgressAllowed(isatty(STDERR_FILENO) == 1);
    winsize size{};
    const bool terminal = isatty(STDOUT_FILENO) == 1;
    runner.setTerminalOutput(
        terminal, terminal && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? int(size.ws_col) : 0);
    const int code = runner.run(args);
    // A settings file that could not be read or saved does not change the outcome, but is said.
    if (!store.lastError().empty())
        std::cerr << "qmrctl: settings: " << store.lastError() << '\n' << std::flush;
    return code;
}
