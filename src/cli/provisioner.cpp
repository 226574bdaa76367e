#include "provisioner.h"

#include "consoleview.h"
#include "frametrace.h"
#include "link/commands.h"
#include "link/link.h"
#include "link/portmap.h"
#include "operations/linechange.h"
#include "operations/modulecontext.h"
#include "operations/scan.h"
#include "operations/setbaudrate.h"
#include "operations/setmode.h"
#include "operations/setmoduleid.h"
#include "settings/settingsstore.h"
#include "terminaltext.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <exception>
#include <optional>
#include <sstream>
#include <thread>

namespace qmr {

namespace {

// The threads remember nothing: each module is looked for at the line the run was given.
class NoSettingsStore : public SettingsStore
{
public:
    bool beginLoad() override { return false; }
    ReadResult readInt(std::string_view, std::int32_t &) override { return ReadResult::Missing; }
    ReadResult readText(std::string_view, std::string &) override { return ReadResult::Missing; }
    void write(const std::vector<NamedValue> &) override {}
};

} // namespace

Provisioner::Provisioner(DeviceFactory &devices, FileServices &files, const LanguageTable &table,
                         ProvisionOptions options)
    : m_devices(devices), m_files(files), m_table(table), m_options(std::move(options))
{
}

bool Provisioner::stopping() const
{
    return m_stop || (m_interrupt && m_interrupt->requested());
}

int Provisioner::run(std::ostream &out, std::ostream &err)
{
    for (const ProvisionPort &port : m_options.ports) {
        // A module given another line on a raw port would be stranded: refused up front.
        if (const std::string why = lineChangeRefusal(port.device);
            m_options.lineNo && !why.empty()) {
            err << "qmrctl: provision --line: " << why << '\n' << std::flush;
            return 2;
        }
    }
    std::string error;
    std::string notice;
    if (m_record.open(m_options.recordFile, m_files, error, notice) !=
        ProvisionRecord::OpenOutcome::Opened) {
        err << "qmrctl: " << error << '\n' << std::flush;
        return 2;
    }
    if (!notice.empty())
        err << "qmrctl: " << notice << '\n' << std::flush;
    // After a resumed run the IDs go on above every ID the record names, given or about to be.
    m_nextId = std::max(m_options.firstId, m_record.highestId() + 1);
    const int needed = m_options.modeIndex == 0 ? 2 : 1;
    if (m_nextId + needed - 1 > MaxReaderId) {
        err << "qmrctl: no reader IDs left: " << (m_record.isOpen() ? "the record uses " : "")
            << "IDs up to " << m_nextId - 1 << " and IDs end at 99\n"
            << std::flush;
        return 1;
    }
    m_output.emplace(out, err,
                     ProvisionOutput::Style{.json = m_options.json,
                                            .terminal = m_options.terminal,
                                            .columns = m_options.columns},
                     m_options.ports.size(), m_hook);
    m_output->start(m_options.ports, m_nextId);
    if (m_interrupt)
        m_interrupt->arm();

    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < m_options.ports.size(); ++i)
        threads.emplace_back([this, i] { portLoop(i); });
    for (std::thread &t : threads)
        t.join();

    const bool ok = m_output->finish(m_nextId, m_outOfIds);
    return ok ? 0 : 1;
}

void Provisioner::report(std::size_t index, const ProvisionEvent &event)
{
    m_output->report(index, event);
}

Provisioner::Probe Provisioner::probe(ModuleContext &ctx, int lineNo, std::string &why,
                                      std::string *serial)
{
    Link &link = ctx.link;
    const ConnectionHold hold(link); // within the port loop's: a port that failed is tried again
    if (!link.ComOpen(ctx.settings.ScanCommNo, BaudRateTable[std::size_t(lineNo)])) {
        why = link.lastOpenErrorString();
        if (why.empty())
            why = "the port does not open";
        return Probe::Unavailable;
    }
    const bool answered = askSerial(ctx, false, 0, serial);
    link.ComClose();
    return answered ? Probe::Answer : Probe::Silent;
}

bool Provisioner::waitForModule(std::size_t index, ModuleContext &ctx)
{
    const std::string &port = m_options.ports[index].name;
    // The port's state is shown after the first look and again whenever it changes.
    std::optional<bool> unavailable;
    while (!stopping()) {
        bool found = false;
        bool missing = false;
        std::string why;
        const int first = m_options.allLines ? 0 : m_options.searchLineNo;
        const int last = m_options.allLines ? int(BaudRateTable.size()) - 1 : first;
        for (int line = first; line <= last && !found && !missing; ++line) {
            const Probe p = probe(ctx, line, why);
            found = p == Probe::Answer;
            missing = p == Probe::Unavailable;
            if (found) {
                ctx.settings.ScanBaudRateNo = line;
                ctx.settings.ScanBaudRate = BaudRateTable[std::size_t(line)];
            }
        }
        if (found)
            return true;
        if (unavailable != missing) {
            unavailable = missing;
            ProvisionEvent e;
            e.port = port;
            e.state = missing ? PortState::Unavailable : PortState::Waiting;
            e.text = why;
            report(index, e);
        }
        ctx.clock.sleep(missing ? UnavailablePollMs : WaitPollMs);
    }
    return false;
}

void Provisioner::waitForUnplug(ModuleContext &ctx, const std::string &serial1)
{
    int silentProbes = 0;
    std::uint32_t silentSince = 0;
    int otherReads = 0;
    std::string other;
    while (!stopping()) {
        std::string why;
        std::string serial;
        const Probe p = probe(ctx, safeBaudRateNo(ctx.settings.ScanBaudRateNo), why, &serial);
        if (p != Probe::Answer) {
            otherReads = 0;
            if (silentProbes++ == 0)
                silentSince = ctx.clock.milliseconds();
            if (silentProbes >= UnplugSilentProbes &&
                ctx.clock.milliseconds() - silentSince >= std::uint32_t(UnplugSilentMs))
                return;
        } else {
            silentProbes = 0;
            // Another module answers (swapped between two looks): the same other serial number
            // again and again, not one garbled reply.
            if (!serial1.empty() && serial != serial1) {
                otherReads = serial == other ? otherReads + 1 : 1;
                other = serial;
                if (otherReads >= ReplacedReads)
                    return;
            } else {
                otherReads = 0;
            }
        }
        ctx.clock.sleep(WaitPollMs);
    }
}

void Provisioner::handleModule(std::size_t index, ModuleContext &ctx, const ScanResult &scan,
                               const std::string &serial2)
{
    ProvisionEvent event;
    event.port = m_options.ports[index].name;
    event.serial1 = scan.serial;
    event.serial2 = serial2;

    RecordEntry entry;
    entry.port = event.port;
    entry.serial1 = scan.serial;
    entry.serial2 = serial2;
    entry.version = scan.version;
    entry.id1Before = scan.id1;
    entry.id2Before = scan.id2;
    entry.mode = std::string(ReaderModes[std::size_t(m_options.modeIndex)].word);
    const int rs485Index =
        m_options.rs485Index.value_or(isRs485Index(scan.rs485Index) ? scan.rs485Index : 1);
    entry.rs485 = Rs485Values[std::size_t(rs485Index)];
    const int lineNo = m_options.lineNo.value_or(safeBaudRateNo(ctx.settings.ScanBaudRateNo));
    entry.line = BaudRateTable[std::size_t(lineNo)];
    reserveIds(scan, entry, event);
    if (event.state != PortState::Configuring) {
        if (event.state == PortState::Failed)
            m_output->markUnhandled();
        report(index, event);
        return;
    }
    event.id1 = entry.id1;
    event.id2 = entry.id2;
    report(index, event);

    std::string why;
    bool ok = configure(ctx, scan, entry, rs485Index, lineNo, why);
    entry.time = localTimeStamp(TimePrecision::Seconds);
    entry.outcome = ok ? "ok" : "failed";
    entry.error = why;
    {
        const std::lock_guard lock(m_idMutex);
        std::string error;
        if (!m_record.append(entry, error)) {
            // The record says started: a resumed run finishes the module with the same IDs.
            m_stop = true;
            ok = false;
            why = (why.empty() ? "" : why + "; ") + error;
        }
    }
    event.state = ok ? PortState::Done : PortState::Failed;
    event.text = why;
    report(index, event);
}

void Provisioner::reserveIds(const ScanResult &scan, RecordEntry &entry, ProvisionEvent &event)
{
    // The IDs are taken and entered in the record (made durable) before any command sets them.
    const std::lock_guard lock(m_idMutex);
    const int needed = m_options.modeIndex == 0 ? 2 : 1;
    const RecordEntry *last = m_record.lastEntryOf(scan.serial, entry.serial2);
    const bool finished = last && last->outcome == "ok";
    if (finished && !m_options.again) {
        event.state = PortState::Skipped;
    } else if (last && !finished && (last->id2 > 0 ? 2 : 1) != needed) {
        // Its IDs are reserved in the record; new ones would leave those orphaned and the
        // module's own unknown.
        event.state = PortState::Failed;
        event.text =
            "the record reserves " +
            (last->id2 > 0
                 ? "IDs " + ProvisionOutput::idsText(last->id1, last->id2) + " in two-reader"
                 : "ID " + ProvisionOutput::idsText(last->id1, 0) + " in one-reader") +
            " mode for this module: run with --mode " + last->mode + " to finish it";
    } else if (!last || finished) {
        if (m_outOfIds || m_nextId + needed - 1 > MaxReaderId) {
            m_outOfIds = true;
            m_stop = true;
            event.state = PortState::Failed;
            event.text = "no reader IDs left (IDs end at 99)";
        } else {
            entry.id1 = m_nextId;
            entry.id2 = needed == 2 ? m_nextId + 1 : 0;
            m_nextId += needed;
            event.state = PortState::Configuring;
        }
    } else {
        // Started or failed before: finished now with the IDs the record reserved for it.
        entry.id1 = last->id1;
        entry.id2 = last->id2;
        event.state = PortState::Configuring;
    }
    if (event.state != PortState::Configuring)
        return;
    entry.time = localTimeStamp(TimePrecision::Seconds);
    entry.outcome = "started";
    std::string error;
    if (!m_record.append(entry, error)) {
        // Without the entry on the disk the IDs could be given again after a power cut:
        // nothing is sent to the module, and the run stops.
        m_stop = true;
        event.state = PortState::Failed;
        event.text = error;
    }
}

bool Provisioner::configure(ModuleContext &ctx, const ScanResult &scan, const RecordEntry &entry,
                            int rs485Index, int lineNo, std::string &why)
{
    ConsoleView &view = static_cast<ConsoleView &>(ctx.view);
    const int mode = m_options.modeIndex;
    // Mode first, so that the ID procedure sends the second ID exactly when the module is
    // now in two-reader mode.
    view.selectMode(mode);
    view.selectRs485(rs485Index);
    bool ok = RunSetModuleMode(ctx) == SettingOutcome::Ok;
    if (ok) {
        view.setId1Position(entry.id1);
        view.setId1Text(ConsoleView::idText(entry.id1));
        if (entry.id2 > 0) {
            view.setId2Position(entry.id2);
            view.setId2Text(ConsoleView::idText(entry.id2));
        }
        ok = RunSetModuleId(ctx) == SettingOutcome::Ok;
    }
    if (ok && lineNo != ctx.settings.ScanBaudRateNo) {
        view.selectBaudRate(lineNo);
        ok = RunSetModuleBaudRate(ctx) == SettingOutcome::Ok;
    }
    if (!ok) {
        why = view.message();
        if (!view.messageDetail().empty())
            why += " (" + view.messageDetail() + ")";
        return false;
    }
    // Read back at the line it now has.
    const ScanResult check = RunScan(ctx);
    if (!check.ok()) {
        why = "read-back failed: " + view.message();
        return false;
    }
    if (check.serial != scan.serial || check.id1 != ConsoleView::idText(entry.id1) ||
        (entry.id2 > 0 && check.id2 != ConsoleView::idText(entry.id2)) || check.modeIndex != mode ||
        check.rs485Index != rs485Index) {
        why = "read-back differs: IDs " + escapeControls(check.id1) + "/" +
              escapeControls(check.id2) + ", mode " +
              std::string(ReaderModes[check.modeIndex == 0 ? 0 : 1].word);
        return false;
    }
    return true;
}

bool Provisioner::readSecondSerial(ModuleContext &ctx, std::string &serial2)
{
    if (!openRememberedPort(ctx))
        return false;
    const bool ok = askSerial(ctx, true, ScanInfoPauseMs, &serial2);
    ctx.link.ComClose();
    return ok;
}

bool Provisioner::askSerial(ModuleContext &ctx, bool secondReader, int pauseMs, std::string *serial)
{
    bool ok = false;
    for (int i = 0; i < ScanSearchAttempts && !ok; ++i) {
        if (pauseMs > 0)
            ctx.clock.sleep(pauseMs);
        ok = ctx.link.SendCommand(secondReader ? Command::readSecondReader()
                                               : Command::readFirstReader()) &&
             ctx.link.ReplyLength == Reply::ReaderReplyLength;
    }
    if (ok && serial)
        *serial = Reply::serialNumber(ctx.link.ReplyText);
    return ok;
}

void Provisioner::portLoop(std::size_t index)
{
    const ProvisionPort &port = m_options.ports[index];
    ProvisionEvent stopped;
    stopped.port = port.name;
    stopped.state = PortState::Stopped;
    try {
        PortDevices devices = m_devices.makeDevices(port.device);
        const int number = comNumberOf(port.name).value_or(1);
        const FixedPortMap map({{number, port.device}});
        std::optional<FrameTrace> trace; // outlives the link that reports to it
        Link link(*devices.port, *devices.clock, map);
        // One connection to a network port for the whole loop; probes reuse it.
        const ConnectionHold hold(link);
        Settings settings;
        NoSettingsStore store;
        std::ostringstream viewErrors; // errors reach the status line through the message
        ConsoleView view(m_table, m_options.languageIndex, viewErrors);
        view.setLockChecked(true);
        ModuleContext ctx{link, *devices.clock, settings, store, view};
        if (m_options.trace) {
            trace.emplace([this](const std::string &line) { m_output->trace(line); },
                          escapeControls(port.name, Backslash::AsIs) + ": ",
                          ctx.clock.milliseconds());
            link.setFrameObserver([&trace, &ctx](FrameEvent event, std::string_view bytes) {
                trace->frame(event, bytes, ctx.clock.milliseconds());
            });
        }

        while (!stopping()) {
            settings.ScanCommNo = number;
            if (!waitForModule(index, ctx))
                break;
            // A module just plugged in may not answer every read at once: a few tries.
            ScanResult scan;
            std::string serial2;
            for (int attempt = 0; attempt < ReadAttempts && !stopping(); ++attempt) {
                if (attempt > 0)
                    ctx.clock.sleep(WaitPollMs);
                scan = RunScan(ctx);
                if (scan.ok() && ctx.ScanOk && readSecondSerial(ctx, serial2))
                    break;
                scan.outcome = ScanOutcome::InfoError;
            }
            const std::string serial1 = scan.serial;
            if (scan.ok()) {
                handleModule(index, ctx, scan, serial2);
            } else if (!stopping()) {
                ProvisionEvent failed;
                failed.port = port.name;
                failed.state = PortState::Failed;
                failed.text = "cannot read the module: " + view.message();
                report(index, failed);
            }
            waitForUnplug(ctx, serial1);
        }
        if (trace)
            trace->flush(); // a reply cut off by the stop
    } catch (const std::exception &error) {
        stopped.text = error.what();
    }
    report(index, stopped);
}

} // namespace qmr
