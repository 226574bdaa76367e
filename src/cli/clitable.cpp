#include "clitable.h"

#include "cliarguments.h"
#include "commandrunner.h"
#include "vocabulary/decimal.h"

#include <algorithm>

namespace qmr {

namespace {

std::string inQuotes(std::string_view text)
{
    return "'" + std::string(text) + "'";
}

void takePorts(CliArguments &a, std::string_view list)
{
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string name(list.substr(start, comma - start));
        if (name.empty())
            cliFail(a, "empty port name in --ports " + inQuotes(list));
        else if (std::find(a.ports.begin(), a.ports.end(), name) != a.ports.end())
            cliFail(a, "port " + inQuotes(name) + " given twice in --ports");
        else
            a.ports.push_back(name);
        start = comma + 1;
    }
}

void takeRs485(CliArguments &a, std::string_view value)
{
    const auto number = parsePlainNumber(value, 0, Rs485Values.back());
    // Only the three texts themselves: "024" is no RS-485 setting.
    const int index = number && std::to_string(*number) == value ? rs485IndexOf(*number) : -1;
    if (index >= 0)
        a.rs485Index = index;
    else
        cliFail(a, "invalid RS-485 setting " + inQuotes(value) + " for --rs485 (24, 32 or 40)");
}

void takeSetId(CliArguments &a, const std::vector<std::string> &args)
{
    if (auto id = parsePlainNumber(args[0], MinReaderId, MaxReaderId))
        a.id1 = *id;
    else
        cliFail(a, "invalid ID1 " + inQuotes(args[0]) + " (1 to 99)");
    if (args.size() < 2)
        return;
    if (auto id = parsePlainNumber(args[1], MinReaderId, MaxReaderId))
        a.id2 = *id;
    else
        cliFail(a, "invalid ID2 " + inQuotes(args[1]) + " (1 to 99)");
}

std::vector<std::string> languageCodes()
{
    std::vector<std::string> codes;
    for (const Language &language : Languages)
        codes.emplace_back(language.code);
    return codes;
}

std::vector<std::string> modeWords()
{
    std::vector<std::string> words;
    for (const ReaderMode &mode : ReaderModes)
        words.emplace_back(mode.word);
    return words;
}

std::vector<std::string> rs485Texts()
{
    std::vector<std::string> texts;
    for (const int value : Rs485Values)
        texts.push_back(std::to_string(value));
    return texts;
}

std::vector<std::string> lineDefinitions()
{
    return {BaudRateTable.begin(), BaudRateTable.end()};
}

std::vector<std::string> shells()
{
    return {"bash", "zsh", "fish"};
}

// The options. The table's order is the order of the help text and of the checks made once
// the command is known.
const std::vector<CliOption> Options = {
    {.name = "--rs485", .valueName = "24|32|40", .values = rs485Texts, .take = takeRs485},
    {.name = "--count",
     .valueName = "N",
     .take =
         [](CliArguments &a, std::string_view value) {
             if (auto n = parsePlainNumber(value, MinPollCount, MaxPollCount))
                 a.count = *n;
             else
                 cliFail(a, "invalid count " + inQuotes(value) +
                                " for --count (a whole number from 1)");
         }},
    {.name = "--all-lines",
     .help = {"sweep all twelve line settings, not only the remembered", "one"},
     .reaches = {CliReach::OneModule, CliReach::EveryPort},
     .take = [](CliArguments &a, std::string_view) { a.allLines = true; }},
    {.name = "--port",
     .valueName = "PORT",
     .help = {"use only PORT (COM5, or a device such as /dev/ttyUSB0",
              "on Linux), not the remembered port or the sweep"},
     .reaches = {CliReach::OneModule},
     .ratherUse = "--ports",
     .take =
         [](CliArguments &a, std::string_view value) {
             a.port = value;
             if (value.empty())
                 cliFail(a, "option --port needs a port name");
         }},
    {.name = "--json",
     .help = {"machine-readable output (poll: one JSON object a line)"},
     .everyCommand = true,
     .take = [](CliArguments &a, std::string_view) { a.json = true; }},
    {.name = "--trace",
     .help = {"log every frame sent and received on standard error"},
     .everyCommand = true,
     .take = [](CliArguments &a, std::string_view) { a.trace = true; }},
    {.name = "--lang",
     .valueName = "en|gb|big5",
     .help = {"language of the messages (default: the remembered one)"},
     .everyCommand = true,
     .values = languageCodes,
     .check =
         [](std::string_view value) {
             return languageIndexForCode(value) < 0
                        ? "invalid language " + inQuotes(value) + " for --lang (en, gb or big5)"
                        : std::string();
         },
     .take = [](CliArguments &a,
                std::string_view value) { a.languageIndex = languageIndexForCode(value); }},
    {.name = "--config",
     .valueName = "FILE",
     .help = {"use FILE as the settings file"},
     .everyCommand = true,
     .files = true,
     .check =
         [](std::string_view value) {
             return value.empty() ? std::string("option --config needs a file name")
                                  : std::string();
         },
     .take = [](CliArguments &a, std::string_view value) { a.configFile = value; }},
    {.name = "--bell",
     .help = {"ring the terminal bell at the end of an operation"},
     .everyCommand = true,
     .take = [](CliArguments &a, std::string_view) { a.bell = true; }},
    {.name = "--help", .shown = "-h, --help", .help = {"show this help"}, .everyCommand = true},
    {.name = "--version", .help = {"show the version"}, .everyCommand = true},
    {.name = "--completion",
     .valueName = "SHELL",
     .help = {"print the completion script of SHELL (bash, zsh, fish)"},
     .everyCommand = true,
     .values = shells,
     .check =
         [](std::string_view value) {
             const auto known = shells();
             return std::find(known.begin(), known.end(), value) == known.end()
                        ? "unknown shell " + inQuotes(value) +
                              " for --completion (bash, zsh or fish)"
                        : std::string();
         }},
    {.name = "--ports", .valueName = "P1,P2,...", .example = "COM3,COM4", .take = takePorts},
    {.name = "--first-id",
     .valueName = "N",
     .take =
         [](CliArguments &a, std::string_view value) {
             if (auto id = parsePlainNumber(value, MinReaderId, MaxReaderId))
                 a.firstId = *id;
             else
                 cliFail(a, "invalid first ID " + inQuotes(value) + " for --first-id (1 to 99)");
         }},
    {.name = "--mode",
     .valueName = "two|one",
     .values = modeWords,
     .take =
         [](CliArguments &a, std::string_view value) {
             if (auto mode = readerModeIndexFor(value))
                 a.modeIndex = *mode;
             else
                 cliFail(a, "unknown mode " + inQuotes(value) + " for --mode (two or one)");
         }},
    {.name = "--line",
     .valueName = "LINE",
     .values = lineDefinitions,
     .take =
         [](CliArguments &a, std::string_view value) {
             if (auto index = lineSettingIndexFor(value))
                 a.lineNo = *index;
             else
                 cliFail(a, "unknown line definition " + inQuotes(value) +
                                " for --line (e.g. 19200,e,8,1, or an index 0 to 11)");
         }},
    {.name = "--record",
     .valueName = "FILE",
     .files = true,
     .take =
         [](CliArguments &a, std::string_view value) {
             a.recordFile = value;
             if (value.empty())
                 cliFail(a, "option --record needs a file name");
         }},
    {.name = "--again", .take = [](CliArguments &a, std::string_view) { a.again = true; }},
};

// The commands, in the order of the help text and the manual.
const std::vector<CliCommandEntry> Commands = {
    {.name = "ports",
     .reach = CliReach::System,
     .help = {"list COM1 to COM16, their devices and whether they open"},
     .run = &CommandRunner::ports},
    {.name = "scan",
     .help = {"find the module and show its identity"},
     .run = &CommandRunner::scan},
    {.name = "set-id",
     .arguments = {{.name = "ID1"}, {.name = "ID2", .optional = true}},
     .help = {"give the readers new IDs (1 to 99; ID2 defaults to the", "module's own)"},
     .take = takeSetId,
     .run = &CommandRunner::setId},
    {.name = "set-line",
     .arguments = {{.name = "LINE"}},
     .help = {"set the module's line setting (e.g. 38400,e,8,1, or its", "index 0 to 11)"},
     .take =
         [](CliArguments &a, const std::vector<std::string> &args) {
             if (auto index = lineSettingIndexFor(args[0]))
                 a.baudRateNo = *index;
             else
                 cliFail(a, "unknown line definition " + inQuotes(args[0]) +
                                " (e.g. 19200,e,8,1, or an index 0 to 11)");
         },
     .run = &CommandRunner::setLine},
    {.name = "set-mode",
     .arguments = {{.name = "MODE", .shown = "two|one"}},
     .options = {{"--rs485"}},
     .help = {"set the reader mode and RS-485 setting (RS-485 defaults",
              "to the module's current setting)"},
     .take =
         [](CliArguments &a, const std::vector<std::string> &args) {
             if (auto mode = readerModeIndexFor(args[0]))
                 a.modeIndex = *mode;
             else
                 cliFail(a, "unknown mode " + inQuotes(args[0]) + " (two or one)");
         },
     .run = &CommandRunner::setMode},
    {.name = "factory",
     .help = {"factory default: IDs 01/05, two readers, RS485 32,", "19200,e,8,1"},
     .run = &CommandRunner::factory},
    {.name = "one-reader",
     .help = {"one reader: IDs 01/05, one reader, RS485 32, 19200,e,8,1"},
     .run = &CommandRunner::oneReader},
    {.name = "poll",
     .options = {{"--count"}},
     .help = {"process mode: print every reader's data until Ctrl-C", "or N replies"},
     .run = &CommandRunner::poll},
    {.name = "provision",
     .reach = CliReach::EveryPort,
     .options = {{"--ports", true},
                 {"--first-id"},
                 {"--mode"},
                 {"--rs485"},
                 {"--line"},
                 {"--record"},
                 {"--again"}},
     .help = {"on every port at once, until Ctrl-C: wait for a module,",
              "give it the next free IDs (from N, at most 99), set",
              "mode, RS-485 and line, check, and wait for the next;",
              "FILE (JSON lines, or CSV for *.csv) records each module",
              "and lets an interrupted run go on; --again configures",
              "modules the record already has"},
     .run = &CommandRunner::provision},
    {.name = "check-port",
     .reach = CliReach::System,
     .arguments = {{.name = "PORT"}},
     .help = {"check an adapter with a loopback plug (TX joined to RX)",
              "at the twelve line settings"},
     .take = [](CliArguments &a, const std::vector<std::string> &args) { a.operand = args[0]; },
     .run = &CommandRunner::checkPort},
    {.name = "report",
     .reach = CliReach::System,
     .arguments = {{.name = "FILE"}},
     .help = {"write what support asks for to FILE (JSON): version,",
              "system, ports and adapters, settings, a traced sweep"},
     .take = [](CliArguments &a, const std::vector<std::string> &args) { a.operand = args[0]; },
     .run = &CommandRunner::report},
};

// "a", "a and b", "a, b and c".
std::string listed(const std::vector<std::string_view> &names)
{
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0)
            text += i + 1 == names.size() ? " and " : ", ";
        text += names[i];
    }
    return text;
}

} // namespace

const std::vector<CliOption> &cliOptions()
{
    return Options;
}

const std::vector<CliCommandEntry> &cliCommands()
{
    return Commands;
}

const CliOption *cliOptionNamed(std::string_view name)
{
    const auto found = std::find_if(Options.begin(), Options.end(),
                                    [name](const CliOption &o) { return o.name == name; });
    return found == Options.end() ? nullptr : &*found;
}

const CliCommandEntry *cliCommandNamed(std::string_view name)
{
    const auto found = std::find_if(Commands.begin(), Commands.end(),
                                    [name](const CliCommandEntry &c) { return c.name == name; });
    return found == Commands.end() ? nullptr : &*found;
}

bool cliAccepts(const CliCommandEntry &command, const CliOption &option)
{
    if (option.everyCommand)
        return true;
    for (const CliOptionUse &use : command.options) {
        if (use.name == option.name)
            return true;
    }
    return std::find(option.reaches.begin(), option.reaches.end(), command.reach) !=
           option.reaches.end();
}

std::string cliRefusal(const CliOption &option, const CliCommandEntry &command)
{
    std::vector<std::string_view> takers;
    for (const CliCommandEntry &c : Commands) {
        if (cliAccepts(c, option))
            takers.push_back(c.name);
    }
    const std::string name(option.name);
    if (takers.size() * 2 < Commands.size())
        return "option " + name + " applies only to " + listed(takers);
    std::string message = "option " + name + " does not apply to " + std::string(command.name);
    const CliOption *rather = cliOptionNamed(option.ratherUse);
    if (rather && cliAccepts(command, *rather))
        message += " (use " + std::string(rather->name) + ")";
    return message;
}

void cliFail(CliArguments &a, std::string message)
{
    if (a.error.empty())
        a.error = std::move(message);
}

} // namespace qmr
