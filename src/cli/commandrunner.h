#pragma once

#include "cliarguments.h"
#include "consoleview.h"
#include "devicefactory.h"
#include "interruptsource.h"
#include "operations/modulecontext.h"
#include "operations/scan.h"
#include "texts/languagetable.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace qmr {

// Builds the context the operations run in around the runner's view and settings: the real
// port, clock and settings file in qmrctl, an in-memory module in tests.
using ContextFactory = std::function<ModuleContext(ModuleView &view, Settings &settings)>;

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
    // Status lines of provision redrawn in place (only when standard output is a terminal),
    // cut to the terminal's width in columns (0 when it is not known).
    void setTerminalOutput(bool terminal, int columns = 0)
    {
        m_terminalOut = terminal;
        m_terminalColumns = columns;
    }

    int run(const std::vector<std::string> &arguments);
    int run(const CliArguments &arguments);

private:
    struct Run;

    int usageError(const std::string &message);
    // The module command of the line, on its run.
    int runCommand(Run &run);
    int ports(Run &run);
    // The scan every module command starts with; true when it read all module information.
    bool scan(Run &run);
    std::string namedPortDetail(Run &run);
    int scanCommand(Run &run);
    int setId(Run &run);
    int setLine(Run &run);
    int setMode(Run &run);
    int quickSetting(Run &run);
    int poll(Run &run);
    int provision(const CliArguments &arguments, ModuleContext &ctx);

    // The module's identity as the scan read it.
    static nlohmann::json identity(const ScanResult &scan);
    void printIdentity(Run &run);
    // The end of a command: the message (stdout on success, stderr on failure) or the JSON
    // object; returns the exit code.
    int finish(Run &run, bool ok, nlohmann::json json);
    void writeJson(const nlohmann::json &json);

    ContextFactory m_factory;
    std::ostream &m_out;
    std::ostream &m_err;
    LanguageTable m_table;
    InterruptSource *m_interrupt = nullptr;
    bool m_progressAllowed = false;
    DeviceFactory *m_devices = nullptr;
    bool m_terminalOut = false;
    int m_terminalColumns = 0;
};

} // namespace qmr
