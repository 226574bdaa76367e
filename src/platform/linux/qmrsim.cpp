// qmrsim: a QLN-72RT module on a pseudo-terminal, for trying the tool without the hardware.

#include "link/linedefinition.h"
#include "ptymodule.h"
#include "sim/modulemodel.h"
#include "vocabulary/decimal.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>

using namespace qmr;

namespace {

constexpr int ExitBadArguments = 2;

struct Options
{
    QString link;
    QString log;
    QString state;
    ModuleConfig config;
    FaultConfig faults;
    int loopbackBits = 0; // 0: the module
    double rateError = 0;
};

// ASCII printable; with latin1 also the printable Latin-1 bytes 0xA0..0xFF, which a reader's
// data may hold (0xFF among them, the byte a network link must escape).
bool isPrintable(const QByteArray &text, bool latin1 = false)
{
    for (char c : text) {
        const auto b = std::uint8_t(c);
        if ((b < 0x20 || b > 0x7E) && !(latin1 && b >= 0xA0))
            return false;
    }
    return true;
}

// The module's own state from the options; on a bad one its one-line complaint.
QString readModule(const QCommandLineParser &p, ModuleConfig &config)
{
    if (p.isSet("line")) {
        const auto index = lineSettingIndexFor(p.value("line").trimmed().toStdString());
        if (!index)
            return QStringLiteral("--line: '%1' is not one of the twelve line settings (or 0..11)")
                .arg(p.value("line"));
        config.lineIndex = *index;
    }
    struct Text
    {
        const char *name;
        std::string *field;
        int length; // required length, 0: any
    };
    const Text texts[] = {
        {"id1", &config.reader1.id, 2},         {"id2", &config.reader2.id, 2},
        {"serial1", &config.reader1.serial, 8}, {"serial2", &config.reader2.serial, 8},
        {"version", &config.version, 8},        {"data1", &config.reader1.data, 0},
        {"data2", &config.reader2.data, 0}};
    for (const Text &t : texts) {
        if (!p.isSet(t.name))
            continue;
        const QByteArray value = p.value(t.name).toLatin1();
        if (!isPrintable(value, t.length == 0) || (t.length && value.size() != t.length) ||
            value.size() > 200)
            return t.length ? QStringLiteral("--%1: '%2' must be %3 printable characters")
                                  .arg(QLatin1String(t.name), p.value(t.name))
                                  .arg(t.length)
                            : QStringLiteral("--%1: '%2' must be printable characters")
                                  .arg(QLatin1String(t.name), p.value(t.name));
        *t.field = value.toStdString();
    }
    for (const char *name : {"id1", "id2"}) {
        const QString id = p.value(name);
        if (p.isSet(name) && (!id[0].isDigit() || !id[1].isDigit() || id == "00"))
            return QStringLiteral("--%1: '%2' is not an ID 01..99").arg(QLatin1String(name), id);
    }
    if (p.isSet("mode")) {
        const QString m = p.value("mode").toLower();
        const auto word = readerModeIndexFor(m.toStdString());
        if (word || m == "0" || m == "1")
            config.mode = word ? char('0' + *word) : m[0].toLatin1();
        else
            return QStringLiteral("--mode: '%1' is not two, one, 0 or 1").arg(p.value("mode"));
    }
    if (p.isSet("rs485")) {
        // The value as the module's RS-485 list shows it, or its index, written exactly.
        const QString r = p.value("rs485");
        const int digit = r.size() == 1 ? r[0].unicode() - u'0' : -1;
        const int at = r == QString::number(r.toInt()) ? rs485IndexOf(r.toInt()) : -1;
        if (at >= 0)
            config.rs485 = char('0' + at);
        else if (digit >= 0 && digit < int(Rs485Values.size()))
            config.rs485 = char('0' + digit);
        else
            return QStringLiteral("--rs485: '%1' is not 24, 32, 40, 0, 1 or 2").arg(r);
    }
    return QString();
}

// The faults to play; on a bad option its one-line complaint.
QString readFaults(const QCommandLineParser &p, FaultConfig &faults)
{
    faults.silent = p.isSet("fault-silent");
    faults.wrongCheck = p.isSet("fault-wrong-check");
    faults.lowerCaseCheck = p.isSet("fault-lowercase");
    faults.leadingGarbage = p.isSet("fault-garbage");
    faults.endless = p.isSet("fault-endless");
    struct Number
    {
        const char *name;
        int *field;
        int min;
        int max;
    };
    const Number numbers[] = {{"fault-length", &faults.lengthDelta, -100, 100},
                              {"fault-delay", &faults.delayMs, 0, 60000},
                              {"fault-flood", &faults.floodBytes, 1, 1000000},
                              {"fault-drop-every", &faults.dropEvery, 1, 1000000}};
    for (const Number &n : numbers) {
        if (!p.isSet(n.name))
            continue;
        // Blanks around the number are allowed.
        const auto value =
            parseDecimal(p.value(n.name).toStdString(), n.min, n.max, Blanks::Allowed);
        if (!value)
            return QStringLiteral("--%1: '%2' is not a number from %3 to %4")
                .arg(QLatin1String(n.name), p.value(n.name))
                .arg(n.min)
                .arg(n.max);
        *n.field = int(*value);
    }
    return QString();
}

// The loopback plug: how many bits a byte takes and how far off its rate is.
QString readLoopback(const QCommandLineParser &p, Options &out)
{
    if (!p.isSet("loopback")) {
        if (p.isSet("rate-error") || p.isSet("bits-per-byte"))
            return QStringLiteral("--rate-error and --bits-per-byte go with --loopback");
        return QString();
    }
    out.loopbackBits = 10;
    if (p.isSet("bits-per-byte")) {
        const auto bits =
            parseDecimal(p.value("bits-per-byte").toStdString(), 7, 12, Blanks::Allowed);
        if (!bits)
            return QStringLiteral("--bits-per-byte: '%1' is not a number from 7 to 12")
                .arg(p.value("bits-per-byte"));
        out.loopbackBits = int(*bits);
    }
    if (p.isSet("rate-error")) {
        bool ok = false;
        out.rateError = p.value("rate-error").trimmed().toDouble(&ok);
        if (!ok || out.rateError <= -50 || out.rateError > 100)
            return QStringLiteral("--rate-error: '%1' is not a percentage above -50, at most 100")
                .arg(p.value("rate-error"));
    }
    return QString();
}

// Reads the options into `out`; on a bad one returns its one-line complaint.
QString readOptions(const QCommandLineParser &p, Options &out)
{
    out.link = p.value("link");
    if (out.link.isEmpty())
        return QStringLiteral("--link PATH is required");
    out.log = p.value("log");
    out.state = p.value("state");
    if (QString complaint = readModule(p, out.config); !complaint.isEmpty())
        return complaint;
    if (QString complaint = readLoopback(p, out); !complaint.isEmpty())
        return complaint;
    return readFaults(p, out.faults);
}

// The program's options and their help texts.
void addOptions(QCommandLineParser &p)
{
    p.setApplicationDescription(
        "Emulates a TAVEX QLN-72RT module on a pseudo-terminal and links PATH to it, so the\n"
        "configuration tool can be pointed at PATH as at a serial port.\n"
        "The module answers only at the baud rate of its line setting. A Linux pseudo-terminal\n"
        "does not keep the parity flag, so parity is not checked: a module at 9600,e,8,1 also\n"
        "answers a program that opened the line at 9600,n,8,1.\n"
        "SIGINT or SIGTERM removes the link and exits with 0; bad arguments exit with 2.");
    p.addHelpOption();
    p.addOptions({
        {"link", "Symbolic link to create for the slave device (a stale link is replaced).",
         "PATH"},
        {"line",
         "The module's line setting: a definition such as 38400,e,8,1 or its index "
         "0..11 (default 19200,e,8,1).",
         "DEF|INDEX"},
        {"id1", "ID of the first reader, two digits 01..99 (default 01).", "ID"},
        {"id2", "ID of the second reader (default 05).", "ID"},
        {"serial1", "Serial number of the first reader, 8 characters.", "SERIAL"},
        {"serial2", "Serial number of the second reader, 8 characters.", "SERIAL"},
        {"version", "Firmware version, 8 characters such as 03.20-01.", "VERSION"},
        {"mode",
         "Reader mode: two or one (also 0 or 1). In one-reader mode only the first "
         "reader answers a poll.",
         "MODE"},
        {"rs485", "RS-485 setting: 24, 32 or 40 (also 0, 1 or 2).", "SETTING"},
        {"data1",
         "What a poll of the first reader returns (Latin-1 characters such as \u00ff are "
         "sent as their one byte).",
         "TEXT"},
        {"data2", "What a poll of the second reader returns.", "TEXT"},
        {"fault-silent", "Carry out commands but never answer."},
        {"fault-wrong-check", "Replies carry a check value off by one."},
        {"fault-lowercase", "Replies carry lower-case check digits (the first text character "
                            "is changed where needed so the digits hold a letter)."},
        {"fault-length", "Make every reply text N bytes longer (N > 0) or shorter (N < 0).", "N"},
        {"fault-garbage", "Send one 0x55 byte before every reply."},
        {"fault-delay", "Send every reply MS milliseconds after the command's end byte.", "MS"},
        {"fault-flood", "Instead of a reply send N bytes with no end byte.", "N"},
        {"fault-endless", "Instead of a reply send bytes without end, until the next command."},
        {"fault-drop-every", "Do not send every Nth reply.", "N"},
        {"log",
         "Append a line per frame received and reply sent: monotonic microseconds, rx or "
         "tx, the bytes in hex, the text (tab-separated).",
         "FILE"},
        {"state", "After every command write the module's state to FILE as JSON.", "FILE"},
        {"loopback", "Play a loopback plug (TX joined to RX) instead of the module: every byte "
                     "comes back, one byte time after the one before at the line's baud rate."},
        {"bits-per-byte",
         "With --loopback: the bits a byte takes on the wire (10 for n,8,1, 11 for e,8,1; "
         "default 10). A pseudo-terminal does not carry the parity, so it must be told.",
         "BITS"},
        {"rate-error",
         "With --loopback: return bytes at a rate PERCENT off the nominal one (10: 10 % fast, "
         "-10: 10 % slow).",
         "PERCENT"},
    });
}

// Signals arrive as readable data on a descriptor the serving loop polls, so the link is
// removed on the way out without any work inside a signal handler.
int stopSignalDescriptor()
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    return signalfd(-1, &stopSignals, SFD_CLOEXEC);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("qmrsim");

    QCommandLineParser p;
    addOptions(p);
    if (!p.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "qmrsim: %s\n", qPrintable(p.errorText()));
        return ExitBadArguments;
    }
    if (p.isSet("help"))
        p.showHelp(0);
    if (!p.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "qmrsim: unexpected argument '%s'\n",
                     qPrintable(p.positionalArguments().first()));
        return ExitBadArguments;
    }
    Options options;
    if (const QString complaint = readOptions(p, options); !complaint.isEmpty()) {
        std::fprintf(stderr, "qmrsim: %s\n", qPrintable(complaint));
        return ExitBadArguments;
    }

    const int stopFd = stopSignalDescriptor();
    if (stopFd < 0) {
        std::perror("qmrsim: signalfd");
        return 1;
    }

    QFile log(options.log);
    if (!options.log.isEmpty() && !log.open(QIODevice::WriteOnly | QIODevice::Append)) {
        std::fprintf(stderr, "qmrsim: --log: cannot open '%s'\n", qPrintable(options.log));
        return ExitBadArguments;
    }

    ModuleModel model(options.config);
    model.faults() = options.faults;
    PtyModule pty(model);
    if (!options.log.isEmpty())
        pty.setLog(&log);
    pty.setStateFile(options.state);
    if (options.loopbackBits > 0)
        pty.setLoopback(options.loopbackBits, options.rateError);
    QString error;
    if (!pty.start(options.link, &error)) {
        std::fprintf(stderr, "qmrsim: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("qmrsim: %s linked at %s\n", qPrintable(pty.slavePath()),
                qPrintable(pty.linkPath()));
    std::fflush(stdout);

    pty.run(stopFd);
    ::close(stopFd);
    return 0; // the link goes with pty
}
