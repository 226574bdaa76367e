#include "commandrunner.h"

#include "frametrace.h"
#include "jsonoutput.h"
#include "link/linedefinition.h"
#include "operations/linechange.h"
#include "operations/setbaudrate.h"
#include "operations/setmode.h"
#include "operations/setmoduleid.h"
#include "portcheck.h"
#include "porterrorwords.h"
#include "portstatus.h"
#include "provisioner.h"
#include "report.h"
#include "terminaltext.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <optional>

namespace qmr {

namespace {

using nlohmann::json;

constexpr int ComNumbers = 16;

// text followed by spaces up to width bytes (the texts padded this way are ASCII or paths).
std::string leftJustified(std::string text, std::size_t width)
{
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

std::string serialText(const ScanResult &scan)
{
    return scan.serial + "-" + std::to_string(scan.unitSuffix);
}

// The settings store while --port is in force: reads go through, and a save keeps the
// remembered COM number, so the number a named port is given here is never remembered
// (the line setting a command leaves the module at still is).
class NamedPortStore : public SettingsStore
{
public:
    NamedPortStore(SettingsStore &inner, std::int32_t rememberedCommNo)
        : m_inner(inner), m_commNo(rememberedCommNo)
    {
    }
    bool beginLoad() override { return m_inner.beginLoad(); }
    ReadResult readInt(std::string_view name, std::int32_t &value) override
    {
        return m_inner.readInt(name, value);
    }
    ReadResult readText(std::string_view name, std::string &value) override
    {
        return m_inner.readText(name, value);
    }
    void endLoad() override { m_inner.endLoad(); }
    void write(const std::vector<NamedValue> &values) override
    {
        std::vector<NamedValue> kept = values;
        for (NamedValue &v : kept) {
            if (v.name == ScanCommNoName)
                v.value = m_commNo;
        }
        m_inner.write(kept);
    }

private:
    SettingsStore &m_inner;
    std::int32_t m_commNo;
};

// A port named with --port: its own devices and link, under the COM number the name gives
// (COM5: 5; a device path: 1), so the operations see the one port they are to use.
struct NamedPort
{
    PortDevices devices;
    FixedPortMap map;
    std::unique_ptr<Link> link;
    std::unique_ptr<NamedPortStore> store;
    std::optional<ModuleContext> ctx;
};

} // namespace

CommandRunner::CommandRunner(ContextFactory factory, std::ostream &out, std::ostream &err)
    : m_factory(std::move(factory)), m_out(out), m_err(err)
{
}

int CommandRunner::run(const std::vector<std::string> &arguments)
{
    return run(parseCliArguments(arguments));
}

int CommandRunner::usageError(const std::string &message)
{
    m_err << "qmrctl: " << escapeControls(message, Backslash::AsIs) << " (see qmrctl --help)\n"
          << std::flush;
    return 2;
}

void CommandRunner::writeJson(const nlohmann::json &json)
{
    m_out << jsonLine(json) << '\n' << std::flush;
}

int CommandRunner::run(const CliArguments &args)
{
    if (args.action == CliAction::Help) {
        m_out << cliUsage() << std::flush;
        return 0;
    }
    if (args.action == CliAction::Version) {
        m_out << "qmrctl " << QMR_VERSION << '\n' << std::flush;
        return 0;
    }
    if (args.action == CliAction::Completion) {
        m_out << cliCompletion(args.shell) << std::flush;
        return 0;
    }
    if (args.action != CliAction::Command || !args.command)
        return usageError(args.error);

    Settings settings;
    ConsoleView view(m_table, 0, m_err);
    ModuleContext programCtx = m_factory(view, settings);
    LoadSettings(programCtx.store, programCtx.settings);

    NamedPort named;
    if (!args.port.empty()) {
        const std::string device = m_devices ? m_devices->deviceFor(args.port) : std::string();
        if (device.empty())
            return usageError("no port " + args.port + " on this system (option --port)");
        const int number = comNumberOf(args.port).value_or(1);
        named.devices = m_devices->makeDevices(device);
        named.map.set(number, device);
        named.link = std::make_unique<Link>(*named.devices.port, *named.devices.clock, named.map);
        named.store = std::make_unique<NamedPortStore>(programCtx.store, settings.ScanCommNo);
        settings.ScanCommNo = number;
        named.ctx.emplace(
            ModuleContext{*named.link, *named.devices.clock, settings, *named.store, view});
    }
    ModuleContext &ctx = named.ctx ? *named.ctx : programCtx;
    view.setLanguageIndex(args.languageIndex.value_or(ctx.settings.LanguageIndex));
    view.setLockChecked(!args.allLines);
    view.setBell(args.bell);

    CommandRun r(args, view, ctx);
    if (args.trace) {
        r.trace.emplace([this](const std::string &line) { m_err << line << std::flush; },
                        std::string(), ctx.clock.milliseconds());
    }
    ctx.link.setFrameObserver([&r](FrameEvent event, std::string_view bytes) {
        if (event == FrameEvent::Sent)
            r.frameSent = true;
        if (r.trace)
            r.trace->frame(event, bytes, r.ctx.clock.milliseconds());
    });
    // Waits for a reply let the console's pending work run, as the window's events would.
    ctx.link.setMessagePump([&view] { view.processMessages(); });

    const int code = (this->*args.command->run)(r);

    if (r.trace)
        r.trace->flush();
    // The view and this run end here; the link lives on in its owner.
    ctx.link.setFrameObserver({});
    ctx.link.setMessagePump({});
    m_out.flush();
    m_err.flush();
    return code;
}

int CommandRunner::ports(CommandRun &r)
{
    json list = json::array();
    for (int com = 1; com <= ComNumbers; ++com) {
        const PortStatus port = probePort(r.ctx.link, com);
        const bool remembered = com == r.ctx.settings.ScanCommNo;
        if (r.args.json) {
            list.push_back(portStatusJson(port, remembered));
            continue;
        }
        m_out << leftJustified("COM" + std::to_string(com), 7)
              << leftJustified(port.device.empty() ? std::string("-")
                                                   : escapeControls(port.device, Backslash::AsIs),
                               24)
              << ' ' << escapeControls(port.stateText(), Backslash::AsIs)
              << (remembered ? "  (remembered)" : "") << '\n';
        if (const std::string adapter = describeAdapter(port.adapter); !adapter.empty())
            m_out << std::string(7, ' ') << escapeControls(adapter, Backslash::AsIs) << '\n';
    }
    if (r.args.json)
        writeJson(json{{"command", "ports"}, {"ok", true}, {"ports", list}});
    return 0;
}

int CommandRunner::provision(CommandRun &r)
{
    const CliArguments &args = r.args;
    const ModuleContext &ctx = r.ctx;
    if (!m_devices || !m_files)
        return usageError("provision is not available here");
    ProvisionOptions options;
    options.languageIndex = args.languageIndex.value_or(ctx.settings.LanguageIndex);
    std::map<std::string, std::string> named; // device identity -> the name given first
    for (const std::string &name : args.ports) {
        const std::string device = m_devices->deviceFor(name);
        if (device.empty())
            return usageError("no port " + name + " on this system (option --ports)");
        // Two threads on one module would fight over it.
        const auto [first, added] = named.emplace(m_devices->deviceIdentity(device), name);
        if (!added) {
            return usageError(name + " and " + first->second +
                              " are the same device (option --ports)");
        }
        options.ports.push_back({name, device});
    }
    options.firstId = args.firstId;
    options.modeIndex = args.modeIndex;
    options.rs485Index = args.rs485Index;
    options.lineNo = args.lineNo;
    options.searchLineNo = safeBaudRateNo(ctx.settings.ScanBaudRateNo);
    options.allLines = args.allLines;
    options.recordFile = args.recordFile;
    options.again = args.again;
    options.json = args.json;
    options.terminal = m_terminalOut && !args.json;
    options.columns = m_terminalColumns;
    options.trace = args.trace;

    Provisioner provisioner(*m_devices, *m_files, m_table, options);
    provisioner.setInterruptSource(m_interrupt);
    return provisioner.run(m_out, m_err);
}

bool CommandRunner::scanModule(CommandRun &r)
{
    r.view.setProgress(m_progressAllowed && !r.args.trace); // traces are lines of their own
    r.scan = RunScan(r.ctx);
    r.view.setProgress(false);
    const bool ok = r.scan.ok() && r.ctx.ScanOk;
    if (!ok && !r.args.port.empty())
        r.view.setMessageDetail(namedPortDetail(r));
    return ok;
}

// The scan's detail names the COM numbers it tried; with --port only the port the user named
// counts, by the name given, with why it did not open.
std::string CommandRunner::namedPortDetail(CommandRun &r)
{
    const std::string port = r.args.port;
    if (r.ctx.link.ComOpen(
            comNumberOf(port).value_or(1),
            BaudRateTable[std::size_t(safeBaudRateNo(r.ctx.settings.ScanBaudRateNo))])) {
        r.ctx.link.ComClose();
        return port + ": the port opens, but no module answered";
    }
    const std::string why(portErrorWhy(r.ctx.link.lastOpenError()));
    const std::string reason = r.ctx.link.lastOpenErrorString();
    return port + ": " + why + (reason.empty() ? "" : " (" + reason + ")");
}

nlohmann::json CommandRunner::identity(const ScanResult &scan)
{
    const int mode = scan.modeIndex == 0 ? 0 : 1;
    json id{
        {"com", scan.port},
        {"device", scan.device},
        {"line", scan.line},
        {"lineIndex", scan.baudRateNo},
        {"serialText", escapeControls(serialText(scan))},
        {"serial", escapeControls(scan.serial)},
        {"suffix", std::to_string(scan.unitSuffix)},
        {"version", escapeControls(scan.version)},
        {"mode", ReaderModes[std::size_t(mode)].word},
        {"modeText", ReaderModes[std::size_t(mode)].name},
        {"id1", escapeControls(scan.id1)},
        // As the module sent it, also in one-reader mode, where the ID2 panel shows "__".
        {"id2", escapeControls(scan.id2)},
    };
    if (isRs485Index(scan.rs485Index)) {
        id["rs485"] = Rs485Values[std::size_t(scan.rs485Index)];
        id["rs485Text"] = rs485Name(scan.rs485Index);
    }
    if (!scan.adapter.empty())
        id["adapter"] = adapterJson(scan.adapter);
    return id;
}

void CommandRunner::printIdentity(CommandRun &r)
{
    const ScanResult &scan = r.scan;
    const ConsoleView &view = r.view;
    auto row = [this](const std::string &label, const std::string &value) {
        m_out << padded(label + ':', 12) << value << '\n';
    };
    const int mode = scan.modeIndex == 0 ? 0 : 1;
    // Every field the module sent goes to the terminal escaped.
    row("COM",
        std::to_string(scan.port) +
            (scan.device.empty() ? std::string()
                                 : " (" + escapeControls(scan.device, Backslash::AsIs) + ")"));
    row(view.text(TextRow::BaudRate), scan.line);
    row(view.text(TextRow::SN), escapeControls(serialText(scan)));
    row(view.text(TextRow::Ver), escapeControls(scan.version));
    row("Mode", std::string(ReaderModes[std::size_t(mode)].name));
    row("RS-485", isRs485Index(scan.rs485Index) ? rs485Name(scan.rs485Index) : std::string());
    row(view.text(TextRow::Id) + " 1", escapeControls(scan.id1));
    row(view.text(TextRow::Id) + " 2",
        escapeControls(scan.id2) + (mode == 1 ? " (not used in one-reader mode)" : ""));
}

int CommandRunner::finish(CommandRun &r, bool ok, nlohmann::json result)
{
    const std::string &message = r.view.message();
    const std::string &detail = r.view.messageDetail();
    if (r.args.json) {
        if (result.is_null())
            result = json::object();
        result["command"] = r.args.commandName;
        result["ok"] = ok;
        // The program's texts may quote a module's field: its controls go escaped.
        result["message"] = escapeControls(message, Backslash::AsIs);
        if (!ok && !detail.empty())
            result["detail"] = escapeControls(detail, Backslash::AsIs);
        if (!r.view.errors().empty()) {
            json errors = json::array();
            for (const std::string &e : r.view.errors())
                errors.push_back(escapeControls(e, Backslash::AsIs));
            result["errors"] = errors;
        }
        writeJson(result);
    } else if (ok) {
        m_out << escapeControls(message, Backslash::AsIs) << '\n';
    } else {
        m_err << escapeControls(message, Backslash::AsIs) << '\n';
        if (!detail.empty())
            m_err << "  " << escapeControls(detail, Backslash::AsIs) << '\n';
    }
    m_out.flush();
    m_err.flush();
    return ok ? 0 : 1;
}

int CommandRunner::checkPort(CommandRun &r)
{
    if (!m_devices)
        return usageError("check-port is not available here");
    return runCheckPort(r.args.operand, r.args.json, *m_devices, m_out, m_err);
}

int CommandRunner::report(CommandRun &r)
{
    return runReport(r.args.operand, r.ctx, m_out, m_err);
}

int CommandRunner::scan(CommandRun &r)
{
    const bool ok = scanModule(r);
    json result = json::object();
    if (ok)
        result["module"] = identity(r.scan);
    const int code = finish(r, ok, result);
    if (ok && !r.args.json)
        printIdentity(r);
    return code;
}

int CommandRunner::setId(CommandRun &r)
{
    if (!scanModule(r))
        return finish(r, false, {});
    json result{{"scan", identity(r.scan)}};
    ConsoleView &view = r.view;
    // The panels get the new IDs as the scroll bars would write them.
    view.setId1Position(r.args.id1);
    view.setId1Text(ConsoleView::idText(r.args.id1));
    if (r.args.id2) {
        view.setId2Position(*r.args.id2);
        view.setId2Text(ConsoleView::idText(*r.args.id2));
    }
    const bool id2Sent = view.modeIndex() == 0;
    if (r.args.id2 && !id2Sent && !r.args.json)
        m_err << "qmrctl: the module is in one-reader mode: ID2 is not sent\n";
    result["id1"] = view.id1Text();
    result["id2"] = id2Sent ? json(view.id2Text()) : json();
    result["id2Sent"] = id2Sent;
    return finish(r, RunSetModuleId(r.ctx) == SettingOutcome::Ok, result);
}

// On a raw network port the module's line is the server's. Where the port the command tries
// first is such a port, a move off its line is refused before the scan: nothing at all is
// sent. (A module found elsewhere by the sweep is judged again by the setting itself.)
bool CommandRunner::lineChangeRefused(CommandRun &r, int newLineNo)
{
    const std::string why = lineChangeRefusal(r.ctx, newLineNo);
    if (why.empty())
        return false;
    r.view.setMessage(why);
    finish(r, false, {});
    return true;
}

int CommandRunner::setLine(CommandRun &r)
{
    if (lineChangeRefused(r, r.args.baudRateNo))
        return 2;
    if (!scanModule(r))
        return finish(r, false, {});
    json result{{"scan", identity(r.scan)}};
    r.view.selectBaudRate(r.args.baudRateNo);
    const SettingOutcome outcome = RunSetModuleBaudRate(r.ctx);
    const bool ok = outcome == SettingOutcome::Ok;
    if (ok) {
        // Every qmrctl call starts afresh: without this the next one would look for the
        // module at the old line setting, which it no longer answers at.
        SaveScanSettings(r.ctx.store, r.ctx.settings);
    }
    result["line"] = BaudRateTable[std::size_t(r.args.baudRateNo)];
    result["lineIndex"] = r.args.baudRateNo;
    const int code = finish(r, ok, result);
    return outcome == SettingOutcome::LineFixed ? 2 : code; // refused, nothing was sent
}

int CommandRunner::setMode(CommandRun &r)
{
    if (!scanModule(r))
        return finish(r, false, {});
    json result{{"scan", identity(r.scan)}};
    r.view.selectMode(r.args.modeIndex);
    if (r.args.rs485Index)
        r.view.selectRs485(*r.args.rs485Index);
    const int rs485 = r.view.rs485Index();
    result["mode"] = ReaderModes[std::size_t(r.args.modeIndex)].word;
    result["rs485"] = Rs485Values[std::size_t(isRs485Index(rs485) ? rs485 : 1)];
    return finish(r, RunSetModuleMode(r.ctx) == SettingOutcome::Ok, result);
}

int CommandRunner::factory(CommandRun &r)
{
    return quickSetting(r, QuickSetting::FactoryDefault);
}

int CommandRunner::oneReader(CommandRun &r)
{
    return quickSetting(r, QuickSetting::OneReader);
}

int CommandRunner::quickSetting(CommandRun &r, QuickSetting which)
{
    if (lineChangeRefused(r, DefaultBaudRateNo))
        return 2;
    if (!scanModule(r))
        return finish(r, false, {});
    json result{{"scan", identity(r.scan)}};
    const SettingOutcome outcome = RunQuickSetting(r.ctx, which);
    const bool ok = outcome == SettingOutcome::Ok;
    if (ok) {
        // The module now answers at 19200,e,8,1 on the same port; remember that, so the next
        // call finds it at once (see setLine).
        r.ctx.settings.ScanBaudRateNo = DefaultBaudRateNo;
        r.ctx.settings.ScanBaudRate = BaudRateTable[DefaultBaudRateNo];
        SaveScanSettings(r.ctx.store, r.ctx.settings);
    }
    const int code = finish(r, ok, result);
    return outcome == SettingOutcome::LineFixed ? 2 : code; // refused, nothing was sent
}

int CommandRunner::poll(CommandRun &r)
{
    if (!scanModule(r)) {
        if (r.args.json)
            return finish(r, false,
                          json{{"type", "end"}, {"outcome", "no-module"}, {"replies", 0}});
        return finish(r, false, {});
    }
    if (r.args.json) {
        writeJson(json{{"type", "scan"},
                       {"message", escapeControls(r.view.message(), Backslash::AsIs)},
                       {"module", identity(r.scan)}});
    } else {
        m_err << escapeControls(r.view.message(), Backslash::AsIs) << '\n';
        m_err << "qmrctl: polling, Ctrl-C stops\n" << std::flush;
    }

    const ProcessOutcome outcome = pollReplies(r);
    const bool ok = outcome == ProcessOutcome::UserStop;
    std::string outcomeName = "stopped";
    if (outcome == ProcessOutcome::OpenFailed)
        outcomeName = "open-failed";
    else if (!ok)
        outcomeName = "failed";

    if (r.args.json) {
        json result{{"type", "end"}, {"outcome", outcomeName}, {"replies", r.replies}};
        if (outcome == ProcessOutcome::Failed)
            result["reason"] = "a poll command got no valid reply";
        return finish(r, ok, result);
    }
    if (outcome == ProcessOutcome::OpenFailed)
        return finish(r, false, {});
    if (!ok)
        m_err << "qmrctl: a poll command got no valid reply\n";
    m_err << "qmrctl: " << r.replies << (r.replies == 1 ? " reply" : " replies") << '\n'
          << std::flush;
    return ok ? 0 : 1;
}

ProcessOutcome CommandRunner::pollReplies(CommandRun &r)
{
    ConsoleView &view = r.view;
    const int limit = r.args.count.value_or(0);
    view.setReaderDataHook([&](int reader, const std::string &data) {
        // Only a panel change that follows a poll frame is a reply; process mode also clears
        // both panels when it starts.
        if (!r.frameSent)
            return;
        r.frameSent = false;
        if (limit > 0 && r.replies >= limit)
            return; // the cycle that reached the count still runs to its end
        ++r.replies;
        const std::string time = localTimeStamp(TimePrecision::Milliseconds);
        const std::string id = reader == 1 ? view.id1Text() : view.id2Text();
        if (r.args.json) {
            writeJson(json{{"type", "reply"},
                           {"time", time},
                           {"reader", reader},
                           {"id", escapeControls(id)},
                           {"data", escapeControls(data)}});
        } else {
            // The reader's data is whatever the module sent: escaped, it cannot drive the terminal.
            m_out << time << "  reader " << reader << "  ID " << escapeControls(id) << "  "
                  << escapeControls(data) << '\n'
                  << std::flush;
        }
    });
    view.setMessageHook([&] {
        if (r.stopAsked || !r.ctx.ProcessActive)
            return;
        const bool interrupted = m_interrupt && m_interrupt->requested();
        if (interrupted || (limit > 0 && r.replies >= limit)) {
            r.stopAsked = true;
            // The second click on the Process button: it only tells the running loop to stop.
            RunProcessMode(r.ctx);
        }
    });
    if (m_interrupt)
        m_interrupt->arm();
    r.frameSent = false; // the scan's frames are no poll
    const ProcessOutcome outcome = RunProcessMode(r.ctx);
    view.setMessageHook({});
    view.setReaderDataHook({});
    return outcome;
}

} // namespace qmr
