#include "cliarguments.h"

#include "link/linedefinition.h"

#include <QRegularExpression>

namespace qmr {

namespace {

struct CommandName
{
    const char *name;
    CliCommand command;
};

constexpr CommandName Commands[] = {
    {"ports", CliCommand::Ports},          {"scan", CliCommand::Scan},
    {"set-id", CliCommand::SetId},         {"set-line", CliCommand::SetLine},
    {"set-mode", CliCommand::SetMode},     {"factory", CliCommand::Factory},
    {"one-reader", CliCommand::OneReader}, {"poll", CliCommand::Poll},
};

std::optional<CliCommand> commandFor(const QString &name)
{
    for (const CommandName &c : Commands) {
        if (name == QLatin1String(c.name))
            return c.command;
    }
    return std::nullopt;
}

// A plain run of decimal digits (no sign, no blanks) within [low, high].
std::optional<int> boundedNumber(const QString &text, int low, int high)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    if (!digits.match(text).hasMatch())
        return std::nullopt;
    const int value = text.toInt();
    if (value < low || value > high)
        return std::nullopt;
    return value;
}

std::optional<int> lineIndexFor(const QString &text)
{
    if (auto index = boundedNumber(text, 0, int(BaudRateTable.size()) - 1))
        return index;
    const int index = baudRateIndexOf(text.toLower());
    if (index >= 0)
        return index;
    return std::nullopt;
}

QString quoted(const QString &text)
{
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

bool isModuleCommand(CliCommand command)
{
    return command != CliCommand::None && command != CliCommand::Help &&
           command != CliCommand::Version && command != CliCommand::Ports;
}

} // namespace

CliArguments parseCliArguments(const QStringList &arguments)
{
    CliArguments a;
    QStringList positionals;
    bool help = false;
    bool version = false;
    std::optional<QString> rs485Text;
    std::optional<QString> countText;
    bool allLinesGiven = false;

    auto fail = [&a](const QString &message) {
        if (a.error.isEmpty())
            a.error = message;
    };

    static const QRegularExpression negativeNumber(QStringLiteral("^-[0-9]"));
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        if (arg == QLatin1String("-h")) {
            help = true;
            continue;
        }
        if (!arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-") ||
            negativeNumber.match(arg).hasMatch()) {
            positionals.append(arg);
            continue;
        }
        if (!arg.startsWith(QLatin1String("--"))) {
            fail(QStringLiteral("unknown option %1").arg(quoted(arg)));
            continue;
        }
        const qsizetype eq = arg.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? arg : arg.left(eq);
        std::optional<QString> inlineValue;
        if (eq >= 0)
            inlineValue = arg.mid(eq + 1);

        bool *flag = nullptr;
        if (name == QLatin1String("--json"))
            flag = &a.json;
        else if (name == QLatin1String("--trace"))
            flag = &a.trace;
        else if (name == QLatin1String("--bell"))
            flag = &a.bell;
        else if (name == QLatin1String("--all-lines"))
            flag = &allLinesGiven;
        else if (name == QLatin1String("--help"))
            flag = &help;
        else if (name == QLatin1String("--version"))
            flag = &version;
        if (flag) {
            if (inlineValue)
                fail(QStringLiteral("option %1 takes no value").arg(name));
            *flag = true;
            continue;
        }

        const bool takesValue =
            name == QLatin1String("--lang") || name == QLatin1String("--config") ||
            name == QLatin1String("--rs485") || name == QLatin1String("--count");
        if (!takesValue) {
            fail(QStringLiteral("unknown option %1").arg(quoted(name)));
            continue;
        }
        QString value;
        if (inlineValue) {
            value = *inlineValue;
        } else if (i + 1 < arguments.size()) {
            value = arguments.at(++i);
        } else {
            fail(QStringLiteral("option %1 needs a value").arg(name));
            continue;
        }

        if (name == QLatin1String("--lang")) {
            if (value == QLatin1String("en"))
                a.languageIndex = 0;
            else if (value == QLatin1String("gb"))
                a.languageIndex = 1;
            else if (value == QLatin1String("big5"))
                a.languageIndex = 2;
            else
                fail(QStringLiteral("invalid language %1 for --lang (en, gb or big5)")
                         .arg(quoted(value)));
        } else if (name == QLatin1String("--config")) {
            if (value.isEmpty())
                fail(QStringLiteral("option --config needs a file name"));
            a.configFile = value;
        } else if (name == QLatin1String("--rs485")) {
            rs485Text = value;
        } else {
            countText = value;
        }
    }

    if (help) {
        a.command = CliCommand::Help;
        a.error.clear();
        return a;
    }
    if (version) {
        a.command = CliCommand::Version;
        a.error.clear();
        return a;
    }
    if (!a.error.isEmpty())
        return a;

    if (positionals.isEmpty()) {
        fail(QStringLiteral("no command given"));
        return a;
    }
    a.commandName = positionals.takeFirst();
    const std::optional<CliCommand> command = commandFor(a.commandName);
    if (!command) {
        fail(QStringLiteral("unknown command %1").arg(quoted(a.commandName)));
        return a;
    }

    // The command's own arguments.
    int maxArgs = 0;
    int minArgs = 0;
    switch (*command) {
    case CliCommand::SetId:
        minArgs = 1;
        maxArgs = 2;
        break;
    case CliCommand::SetLine:
    case CliCommand::SetMode:
        minArgs = maxArgs = 1;
        break;
    default:
        break;
    }
    if (positionals.size() > maxArgs) {
        fail(QStringLiteral("unexpected argument %1 for %2")
                 .arg(quoted(positionals.at(maxArgs)), a.commandName));
        return a;
    }
    if (positionals.size() < minArgs) {
        static const char *const missing[] = {"ID1", "LINE", "MODE"};
        const int which = *command == CliCommand::SetId     ? 0
                          : *command == CliCommand::SetLine ? 1
                                                            : 2;
        fail(QStringLiteral("%1 needs %2").arg(a.commandName, QLatin1String(missing[which])));
        return a;
    }

    switch (*command) {
    case CliCommand::SetId:
        if (auto id = boundedNumber(positionals.at(0), 1, 99))
            a.id1 = *id;
        else
            fail(QStringLiteral("invalid ID1 %1 (1 to 99)").arg(quoted(positionals.at(0))));
        if (positionals.size() > 1) {
            if (auto id = boundedNumber(positionals.at(1), 1, 99))
                a.id2 = *id;
            else
                fail(QStringLiteral("invalid ID2 %1 (1 to 99)").arg(quoted(positionals.at(1))));
        }
        break;
    case CliCommand::SetLine:
        if (auto index = lineIndexFor(positionals.at(0)))
            a.baudRateNo = *index;
        else
            fail(
                QStringLiteral("unknown line definition %1 (e.g. 19200,e,8,1, or an index 0 to 11)")
                    .arg(quoted(positionals.at(0))));
        break;
    case CliCommand::SetMode:
        if (positionals.at(0) == QLatin1String("two"))
            a.modeIndex = 0;
        else if (positionals.at(0) == QLatin1String("one"))
            a.modeIndex = 1;
        else
            fail(QStringLiteral("unknown mode %1 (two or one)").arg(quoted(positionals.at(0))));
        break;
    default:
        break;
    }

    if (rs485Text) {
        if (*command != CliCommand::SetMode) {
            fail(QStringLiteral("option --rs485 applies only to set-mode"));
        } else if (*rs485Text == QLatin1String("24")) {
            a.rs485Index = 0;
        } else if (*rs485Text == QLatin1String("32")) {
            a.rs485Index = 1;
        } else if (*rs485Text == QLatin1String("40")) {
            a.rs485Index = 2;
        } else {
            fail(QStringLiteral("invalid RS-485 setting %1 for --rs485 (24, 32 or 40)")
                     .arg(quoted(*rs485Text)));
        }
    }
    if (countText) {
        if (*command != CliCommand::Poll) {
            fail(QStringLiteral("option --count applies only to poll"));
        } else if (auto count = boundedNumber(*countText, 1, 1000000000)) {
            a.count = *count;
        } else {
            fail(QStringLiteral("invalid count %1 for --count (a whole number from 1)")
                     .arg(quoted(*countText)));
        }
    }
    if (allLinesGiven) {
        if (!isModuleCommand(*command))
            fail(QStringLiteral("option --all-lines does not apply to %1").arg(a.commandName));
        a.allLines = true;
    }

    if (a.error.isEmpty())
        a.command = *command;
    return a;
}

QString cliUsage()
{
    return QStringLiteral(
        "Usage: qmrctl [OPTIONS] COMMAND [ARGUMENTS]\n"
        "Configure a TAVEX QLN-72RT module from the command line.\n"
        "\n"
        "Commands:\n"
        "  ports                     list COM1 to COM16, their devices and whether they open\n"
        "  scan                      find the module and show its identity\n"
        "  set-id ID1 [ID2]          give the readers new IDs (1 to 99; ID2 defaults to the\n"
        "                            module's own)\n"
        "  set-line LINE             set the module's line setting (e.g. 38400,e,8,1, or its\n"
        "                            index 0 to 11)\n"
        "  set-mode two|one [--rs485 24|32|40]\n"
        "                            set the reader mode and RS-485 setting (RS-485 defaults\n"
        "                            to the module's current setting)\n"
        "  factory                   factory default: IDs 01/05, two readers, RS485 32,\n"
        "                            19200,e,8,1\n"
        "  one-reader                one reader: IDs 01/05, one reader, RS485 32, 19200,e,8,1\n"
        "  poll [--count N]          process mode: print every reader's data until Ctrl-C\n"
        "                            or N replies\n"
        "Every command but ports scans for the module first.\n"
        "\n"
        "Options:\n"
        "  --all-lines               sweep all twelve line settings, not only the remembered\n"
        "                            one\n"
        "  --json                    machine-readable output (poll: one JSON object a line)\n"
        "  --trace                   log every frame sent and received on standard error\n"
        "  --lang en|gb|big5         language of the messages (default: the remembered one)\n"
        "  --config FILE             use FILE as the settings file\n"
        "  --bell                    ring the terminal bell at the end of an operation\n"
        "  -h, --help                show this help\n"
        "  --version                 show the version\n"
        "\n"
        "Exit status: 0 success, 1 the module did not answer or the procedure failed,\n"
        "2 a usage error.\n");
}

} // namespace qmr
