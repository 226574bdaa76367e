#include "cliarguments.h"

#include "vocabulary/decimal.h"

#include <algorithm>
#include <map>
#include <string_view>

namespace qmr {

namespace {

std::string inQuotes(std::string_view text)
{
    return "'" + std::string(text) + "'";
}

bool isModuleCommand(CliCommand command)
{
    return command != CliCommand::None && command != CliCommand::Help &&
           command != CliCommand::Version && command != CliCommand::Ports &&
           command != CliCommand::CheckPort && command != CliCommand::Report;
}

// One parse: the arguments being filled in and the first error found.
struct Parse
{
    CliArguments a;
    void fail(std::string message)
    {
        if (a.error.empty())
            a.error = std::move(message);
    }
};

// The options. Each is declared once: its name, its value, its line in the help text (none
// for the options shown with their command), the check made wherever it stands, the commands
// it belongs to, and what it does with its value. The table's order is the order of the help
// text and of the checks made once the command is known.
struct OptionSpec
{
    std::string_view name;
    std::string_view valueName; // empty: a flag
    std::string_view shown;     // the help text's name for it, when not "name valueName"
    std::vector<std::string_view> help;
    // Checked each time it is given, where it stands: the options of every command.
    std::string (*check)(std::string_view value) = nullptr;
    // Empty when it belongs to the command, else the message that says where it belongs.
    std::string (*refuse)(const CliArguments &a, CliCommand command) = nullptr;
    void (*take)(Parse &p, std::string_view value) = nullptr;
    // The message when the command needs it and it is missing.
    std::string (*require)(CliCommand command) = nullptr;
};

std::string onlyWithProvision(std::string_view option, CliCommand command)
{
    return command == CliCommand::Provision
               ? std::string()
               : "option " + std::string(option) + " applies only to provision";
}

void takePorts(Parse &p, std::string_view list)
{
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string name(list.substr(start, comma - start));
        if (name.empty())
            p.fail("empty port name in --ports " + inQuotes(list));
        else if (std::find(p.a.ports.begin(), p.a.ports.end(), name) != p.a.ports.end())
            p.fail("port " + inQuotes(name) + " given twice in --ports");
        else
            p.a.ports.push_back(name);
        start = comma + 1;
    }
}

void takeRs485(Parse &p, std::string_view value)
{
    const auto number = parsePlainNumber(value, 0, Rs485Values.back());
    // Only the three texts themselves: "024" is no RS-485 setting.
    const int index = number && std::to_string(*number) == value ? rs485IndexOf(*number) : -1;
    if (index >= 0)
        p.a.rs485Index = index;
    else
        p.fail("invalid RS-485 setting " + inQuotes(value) + " for --rs485 (24, 32 or 40)");
}

const std::vector<OptionSpec> Options = {
    {"--rs485",
     "VALUE",
     {},
     {},
     nullptr,
     [](const CliArguments &, CliCommand c) {
         return c == CliCommand::SetMode || c == CliCommand::Provision
                    ? std::string()
                    : std::string("option --rs485 applies only to set-mode and provision");
     },
     takeRs485},
    {"--count",
     "N",
     {},
     {},
     nullptr,
     [](const CliArguments &, CliCommand c) {
         return c == CliCommand::Poll ? std::string()
                                      : std::string("option --count applies only to poll");
     },
     [](Parse &p, std::string_view value) {
         if (auto n = parsePlainNumber(value, MinPollCount, MaxPollCount))
             p.a.count = *n;
         else
             p.fail("invalid count " + inQuotes(value) + " for --count (a whole number from 1)");
     }},
    {"--all-lines",
     {},
     {},
     {"sweep all twelve line settings, not only the remembered", "one"},
     nullptr,
     [](const CliArguments &a, CliCommand c) {
         return isModuleCommand(c) ? std::string()
                                   : "option --all-lines does not apply to " + a.commandName;
     },
     [](Parse &p, std::string_view) { p.a.allLines = true; }},
    {"--port",
     "PORT",
     {},
     {"use only PORT (COM5, or a device such as /dev/ttyUSB0",
      "on Linux), not the remembered port or the sweep"},
     nullptr,
     [](const CliArguments &a, CliCommand c) {
         if (isModuleCommand(c) && c != CliCommand::Provision)
             return std::string();
         return "option --port does not apply to " + a.commandName +
                (c == CliCommand::Provision ? " (use --ports)" : "");
     },
     [](Parse &p, std::string_view value) {
         p.a.port = value;
         if (value.empty())
             p.fail("option --port needs a port name");
     }},
    {"--json",
     {},
     {},
     {"machine-readable output (poll: one JSON object a line)"},
     nullptr,
     nullptr,
     [](Parse &p, std::string_view) { p.a.json = true; }},
    {"--trace",
     {},
     {},
     {"log every frame sent and received on standard error"},
     nullptr,
     nullptr,
     [](Parse &p, std::string_view) { p.a.trace = true; }},
    {"--lang",
     "en|gb|big5",
     {},
     {"language of the messages (default: the remembered one)"},
     [](std::string_view value) {
         return languageIndexForCode(value) < 0
                    ? "invalid language " + inQuotes(value) + " for --lang (en, gb or big5)"
                    : std::string();
     },
     nullptr,
     [](Parse &p, std::string_view value) { p.a.languageIndex = languageIndexForCode(value); }},
    {"--config",
     "FILE",
     {},
     {"use FILE as the settings file"},
     [](std::string_view value) {
         return value.empty() ? std::string("option --config needs a file name") : std::string();
     },
     nullptr,
     [](Parse &p, std::string_view value) { p.a.configFile = value; }},
    {"--bell",
     {},
     {},
     {"ring the terminal bell at the end of an operation"},
     nullptr,
     nullptr,
     [](Parse &p, std::string_view) { p.a.bell = true; }},
    {"--help", {}, "-h, --help", {"show this help"}},
    {"--version", {}, {}, {"show the version"}},
    {"--ports",
     "P1,P2,...",
     {},
     {},
     nullptr,
     [](const CliArguments &, CliCommand c) { return onlyWithProvision("--ports", c); },
     takePorts,
     [](CliCommand c) {
         return c == CliCommand::Provision
                    ? std::string("provision needs --ports (e.g. --ports COM3,COM4)")
                    : std::string();
     }},
    {"--first-id",
     "N",
     {},
     {},
     nullptr,
     [](const CliArguments &, CliCommand c) { return onlyWithProvision("--first-id", c); },
     [](Parse &p, std::string_view value) {
         if (auto id = parsePlainNumber(value, MinReaderId, MaxReaderId))
             p.a.firstId = *id;
         else
             p.fail("invalid first ID " + inQuotes(value) + " for --first-id (1 to 99)");
     }},
    {"--mode",
     "two|one",
     {},
     {},
     nullptr,
     [](const CliArguments &, CliCommand c) { return onlyWithProvision("--mode", c); },
     [](Parse &p, std::string_view value) {
         if (auto mode = readerModeIndexFor(value))
             p.a.modeIndex = *mode;
         else
             p.fail("unknown mode " + inQuotes(value) + " for --mode (two or one)");
     }},
    {"--line",
     "LINE",
     {},
     {},
     nullptr,
     [](const CliArguments &, CliCommand c) { return onlyWithProvision("--line", c); },
     [](Parse &p, std::string_view value) {
         if (auto index = lineSettingIndexFor(value))
             p.a.lineNo = *index;
         else
             p.fail("unknown line definition " + inQuotes(value) +
                    " for --line (e.g. 19200,e,8,1, or an index 0 to 11)");
     }},
    {"--record",
     "FILE",
     {},
     {},
     nullptr,
     [](const CliArguments &, CliCommand c) { return onlyWithProvision("--record", c); },
     [](Parse &p, std::string_view value) {
         p.a.recordFile = value;
         if (value.empty())
             p.fail("option --record needs a file name");
     }},
    {"--again",
     {},
     {},
     {},
     nullptr,
     [](const CliArguments &, CliCommand c) { return onlyWithProvision("--again", c); },
     [](Parse &p, std::string_view) { p.a.again = true; }},
};

const OptionSpec *optionNamed(std::string_view name)
{
    for (const OptionSpec &option : Options) {
        if (option.name == name)
            return &option;
    }
    return nullptr;
}

void takeSetId(Parse &p, const std::vector<std::string> &args)
{
    if (auto id = parsePlainNumber(args[0], MinReaderId, MaxReaderId))
        p.a.id1 = *id;
    else
        p.fail("invalid ID1 " + inQuotes(args[0]) + " (1 to 99)");
    if (args.size() < 2)
        return;
    if (auto id = parsePlainNumber(args[1], MinReaderId, MaxReaderId))
        p.a.id2 = *id;
    else
        p.fail("invalid ID2 " + inQuotes(args[1]) + " (1 to 99)");
}

// The commands, each declared once: its name, its own arguments ("[...]" optional), how the
// help text shows it (wrapped), its help text, and what it does with its arguments.
struct CommandSpec
{
    std::string_view name;
    CliCommand command;
    std::vector<std::string_view> arguments;
    std::vector<std::string_view> synopsis;
    std::vector<std::string_view> help;
    void (*take)(Parse &p, const std::vector<std::string> &args);
};

const std::vector<CommandSpec> Commands = {
    {"ports",
     CliCommand::Ports,
     {},
     {"ports"},
     {"list COM1 to COM16, their devices and whether they open"},
     nullptr},
    {"scan", CliCommand::Scan, {}, {"scan"}, {"find the module and show its identity"}, nullptr},
    {"set-id",
     CliCommand::SetId,
     {"ID1", "[ID2]"},
     {"set-id ID1 [ID2]"},
     {"give the readers new IDs (1 to 99; ID2 defaults to the", "module's own)"},
     takeSetId},
    {"set-line",
     CliCommand::SetLine,
     {"LINE"},
     {"set-line LINE"},
     {"set the module's line setting (e.g. 38400,e,8,1, or its", "index 0 to 11)"},
     [](Parse &p, const std::vector<std::string> &args) {
         if (auto index = lineSettingIndexFor(args[0]))
             p.a.baudRateNo = *index;
         else
             p.fail("unknown line definition " + inQuotes(args[0]) +
                    " (e.g. 19200,e,8,1, or an index 0 to 11)");
     }},
    {"set-mode",
     CliCommand::SetMode,
     {"MODE"},
     {"set-mode two|one [--rs485 24|32|40]"},
     {"set the reader mode and RS-485 setting (RS-485 defaults",
      "to the module's current setting)"},
     [](Parse &p, const std::vector<std::string> &args) {
         if (auto mode = readerModeIndexFor(args[0]))
             p.a.modeIndex = *mode;
         else
             p.fail("unknown mode " + inQuotes(args[0]) + " (two or one)");
     }},
    {"factory",
     CliCommand::Factory,
     {},
     {"factory"},
     {"factory default: IDs 01/05, two readers, RS485 32,", "19200,e,8,1"},
     nullptr},
    {"one-reader",
     CliCommand::OneReader,
     {},
     {"one-reader"},
     {"one reader: IDs 01/05, one reader, RS485 32, 19200,e,8,1"},
     nullptr},
    {"poll",
     CliCommand::Poll,
     {},
     {"poll [--count N]"},
     {"process mode: print every reader's data until Ctrl-C", "or N replies"},
     nullptr},
    {"provision",
     CliCommand::Provision,
     {},
     {"provision --ports P1,P2,... [--first-id N] [--mode two|one] [--rs485 24|32|40]",
      "[--line LINE] [--record FILE] [--again]"},
     {"on every port at once, until Ctrl-C: wait for a module,",
      "give it the next free IDs (from N, at most 99), set",
      "mode, RS-485 and line, check, and wait for the next;",
      "FILE (JSON lines, or CSV for *.csv) records each module",
      "and lets an interrupted run go on; --again configures", "modules the record already has"},
     nullptr},
    {"check-port",
     CliCommand::CheckPort,
     {"PORT"},
     {"check-port PORT"},
     {"check an adapter with a loopback plug (TX joined to RX)", "at the twelve line settings"},
     [](Parse &p, const std::vector<std::string> &args) { p.a.operand = args[0]; }},
    {"report",
     CliCommand::Report,
     {"FILE"},
     {"report FILE"},
     {"write what support asks for to FILE (JSON): version,",
      "system, ports and adapters, settings, a traced sweep"},
     [](Parse &p, const std::vector<std::string> &args) { p.a.operand = args[0]; }},
};

// The options as given, in order: each value option's values, and the flags seen.
struct Given
{
    std::vector<std::string> positionals;
    std::map<std::string_view, std::string> lastValue;
    bool help = false;
    bool version = false;
};

// Where an option takes its value: "--opt=VALUE", or the next argument whatever it looks like.
bool readValue(Parse &p, const std::vector<std::string> &arguments, std::size_t &i,
               const OptionSpec &option, std::string &value)
{
    const std::string &arg = arguments[i];
    const std::size_t eq = arg.find('=');
    if (eq != std::string::npos) {
        value = arg.substr(eq + 1);
        return true;
    }
    if (i + 1 < arguments.size()) {
        value = arguments[++i];
        return true;
    }
    p.fail("option " + std::string(option.name) + " needs a value");
    return false;
}

// One pass over the line: "-h" and "--help" win over every error, the first malformed option
// in the order of the line is the one reported, and "-5" or "-" are arguments, not options.
Given readLine(Parse &p, const std::vector<std::string> &arguments)
{
    Given g;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string &arg = arguments[i];
        if (arg == "-h") {
            g.help = true;
            continue;
        }
        const bool negativeNumber =
            arg.size() > 1 && arg[0] == '-' && arg[1] >= '0' && arg[1] <= '9';
        if (arg.empty() || arg[0] != '-' || arg == "-" || negativeNumber) {
            g.positionals.push_back(arg);
            continue;
        }
        const std::string name = arg.substr(0, arg.find('='));
        const OptionSpec *option = arg[1] == '-' ? optionNamed(name) : nullptr;
        if (!option) {
            p.fail("unknown option " + inQuotes(arg[1] == '-' ? name : arg));
            continue;
        }
        if (option->valueName.empty()) {
            if (name.size() != arg.size())
                p.fail("option " + name + " takes no value");
            g.help = g.help || name == "--help";
            g.version = g.version || name == "--version";
            g.lastValue[option->name].clear();
            continue;
        }
        std::string value;
        if (!readValue(p, arguments, i, *option, value))
            continue;
        if (option->check)
            if (std::string error = option->check(value); !error.empty())
                p.fail(std::move(error));
        g.lastValue[option->name] = std::move(value);
    }
    return g;
}

const CommandSpec *commandNamed(std::string_view name)
{
    for (const CommandSpec &command : Commands) {
        if (command.name == name)
            return &command;
    }
    return nullptr;
}

// The command's own arguments: as many as it takes, then their values.
void takeArguments(Parse &p, const CommandSpec &command, std::vector<std::string> args)
{
    const std::size_t most = command.arguments.size();
    const std::size_t least =
        std::size_t(std::count_if(command.arguments.begin(), command.arguments.end(),
                                  [](std::string_view name) { return !name.starts_with('['); }));
    if (args.size() > most) {
        p.fail("unexpected argument " + inQuotes(args[most]) + " for " + p.a.commandName);
        return;
    }
    if (args.size() < least) {
        p.fail(p.a.commandName + " needs " + std::string(command.arguments[args.size()]));
        return;
    }
    if (command.take)
        command.take(p, args);
}

} // namespace

std::vector<std::string> cliSynopses()
{
    std::vector<std::string> synopses;
    for (const CommandSpec &command : Commands) {
        std::string line;
        for (std::string_view part : command.synopsis)
            line += (line.empty() ? "" : " ") + std::string(part);
        synopses.push_back(line);
    }
    return synopses;
}

CliArguments parseCliArguments(const std::vector<std::string> &arguments)
{
    Parse p;
    Given given = readLine(p, arguments);
    if (given.help || given.version) {
        CliArguments shown;
        shown.command = given.help ? CliCommand::Help : CliCommand::Version;
        return shown;
    }
    if (!p.a.ok())
        return p.a;
    // The options of every command count even when the command is wrong.
    for (const OptionSpec &option : Options) {
        const auto found = given.lastValue.find(option.name);
        if (found != given.lastValue.end() && !option.refuse && option.take)
            option.take(p, found->second);
    }
    if (given.positionals.empty()) {
        p.fail("no command given");
        return p.a;
    }
    p.a.commandName = given.positionals.front();
    const CommandSpec *command = commandNamed(p.a.commandName);
    if (!command) {
        p.fail("unknown command " + inQuotes(p.a.commandName));
        return p.a;
    }
    takeArguments(p, *command, {given.positionals.begin() + 1, given.positionals.end()});
    if (!p.a.ok())
        return p.a;
    // The options that belong to some commands, in the table's order.
    for (const OptionSpec &option : Options) {
        if (!option.refuse)
            continue;
        const auto found = given.lastValue.find(option.name);
        if (found == given.lastValue.end()) {
            if (option.require)
                if (std::string error = option.require(command->command); !error.empty())
                    p.fail(std::move(error));
            continue;
        }
        if (std::string error = option.refuse(p.a, command->command); !error.empty())
            p.fail(std::move(error));
        else
            option.take(p, found->second);
    }
    if (p.a.ok())
        p.a.command = command->command;
    return p.a;
}

std::string cliUsage()
{
    constexpr std::size_t Column = 28; // where the help texts start
    const auto entry = [](const std::vector<std::string_view> &synopsis,
                          const std::vector<std::string_view> &help, std::size_t indent) {
        std::string text = "  " + std::string(synopsis.front());
        for (std::size_t i = 1; i < synopsis.size(); ++i)
            text += "\n" + std::string(indent, ' ') + std::string(synopsis[i]);
        for (std::size_t i = 0; i < help.size(); ++i) {
            const bool besideIt = i == 0 && synopsis.size() == 1 && text.size() < Column;
            text +=
                besideIt ? std::string(Column - text.size(), ' ') : "\n" + std::string(Column, ' ');
            text += help[i];
        }
        return text + "\n";
    };
    std::string text = "Usage: qmrctl [OPTIONS] COMMAND [ARGUMENTS]\n"
                       "Configure a TAVEX QLN-72RT module from the command line.\n"
                       "\n"
                       "Commands:\n";
    for (const CommandSpec &command : Commands)
        text += entry(command.synopsis, command.help, 2 + command.name.size() + 1);
    text += "Every command but ports, check-port and report scans for the module first.\n"
            "\n"
            "Options:\n";
    for (const OptionSpec &option : Options) {
        if (option.help.empty())
            continue;
        std::string shown(option.shown.empty() ? option.name : option.shown);
        if (!option.valueName.empty())
            shown += " " + std::string(option.valueName);
        const std::string_view name(shown);
        text += entry({name}, option.help, 0);
    }
    return text + "\n"
                  "Exit status: 0 success, 1 the module did not answer or the procedure failed,\n"
                  "2 a usage error.\n";
}

} // namespace qmr
