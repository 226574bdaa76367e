#include "commandrunner.h"

#include "link/commands.h"
#include "link/linedefinition.h"
#include "operations/processmode.h"
#include "operations/quicksettings.h"
#include "operations/scan.h"
#include "operations/setbaudrate.h"
#include "operations/setmode.h"
#include "operations/setmoduleid.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>

namespace qmr {

namespace {

constexpr int ComNumbers = 16;
const char *const ModeNames[] = {"two", "one"};
const char *const ModeTexts[] = {"Two Reader", "One Reader"};
const int Rs485Values[] = {24, 32, 40};

QString portErrorName(PortError error)
{
    switch (error) {
    case PortError::NoError:
        return QStringLiteral("none");
    case PortError::NotFound:
        return QStringLiteral("not-found");
    case PortError::PermissionDenied:
        return QStringLiteral("permission-denied");
    case PortError::Busy:
        return QStringLiteral("busy");
    case PortError::NotASerialPort:
        return QStringLiteral("not-a-serial-port");
    case PortError::Io:
        return QStringLiteral("io");
    case PortError::Other:
        break;
    }
    return QStringLiteral("other");
}

QString afterPrefix(const QString &text, const QString &prefix)
{
    return text.startsWith(prefix) ? text.mid(prefix.size()) : text;
}

// Pads text to a number of terminal columns; Chinese characters take two.
QString padded(const QString &text, int columns)
{
    int width = 0;
    for (const char32_t c : text.toUcs4())
        width += c >= 0x2E80 ? 2 : 1;
    return text + QString(std::max(0, columns - width), QLatin1Char(' '));
}

QString printable(const QByteArray &bytes)
{
    QString text;
    for (char c : bytes)
        text += (c >= 0x20 && c < 0x7f) ? QLatin1Char(c) : QLatin1Char('.');
    return text;
}

} // namespace

// Everything one command line works with.
struct CommandRunner::Run
{
    Run(const CliArguments &a, ConsoleView &v, ModuleContext &c) : args(a), view(v), ctx(c) {}

    const CliArguments &args;
    ConsoleView &view;
    ModuleContext &ctx;
    quint32 traceStart = 0;
    QByteArray received; // a reply being traced, shown as one line when its 0x0D arrives
    quint32 receivedAt = 0;
    bool frameSent = false; // a frame went out since the last reader panel change
    int replies = 0;
    bool stopAsked = false;
};

CommandRunner::CommandRunner(ContextFactory factory, QTextStream &out, QTextStream &err)
    : m_factory(std::move(factory)), m_out(out), m_err(err)
{
}

int CommandRunner::run(const QStringList &arguments)
{
    return run(parseCliArguments(arguments));
}

int CommandRunner::usageError(const QString &message)
{
    m_err << "qmrctl: " << message << " (see qmrctl --help)\n";
    m_err.flush();
    return 2;
}

int CommandRunner::run(const CliArguments &args)
{
    switch (args.command) {
    case CliCommand::None:
        return usageError(args.error);
    case CliCommand::Help:
        m_out << cliUsage();
        m_out.flush();
        return 0;
    case CliCommand::Version:
        m_out << "qmrctl " << QStringLiteral(QMR_VERSION) << '\n';
        m_out.flush();
        return 0;
    default:
        break;
    }

    Settings settings;
    ConsoleView view(m_table, 0, m_err);
    ModuleContext ctx = m_factory(view, settings);
    ctx.store.LoadSettings(ctx.settings);
    view.setLanguageIndex(args.languageIndex.value_or(ctx.settings.LanguageIndex));
    view.setLockChecked(!args.allLines);
    view.setBell(args.bell);

    Run r(args, view, ctx);
    r.traceStart = ctx.clock.milliseconds();
    ctx.link.setFrameObserver([this, &r](bool outgoing, const QByteArray &bytes) {
        if (outgoing)
            r.frameSent = true;
        if (r.args.trace)
            traceFrame(r, outgoing, bytes);
    });
    // Waits for a reply let the console's pending work run, as the window's events would.
    ctx.link.setMessagePump([&view] { view.processMessages(); });

    int code = 1;
    switch (args.command) {
    case CliCommand::Ports:
        code = ports(r);
        break;
    case CliCommand::Scan:
        code = scanCommand(r);
        break;
    case CliCommand::SetId:
        code = setId(r);
        break;
    case CliCommand::SetLine:
        code = setLine(r);
        break;
    case CliCommand::SetMode:
        code = setMode(r);
        break;
    case CliCommand::Factory:
    case CliCommand::OneReader:
        code = quickSetting(r);
        break;
    case CliCommand::Poll:
        code = poll(r);
        break;
    default:
        break;
    }

    flushTrace(r);
    // The view and this run end here; the link lives on in its owner.
    ctx.link.setFrameObserver({});
    ctx.link.setMessagePump({});
    m_out.flush();
    m_err.flush();
    return code;
}

int CommandRunner::ports(Run &r)
{
    QJsonArray list;
    for (int com = 1; com <= ComNumbers; ++com) {
        const bool opened = r.ctx.link.ComOpen(com, BaudRateTable[DefaultBaudRateNo]);
        const QString device = r.ctx.link.lastDevice();
        const PortError error = opened ? PortError::NoError : r.ctx.link.lastOpenError();
        const QString reason = opened ? QString() : r.ctx.link.lastOpenErrorString();
        if (opened)
            r.ctx.link.ComClose();
        const bool exists = !device.isEmpty() && error != PortError::NotFound;
        const bool remembered = com == r.ctx.settings.ScanCommNo;

        if (r.args.json) {
            QJsonObject port{{"com", com},
                             {"device", device},
                             {"exists", exists},
                             {"openable", opened},
                             {"error", portErrorName(error)},
                             {"reason", reason},
                             {"remembered", remembered}};
            list.append(port);
            continue;
        }
        QString state;
        if (opened)
            state = QStringLiteral("ok");
        else if (device.isEmpty())
            state = QStringLiteral("no device");
        else if (!reason.isEmpty())
            state = reason;
        else
            state = portErrorName(error);
        m_out << QStringLiteral("COM%1").arg(com).leftJustified(7)
              << (device.isEmpty() ? QStringLiteral("-") : device).leftJustified(24) << ' ' << state
              << (remembered ? QStringLiteral("  (remembered)") : QString()) << '\n';
    }
    if (r.args.json) {
        QJsonObject json{{"command", "ports"}, {"ok", true}, {"ports", list}};
        m_out << QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact)) << '\n';
    }
    return 0;
}

bool CommandRunner::scan(Run &r)
{
    r.view.setProgress(m_progressAllowed && !r.args.trace); // traces are lines of their own
    const ScanOutcome outcome = RunScan(r.ctx);
    r.view.setProgress(false);
    return outcome == ScanOutcome::Ok && r.ctx.ScanOk;
}

QJsonObject CommandRunner::identity(Run &r) const
{
    const ConsoleView &view = r.view;
    const Settings &settings = r.ctx.settings;
    const QString serialText =
        afterPrefix(view.serialText(), view.text(TextRow::SN) + QStringLiteral(" : "));
    const qsizetype dash = serialText.lastIndexOf(QLatin1Char('-'));
    const int mode = view.modeIndex() == 0 ? 0 : 1;
    const int rs485 = view.rs485Index();
    // The last reply of a complete scan is the one to "A00N": it carries ID2 also in
    // one-reader mode, where the ID2 panel shows "__".
    const QString id2 = QString::fromLatin1(Reply::moduleId(r.ctx.link.ReplyText));

    QJsonObject json{
        {"com", settings.ScanCommNo},
        {"device", r.ctx.link.lastDevice()},
        {"line", settings.ScanBaudRate},
        {"lineIndex", baudRateIndexOf(settings.ScanBaudRate)},
        {"serialText", serialText},
        {"serial", dash < 0 ? serialText : serialText.left(dash)},
        {"suffix", dash < 0 ? QString() : serialText.mid(dash + 1)},
        {"version",
         afterPrefix(view.versionText(), view.text(TextRow::Ver) + QStringLiteral(" : "))},
        {"mode", QLatin1String(ModeNames[mode])},
        {"modeText", QLatin1String(ModeTexts[mode])},
        {"id1", view.id1Text()},
        {"id2", id2},
    };
    if (rs485 >= 0 && rs485 <= 2) {
        json.insert("rs485", Rs485Values[rs485]);
        json.insert("rs485Text", QStringLiteral("RS485 %1").arg(Rs485Values[rs485]));
    }
    return json;
}

void CommandRunner::printIdentity(Run &r)
{
    const QJsonObject id = identity(r);
    const ConsoleView &view = r.view;
    auto row = [this](const QString &label, const QString &value) {
        m_out << padded(label + QLatin1Char(':'), 12) << value << '\n';
    };
    const QString device = id.value("device").toString();
    row(QStringLiteral("COM"), QString::number(id.value("com").toInt()) +
                                   (device.isEmpty() ? QString() : " (" + device + ")"));
    row(view.text(TextRow::BaudRate), id.value("line").toString());
    row(view.text(TextRow::SN), id.value("serialText").toString());
    row(view.text(TextRow::Ver), id.value("version").toString());
    row(QStringLiteral("Mode"), id.value("modeText").toString());
    row(QStringLiteral("RS-485"), id.value("rs485Text").toString());
    row(view.text(TextRow::Id) + QStringLiteral(" 1"), id.value("id1").toString());
    row(view.text(TextRow::Id) + QStringLiteral(" 2"),
        id.value("id2").toString() + (id.value("mode").toString() == QLatin1String("one")
                                          ? QStringLiteral(" (not used in one-reader mode)")
                                          : QString()));
}

int CommandRunner::finish(Run &r, bool ok, QJsonObject json)
{
    const QString message = r.view.message();
    const QString detail = r.view.messageDetail();
    if (r.args.json) {
        json.insert("command", r.args.commandName);
        json.insert("ok", ok);
        json.insert("message", message);
        if (!ok && !detail.isEmpty())
            json.insert("detail", detail);
        if (!r.view.errors().isEmpty())
            json.insert("errors", QJsonArray::fromStringList(r.view.errors()));
        m_out << QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact)) << '\n';
    } else if (ok) {
        m_out << message << '\n';
    } else {
        m_err << message << '\n';
        if (!detail.isEmpty())
            m_err << "  " << detail << '\n';
    }
    m_out.flush();
    m_err.flush();
    return ok ? 0 : 1;
}

int CommandRunner::scanCommand(Run &r)
{
    const bool ok = scan(r);
    QJsonObject json;
    if (ok)
        json.insert("module", identity(r));
    const int code = finish(r, ok, json);
    if (ok && !r.args.json)
        printIdentity(r);
    return code;
}

int CommandRunner::setId(Run &r)
{
    if (!scan(r))
        return finish(r, false, {});
    QJsonObject json{{"scan", identity(r)}};
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
    json.insert("id1", view.id1Text());
    json.insert("id2", id2Sent ? QJsonValue(view.id2Text()) : QJsonValue());
    json.insert("id2Sent", id2Sent);
    return finish(r, RunSetModuleId(r.ctx) == SettingOutcome::Ok, json);
}

int CommandRunner::setLine(Run &r)
{
    if (!scan(r))
        return finish(r, false, {});
    QJsonObject json{{"scan", identity(r)}};
    r.view.selectBaudRate(r.args.baudRateNo);
    const bool ok = RunSetModuleBaudRate(r.ctx) == SettingOutcome::Ok;
    if (ok) {
        // Every qmrctl call starts afresh: without this the next one would look for the
        // module at the old line setting, which it no longer answers at.
        r.ctx.store.SaveScanSettings(r.ctx.settings);
    }
    json.insert("line", QLatin1String(BaudRateTable[r.args.baudRateNo]));
    json.insert("lineIndex", r.args.baudRateNo);
    return finish(r, ok, json);
}

int CommandRunner::setMode(Run &r)
{
    if (!scan(r))
        return finish(r, false, {});
    QJsonObject json{{"scan", identity(r)}};
    r.view.selectMode(r.args.modeIndex);
    if (r.args.rs485Index)
        r.view.selectRs485(*r.args.rs485Index);
    const int rs485 = r.view.rs485Index();
    json.insert("mode", QLatin1String(ModeNames[r.args.modeIndex]));
    json.insert("rs485", Rs485Values[rs485 >= 0 && rs485 <= 2 ? rs485 : 1]);
    return finish(r, RunSetModuleMode(r.ctx) == SettingOutcome::Ok, json);
}

int CommandRunner::quickSetting(Run &r)
{
    if (!scan(r))
        return finish(r, false, {});
    QJsonObject json{{"scan", identity(r)}};
    const QuickSetting which = r.args.command == CliCommand::Factory ? QuickSetting::FactoryDefault
                                                                     : QuickSetting::OneReader;
    const bool ok = RunQuickSetting(r.ctx, which) == SettingOutcome::Ok;
    if (ok) {
        // The module now answers at 19200,e,8,1 on the same port; remember that, so the next
        // call finds it at once (see setLine).
        r.ctx.settings.ScanBaudRateNo = DefaultBaudRateNo;
        r.ctx.settings.ScanBaudRate = QLatin1String(BaudRateTable[DefaultBaudRateNo]);
        r.ctx.store.SaveScanSettings(r.ctx.settings);
    }
    return finish(r, ok, json);
}

int CommandRunner::poll(Run &r)
{
    if (!scan(r)) {
        if (r.args.json) {
            QJsonObject json{{"type", "end"}, {"outcome", "no-module"}, {"replies", 0}};
            return finish(r, false, json);
        }
        return finish(r, false, {});
    }
    ConsoleView &view = r.view;
    auto jsonLine = [this](const QJsonObject &json) {
        m_out << QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact)) << '\n';
        m_out.flush();
    };
    if (r.args.json) {
        QJsonObject json{{"type", "scan"}, {"message", view.message()}, {"module", identity(r)}};
        jsonLine(json);
    } else {
        m_err << view.message() << '\n';
        m_err << "qmrctl: polling, Ctrl-C stops\n";
        m_err.flush();
    }

    const int limit = r.args.count.value_or(0);
    view.setReaderDataHook([&](int reader, const QString &data) {
        // Only a panel change that follows a poll frame is a reply; process mode also clears
        // both panels when it starts.
        if (!r.frameSent)
            return;
        r.frameSent = false;
        if (limit > 0 && r.replies >= limit)
            return; // the cycle that reached the count still runs to its end
        ++r.replies;
        const QString time = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
        const QString id = reader == 1 ? view.id1Text() : view.id2Text();
        if (r.args.json) {
            jsonLine(QJsonObject{
                {"type", "reply"}, {"time", time}, {"reader", reader}, {"id", id}, {"data", data}});
        } else {
            m_out << time << "  reader " << reader << "  ID " << id << "  " << data << '\n';
            m_out.flush();
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

    const bool ok = outcome == ProcessOutcome::UserStop;
    QString outcomeName = QStringLiteral("stopped");
    if (outcome == ProcessOutcome::OpenFailed)
        outcomeName = QStringLiteral("open-failed");
    else if (!ok)
        outcomeName = QStringLiteral("failed");

    if (r.args.json) {
        QJsonObject json{{"type", "end"}, {"outcome", outcomeName}, {"replies", r.replies}};
        if (outcome == ProcessOutcome::Failed)
            json.insert("reason", "a poll command got no valid reply");
        return finish(r, ok, json);
    }
    if (outcome == ProcessOutcome::OpenFailed)
        return finish(r, false, {});
    if (!ok)
        m_err << "qmrctl: a poll command got no valid reply\n";
    m_err << "qmrctl: " << r.replies << (r.replies == 1 ? " reply" : " replies") << '\n';
    m_err.flush();
    return ok ? 0 : 1;
}

void CommandRunner::traceFrame(Run &r, bool outgoing, const QByteArray &bytes)
{
    if (outgoing) {
        flushTrace(r);
        const double seconds = double(r.ctx.clock.milliseconds() - r.traceStart) / 1000.0;
        m_err << QStringLiteral("%1 tx %2  |%3|\n")
                     .arg(seconds, 10, 'f', 3)
                     .arg(QString::fromLatin1(bytes.toHex(' ').toUpper()), printable(bytes));
        m_err.flush();
        return;
    }
    if (r.received.isEmpty())
        r.receivedAt = r.ctx.clock.milliseconds();
    r.received += bytes;
    if (bytes.contains('\r'))
        flushTrace(r);
}

void CommandRunner::flushTrace(Run &r)
{
    if (r.received.isEmpty())
        return;
    const double seconds = double(r.receivedAt - r.traceStart) / 1000.0;
    m_err << QStringLiteral("%1 rx %2  |%3|\n")
                 .arg(seconds, 10, 'f', 3)
                 .arg(QString::fromLatin1(r.received.toHex(' ').toUpper()), printable(r.received));
    m_err.flush();
    r.received.clear();
}

} // namespace qmr
