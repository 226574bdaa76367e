#pragma once

#include "cliarguments.h"
#include "clitable.h"
#include "consoleview.h"
#include "devicefactory.h"
#include "fileservices.h"
#include "frametrace.h"
#include "interruptsource.h"
#include "operations/modulecontext.h"
#include "operations/processmode.h"
#include "operations/quicksettings.h"
#include "operations/scan.h"
#include "texts/languagetable.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace qmr {

// Builds the context the operations run in around the runner's view and settings: the real
// port, clock and settings file in qmrctl, an in-memory module in tests.
using ContextFactory = std::function<ModuleContext(ModuleView &view, Settings &settings)>;

// Everything one command line works with, handed to the handler of its command.
struct CommandRun
{
    CommandRun(const CliArguments &a, ConsoleView &v, ModuleContext &c) : args(a), view(v), ctx(c)
    {
    }

    const CliArguments &args;
    ConsoleView &view;
    ModuleContext &ctx;
    ScanResult scan;
    std::optional<FrameTrace> trace;
    bool frameSent = false; // a frame went out since the last reader panel change
    int replies = 0;
    bool stopAsked = false;
};

// Runs one qmrctl command line through the operations and reports on two streams (UTF-8).
// Returns the exit code: 0 success, 1 the module did not answer or a procedure failed,
// 2 a usage error.
class CommandRunner
{
public:
    CommandRunner(ContextFactory factory, std::ostream &out, std::ostream &err);

    void setInterruptSource(InterruptSource *source) { m_interrupt = source; }
    // Progress lines on the error stream while a sweep runs (only when it is a terminal).
    void setProgressAllowed(bool allowed) { m_progressAllowed = allowed; }
    // Where the devices of ports named on the command line come from (--port, provision);
    // without one those commands fail with a usage error.
    void setDeviceFactory(DeviceFactory *factory) { m_devices = factory; }
    // Durable writes and the lock of the provisioning record; provision needs them too.
    void setFileServices(FileServices *files) { m_files = files; }
    // Status lines of provision redrawn in place (only when standard output is a terminal),
    // cut to the terminal's width in columns (0 when it is not known).
    void setTerminalOutput(bool terminal, int columns = 0)
    {
        m_terminalOut = terminal;
        m_terminalColumns = columns;
    }

    int run(const std::vector<std::string> &arguments);
    int run(const CliArguments &arguments);

    // The commands' handlers, as the command table names them.
    int ports(CommandRun &run);
    int scan(CommandRun &run);
    int setId(CommandRun &run);
    int setLine(CommandRun &run);
    int setMode(CommandRun &run);
    int factory(CommandRun &run);
    int oneReader(CommandRun &run);
    int poll(CommandRun &run);
    int provision(CommandRun &run);
    int checkPort(CommandRun &run);
    int report(CommandRun &run);

private:
    int usageError(const std::string &message);
    // The scan every module command starts with; true when it read all module information.
    bool scanModule(CommandRun &run);
    bool lineChangeRefused(CommandRun &run, int newLineNo);
    std::string namedPortDetail(CommandRun &run);
    int quickSetting(CommandRun &run, QuickSetting which);
    // Process mode until Ctrl-C or the count; the outcome and the replies counted in run.
    ProcessOutcome pollReplies(CommandRun &run);

    // The module's identity as the scan read it.
    static nlohmann::json identity(const ScanResult &scan);
    void printIdentity(CommandRun &run);
    // The end of a command: the message (stdout on success, stderr on failure) or the JSON
    // object; returns the exit code.
    int finish(CommandRun &run, bool ok, nlohmann::json json);
    void writeJson(const nlohmann::json &json);

    ContextFactory m_factory;
    std::ostream &m_out;
    std::ostream &m_err;
    LanguageTable m_table;
    InterruptSource *m_interrupt = nullptr;
    bool m_progressAllowed = false;
    DeviceFactory *m_devices = nullptr;
    FileServices *m_files = nullptr;
    bool m_terminalOut = false;
    int m_terminalColumns = 0;
};

} // namespace qmr
