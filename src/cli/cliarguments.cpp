#include "cliarguments.h"

#include "clitable.h"

#include <algorithm>
#include <map>

namespace qmr {

namespace {

std::string inQuotes(std::string_view text)
{
    return "'" + std::string(text) + "'";
}

// The options as given, in order: each value option's values, and the flags seen.
struct Given
{
    std::vector<std::string> positionals;
    std::map<std::string_view, std::string> lastValue;
    bool help = false;
    bool version = false;
};

// Where an option takes its value: "--opt=VALUE", or the next argument whatever it looks like.
bool readValue(CliArguments &a, const std::vector<std::string> &arguments, std::size_t &i,
               const CliOption &option, std::string &value)
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
    cliFail(a, "option " + std::string(option.name) + " needs a value");
    return false;
}

// One pass over the line: "-h" and "--help" win over every error, the first malformed option
// in the order of the line is the one reported, and "-5" or "-" are arguments, not options.
Given readLine(CliArguments &a, const std::vector<std::string> &arguments)
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
        const CliOption *option = arg[1] == '-' ? cliOptionNamed(name) : nullptr;
        if (!option) {
            cliFail(a, "unknown option " + inQuotes(arg[1] == '-' ? name : arg));
            continue;
        }
        if (option->valueName.empty()) {
            if (name.size() != arg.size())
                cliFail(a, "option " + name + " takes no value");
            g.help = g.help || name == "--help";
            g.version = g.version || name == "--version";
            g.lastValue[option->name].clear();
            continue;
        }
        std::string value;
        if (!readValue(a, arguments, i, *option, value))
            continue;
        if (option->check)
            if (std::string error = option->check(value); !error.empty())
                cliFail(a, std::move(error));
        g.lastValue[option->name] = std::move(value);
    }
    return g;
}

// The command's own arguments: as many as it takes, then their values.
void takeArguments(CliArguments &a, const CliCommandEntry &command, std::vector<std::string> args)
{
    const std::size_t most = command.arguments.size();
    const std::size_t least =
        std::size_t(std::count_if(command.arguments.begin(), command.arguments.end(),
                                  [](const CliArgument &argument) { return !argument.optional; }));
    if (args.size() > most) {
        cliFail(a, "unexpected argument " + inQuotes(args[most]) + " for " + a.commandName);
        return;
    }
    if (args.size() < least) {
        cliFail(a, a.commandName + " needs " + std::string(command.arguments[args.size()].name));
        return;
    }
    if (command.take)
        command.take(a, args);
}

// The options that belong to some commands, in the table's order: refused with any other,
// and named when the command needs one that is missing.
void takeCommandOptions(CliArguments &a, const CliCommandEntry &command, const Given &given)
{
    for (const CliOption &option : cliOptions()) {
        if (option.everyCommand)
            continue;
        const auto found = given.lastValue.find(option.name);
        if (found != given.lastValue.end()) {
            if (cliAccepts(command, option))
                option.take(a, found->second);
            else
                cliFail(a, cliRefusal(option, command));
            continue;
        }
        for (const CliOptionUse &use : command.options) {
            if (use.required && use.name == option.name) {
                cliFail(a, std::string(command.name) + " needs " + std::string(option.name) +
                               " (e.g. " + std::string(option.name) + " " +
                               std::string(option.example) + ")");
            }
        }
    }
}

// A synopsis's words: the name, the arguments, the options shown with the command.
std::vector<std::string> synopsisWords(const CliCommandEntry &command)
{
    std::vector<std::string> words{std::string(command.name)};
    for (const CliArgument &argument : command.arguments) {
        const std::string shown(argument.shown.empty() ? argument.name : argument.shown);
        words.push_back(argument.optional ? "[" + shown + "]" : shown);
    }
    for (const CliOptionUse &use : command.options) {
        const CliOption &option = *cliOptionNamed(use.name);
        std::string word(option.name);
        if (!option.valueName.empty())
            word += " " + std::string(option.valueName);
        words.push_back(use.required ? word : "[" + word + "]");
    }
    return words;
}

} // namespace

std::vector<std::string> cliSynopses()
{
    std::vector<std::string> synopses;
    for (const CliCommandEntry &command : cliCommands()) {
        std::string line;
        for (const std::string &word : synopsisWords(command))
            line += (line.empty() ? "" : " ") + word;
        synopses.push_back(line);
    }
    return synopses;
}

CliArguments parseCliArguments(const std::vector<std::string> &arguments)
{
    CliArguments a;
    const Given given = readLine(a, arguments);
    if (given.help || given.version) {
        CliArguments shown;
        shown.action = given.help ? CliAction::Help : CliAction::Version;
        return shown;
    }
    if (!a.ok())
        return a;
    if (const auto shell = given.lastValue.find("--completion"); shell != given.lastValue.end()) {
        a.action = CliAction::Completion;
        a.shell = shell->second;
        return a;
    }
    // The options of every command count even when the command is wrong.
    for (const CliOption &option : cliOptions()) {
        const auto found = given.lastValue.find(option.name);
        if (found != given.lastValue.end() && option.everyCommand && option.take)
            option.take(a, found->second);
    }
    if (given.positionals.empty()) {
        cliFail(a, "no command given");
        return a;
    }
    a.commandName = given.positionals.front();
    const CliCommandEntry *command = cliCommandNamed(a.commandName);
    if (!command) {
        cliFail(a, "unknown command " + inQuotes(a.commandName));
        return a;
    }
    takeArguments(a, *command, {given.positionals.begin() + 1, given.positionals.end()});
    if (!a.ok())
        return a;
    takeCommandOptions(a, *command, given);
    if (a.ok()) {
        a.action = CliAction::Command;
        a.command = command;
    }
    return a;
}

std::string cliUsage()
{
    constexpr std::size_t Column = 28; // where the help texts start
    constexpr std::size_t Width = 80;  // a synopsis wraps before it passes this
    const auto entry = [](const std::vector<std::string> &words,
                          const std::vector<std::string_view> &help, std::size_t indent) {
        std::string text = "  " + words.front();
        std::size_t lineStart = 0;
        bool wrapped = false;
        for (std::size_t i = 1; i < words.size(); ++i) {
            if (text.size() - lineStart + 1 + words[i].size() > Width) {
                lineStart = text.size() + 1;
                text += "\n" + std::string(indent, ' ') + words[i];
                wrapped = true;
            } else {
                text += " " + words[i];
            }
        }
        for (std::size_t i = 0; i < help.size(); ++i) {
            const bool besideIt = i == 0 && !wrapped && text.size() < Column;
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
    for (const CliCommandEntry &command : cliCommands())
        text += entry(synopsisWords(command), command.help, 2 + command.name.size() + 1);
    text += "Every command but ports, check-port and report scans for the module first.\n"
            "\n"
            "Options:\n";
    for (const CliOption &option : cliOptions()) {
        if (option.help.empty())
            continue;
        std::string shown(option.shown.empty() ? option.name : option.shown);
        if (!option.valueName.empty())
            shown += " " + std::string(option.valueName);
        text += entry({shown}, option.help, 0);
    }
    return text + "\n"
                  "Exit status: 0 success, 1 the module did not answer or the procedure failed,\n"
                  "2 a usage error.\n";
}

} // namespace qmr
