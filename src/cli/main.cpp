// qmrctl: the QLN-72RT configuration tool on the command line.

#include "cli/commandrunner.h"
#include "link/link.h"
#include "link/portmap.h"
#include "link/qtserialportbackend.h"
#include "link/systemclock.h"
#include "settings/inisettingsstore.h"

#include <QCoreApplication>
#include <QTextStream>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>

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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qmrctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QMR_VERSION));

    QTextStream out(stdout);
    QTextStream err(stderr);
    const qmr::CliArguments args = qmr::parseCliArguments(app.arguments().mid(1));

    // The device objects are only built for a command that needs them.
    qmr::IniSettingsStore store(args.configFile);
    qmr::SystemClock clock;
    qmr::QtSerialPortBackend port;
    qmr::SystemPortMap ports(store.portAssignments());
    qmr::Link link(port, clock, ports);

    qmr::CommandRunner runner(
        [&](qmr::ModuleView &view, qmr::Settings &settings) {
            return qmr::ModuleContext{link, clock, settings, store, view};
        },
        out, err);
    SignalInterrupt interrupt;
    runner.setInterruptSource(&interrupt);
    runner.setProgressAllowed(isatty(STDERR_FILENO) == 1);
    return runner.run(args);
}
