#include "cliarguments.h"

#include "link/decimal.h"
#include "link/linedefinition.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace qmr {

namespace {

struct CommandName
{
    std::string_view name;
    CliCommand command;
};

constexpr std::array<CommandName, 9> Commands = {{
    {"ports", CliCommand::Ports},
    {"scan", CliCommand::Scan},
    {"set-id", CliCommand::SetId},
    {"set-line", CliCommand::SetLine},
    {"set-mode", CliCommand::SetMode},
    {"factory", CliCommand::Factory},
    {"one-reader", CliCommand::OneReader},
    {"poll", CliCommand::Poll},
    {"provision", CliCommand::Provision},
}};

constexpr std::array<std::string_view, 7> Flags = {"--json",  "--trace", "--bell",   "--all-lines",
                                                   "--again", "--help",  "--version"};
constexpr std::array<std::string_view, 10> ValueOptions = {
    "--lang",  "--config",   "--rs485", "--count", "--port",
    "--ports", "--first-id", "--mode",  "--line",  "--record"};

template <std::size_t N>
bool isOneOf(std::string_view name, const std::array<std::string_view, N> &names)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::optional<CliCommand> commandFor(std::string_view name)
{
    for (const CommandName &c : Commands) {
        if (name == c.name)
            return c.command;
    }
    return std::nullopt;
}

// A plain run of decimal digits (no sign, no blanks) within [low, high].
std::optional<int> boundedNumber(std::string_view text, int low, int high)
{
    // At most nine digits, so "0000000005" is refused as it always was.
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const auto value = parseDecimal(text, low, high);
    if (!value)
        return std::nullopt;
    return int(*value);
}

std::optional<int> lineIndexFor(std::string_view text)
{
    if (auto index = boundedNumber(text, 0, int(BaudRateTable.size()) - 1))
        return index;
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    const int index = baudRateIndexOf(lower);
    if (index >= 0)
        return index;
    return std::nullopt;
}

std::string inQuotes(std::string_view text)
{
    return "'" + std::string(text) + "'";
}

// --lang: 0 en, 1 gb, 2 big5; -1 for any other text.
int languageIndexFor(std::string_view text)
{
    constexpr std::array<std::string_view, 3> Names = {"en", "gb", "big5"};
    const auto it = std::find(Names.begin(), Names.end(), text);
    return it == Names.end() ? -1 : int(it - Names.begin());
}

bool isModuleCommand(CliCommand command)
{
    return command != CliCommand::None && command != CliCommand::Help &&
           command != CliCommand::Version && command != CliCommand::Ports;
}

// CLI11 reads a token that starts with '-' as an option and splits "-ab" into two flags;
// qmrctl takes "-5" for a value and "-ab" for one unknown option. Every value and positional
// is therefore handed to CLI11 behind this mark, which no argument from the system can hold
// (arguments end at a zero byte), and the mark is taken off again afterwards.
constexpr char ValueMark = '\0';

std::string marked(std::string_view text)
{
    return ValueMark + std::string(text);
}

std::string unmarked(std::string text)
{
    if (!text.empty() && text.front() == ValueMark)
        text.erase(0, 1);
    return text;
}

// The rules of qmrctl's command line that CLI11 does not have, applied before it binds the
// options: "-h" and "--help" win over every error, "--opt VALUE" takes the next argument
// whatever it looks like, a flag given a value and every unknown option are named in
// qmrctl's words, and each --lang and --config is checked where it stands, so the first
// bad argument of the line is the one reported.
struct Tokens
{
    std::vector<std::string> forCli; // in order
    bool help = false;
    bool version = false;
    std::string error; // the first malformed option, in token order
};

Tokens prepare(const std::vector<std::string> &arguments)
{
    Tokens t;
    auto fail = [&t](std::string message) {
        if (t.error.empty())
            t.error = std::move(message);
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string &arg = arguments[i];
        if (arg == "-h") {
            t.help = true;
            continue;
        }
        const bool negativeNumber =
            arg.size() > 1 && arg[0] == '-' && arg[1] >= '0' && arg[1] <= '9';
        if (arg.empty() || arg[0] != '-' || arg == "-" || negativeNumber) {
            t.forCli.push_back(marked(arg));
            continue;
        }
        if (arg.size() < 2 || arg[1] != '-') {
            fail("unknown option " + inQuotes(arg));
            continue;
        }
        const std::size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const bool inlineValue = eq != std::string::npos;
        if (isOneOf(name, Flags)) {
            if (inlineValue)
                fail("option " + name + " takes no value");
            if (name == "--help")
                t.help = true;
            else if (name == "--version")
                t.version = true;
            else
                t.forCli.push_back(name);
            continue;
        }
        if (!isOneOf(name, ValueOptions)) {
            fail("unknown option " + inQuotes(name));
            continue;
        }
        std::string value;
        if (inlineValue) {
            value = arg.substr(eq + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i]; // the next argument, whatever it looks like
        } else {
            fail("option " + name + " needs a value");
            continue;
        }
        // The options that apply to every command are checked where they stand, each time
        // they are given; --rs485 and --count depend on the command.
        if (name == "--lang" && languageIndexFor(value) < 0)
            fail("invalid language " + inQuotes(value) + " for --lang (en, gb or big5)");
        else if (name == "--config" && value.empty())
            fail("option --config needs a file name");
        t.forCli.push_back(name);
        t.forCli.push_back(marked(value));
    }
    return t;
}

} // namespace

namespace {

// The options of provision, each refused with any other command.
void parseProvisionOptions(CliArguments &a, CliCommand command,
                           const std::optional<std::string> &portList,
                           const std::optional<std::string> &firstId,
                           const std::optional<std::string> &mode,
                           const std::optional<std::string> &line,
                           const std::optional<std::string> &record)
{
    auto fail = [&a](std::string message) {
        if (a.error.empty())
            a.error = std::move(message);
    };
    const bool provision = command == CliCommand::Provision;
    const std::pair<const char *, const std::optional<std::string> *> options[] = {
        {"--ports", &portList},
        {"--first-id", &firstId},
        {"--mode", &mode},
        {"--line", &line},
        {"--record", &record}};
    for (const auto &[name, value] : options) {
        if (*value && !provision)
            fail(std::string("option ") + name + " applies only to provision");
    }
    if (a.again && !provision)
        fail("option --again applies only to provision");
    if (!provision)
        return;

    if (!portList) {
        fail("provision needs --ports (e.g. --ports COM3,COM4)");
    } else {
        const std::string list = unmarked(*portList);
        std::size_t start = 0;
        while (start <= list.size()) {
            const std::size_t comma = std::min(list.find(',', start), list.size());
            const std::string name = list.substr(start, comma - start);
            if (name.empty())
                fail("empty port name in --ports " + inQuotes(list));
            else if (std::find(a.ports.begin(), a.ports.end(), name) != a.ports.end())
                fail("port " + inQuotes(name) + " given twice in --ports");
            else
                a.ports.push_back(name);
            start = comma + 1;
        }
    }
    if (firstId) {
        const std::string value = unmarked(*firstId);
        if (auto id = boundedNumber(value, MinReaderId, MaxReaderId))
            a.firstId = *id;
        else
            fail("invalid first ID " + inQuotes(value) + " for --first-id (1 to 99)");
    }
    if (mode) {
        const std::string value = unmarked(*mode);
        if (value == "two")
            a.modeIndex = 0;
        else if (value == "one")
            a.modeIndex = 1;
        else
            fail("unknown mode " + inQuotes(value) + " for --mode (two or one)");
    }
    if (line) {
        const std::string value = unmarked(*line);
        if (auto index = lineIndexFor(value))
            a.lineNo = *index;
        else
            fail("unknown line definition " + inQuotes(value) +
                 " for --line (e.g. 19200,e,8,1, or an index 0 to 11)");
    }
    if (record) {
        a.recordFile = unmarked(*record);
        if (a.recordFile.empty())
            fail("option --record needs a file name");
    }
}

} // namespace

CliArguments parseCliArguments(const std::vector<std::string> &arguments)
{
    CliArguments a;
    auto fail = [&a](std::string message) {
        if (a.error.empty())
            a.error = std::move(message);
    };

    Tokens tokens = prepare(arguments);
    if (tokens.help) {
        a.command = CliCommand::Help;
        return a;
    }
    if (tokens.version) {
        a.command = CliCommand::Version;
        return a;
    }
    if (!tokens.error.empty()) {
        a.error = tokens.error;
        return a;
    }

    CLI::App app{"qmrctl"};
    app.set_help_flag(); // qmrctl prints its own help text
    app.allow_extras();
    std::optional<std::string> lang;
    std::optional<std::string> config;
    std::optional<std::string> rs485;
    std::optional<std::string> count;
    std::vector<std::string> positionals;
    app.add_flag("--json", a.json);
    app.add_flag("--trace", a.trace);
    app.add_flag("--bell", a.bell);
    app.add_flag("--all-lines", a.allLines);
    app.add_flag("--again", a.again);
    std::optional<std::string> port;
    std::optional<std::string> portList;
    std::optional<std::string> firstId;
    std::optional<std::string> mode;
    std::optional<std::string> line;
    std::optional<std::string> record;
    for (auto [name, target] :
         {std::pair{"--lang", &lang}, std::pair{"--config", &config}, std::pair{"--rs485", &rs485},
          std::pair{"--count", &count}, std::pair{"--port", &port}, std::pair{"--ports", &portList},
          std::pair{"--first-id", &firstId}, std::pair{"--mode", &mode}, std::pair{"--line", &line},
          std::pair{"--record", &record}})
        app.add_option(name, *target)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("arguments", positionals);

    std::vector<std::string> reversed(tokens.forCli.rbegin(), tokens.forCli.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError &error) {
        // Not expected: every option is known and has its value by now.
        a.error = error.what();
        return a;
    }
    if (!app.remaining().empty()) {
        a.error = "unknown option " + inQuotes(unmarked(app.remaining().front()));
        return a;
    }
    for (std::string &p : positionals)
        p = unmarked(std::move(p));

    if (lang)
        a.languageIndex = languageIndexFor(unmarked(*lang));
    if (config)
        a.configFile = unmarked(*config);
    if (positionals.empty()) {
        fail("no command given");
        return a;
    }
    a.commandName = positionals.front();
    positionals.erase(positionals.begin());
    const std::optional<CliCommand> command = commandFor(a.commandName);
    if (!command) {
        fail("unknown command " + inQuotes(a.commandName));
        return a;
    }

    // The command's own arguments.
    std::size_t minArgs = 0;
    std::size_t maxArgs = 0;
    const char *missing = "";
    switch (*command) {
    case CliCommand::SetId:
        minArgs = 1;
        maxArgs = 2;
        missing = "ID1";
        break;
    case CliCommand::SetLine:
        minArgs = maxArgs = 1;
        missing = "LINE";
        break;
    case CliCommand::SetMode:
        minArgs = maxArgs = 1;
        missing = "MODE";
        break;
    default:
        break;
    }
    if (positionals.size() > maxArgs) {
        fail("unexpected argument " + inQuotes(positionals[maxArgs]) + " for " + a.commandName);
        return a;
    }
    if (positionals.size() < minArgs) {
        fail(a.commandName + " needs " + missing);
        return a;
    }

    switch (*command) {
    case CliCommand::SetId:
        if (auto id = boundedNumber(positionals[0], MinReaderId, MaxReaderId))
            a.id1 = *id;
        else
            fail("invalid ID1 " + inQuotes(positionals[0]) + " (1 to 99)");
        if (positionals.size() > 1) {
            if (auto id = boundedNumber(positionals[1], MinReaderId, MaxReaderId))
                a.id2 = *id;
            else
                fail("invalid ID2 " + inQuotes(positionals[1]) + " (1 to 99)");
        }
        break;
    case CliCommand::SetLine:
        if (auto index = lineIndexFor(positionals[0]))
            a.baudRateNo = *index;
        else
            fail("unknown line definition " + inQuotes(positionals[0]) +
                 " (e.g. 19200,e,8,1, or an index 0 to 11)");
        break;
    case CliCommand::SetMode:
        if (positionals[0] == "two")
            a.modeIndex = 0;
        else if (positionals[0] == "one")
            a.modeIndex = 1;
        else
            fail("unknown mode " + inQuotes(positionals[0]) + " (two or one)");
        break;
    default:
        break;
    }

    if (rs485) {
        const std::string value = unmarked(*rs485);
        const auto number = boundedNumber(value, 0, Rs485Values.back());
        // Only the three texts themselves: "024" is no RS-485 setting.
        const int index = number && std::to_string(*number) == value ? rs485IndexOf(*number) : -1;
        if (*command != CliCommand::SetMode && *command != CliCommand::Provision)
            fail("option --rs485 applies only to set-mode and provision");
        else if (index >= 0)
            a.rs485Index = index;
        else
            fail("invalid RS-485 setting " + inQuotes(value) + " for --rs485 (24, 32 or 40)");
    }
    if (count) {
        const std::string value = unmarked(*count);
        if (*command != CliCommand::Poll)
            fail("option --count applies only to poll");
        else if (auto n = boundedNumber(value, MinPollCount, MaxPollCount))
            a.count = *n;
        else
            fail("invalid count " + inQuotes(value) + " for --count (a whole number from 1)");
    }
    if (a.allLines && !isModuleCommand(*command))
        fail("option --all-lines does not apply to " + a.commandName);
    if (port) {
        a.port = unmarked(*port);
        if (!isModuleCommand(*command) || *command == CliCommand::Provision)
            fail("option --port does not apply to " + a.commandName +
                 (*command == CliCommand::Provision ? " (use --ports)" : ""));
        else if (a.port.empty())
            fail("option --port needs a port name");
    }
    parseProvisionOptions(a, *command, portList, firstId, mode, line, record);

    if (a.error.empty())
        a.command = *command;
    return a;
}

std::string cliUsage()
{
    return "Usage: qmrctl [OPTIONS] COMMAND [ARGUMENTS]\n"
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
           "  provision --ports P1,P2,... [--first-id N] [--mode two|one] [--rs485 24|32|40]\n"
           "            [--line LINE] [--record FILE] [--again]\n"
           "                            on every port at once, until Ctrl-C: wait for a module,\n"
           "                            give it the next free IDs (from N, at most 99), set\n"
           "                            mode, RS-485 and line, check, and wait for the next;\n"
           "                            FILE (JSON lines, or CSV for *.csv) records each module\n"
           "                            and lets an interrupted run go on; --again configures\n"
           "                            modules the record already has\n"
           "Every command but ports scans for the module first.\n"
           "\n"
           "Options:\n"
           "  --all-lines               sweep all twelve line settings, not only the remembered\n"
           "                            one\n"
           "  --port PORT               use only PORT (COM5, or a device such as /dev/ttyUSB0\n"
           "                            on Linux), not the remembered port or the sweep\n"
           "  --json                    machine-readable output (poll: one JSON object a line)\n"
           "  --trace                   log every frame sent and received on standard error\n"
           "  --lang en|gb|big5         language of the messages (default: the remembered one)\n"
           "  --config FILE             use FILE as the settings file\n"
           "  --bell                    ring the terminal bell at the end of an operation\n"
           "  -h, --help                show this help\n"
           "  --version                 show the version\n"
           "\n"
           "Exit status: 0 success, 1 the module did not answer or the procedure failed,\n"
           "2 a usage error.\n";
}

} // namespace qmr
