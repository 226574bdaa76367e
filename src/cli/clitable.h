#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qmr {

struct CliArguments;
class CommandRunner;
struct CommandRun;

// What a command reaches: nothing but the system (ports), the one module a scan finds, or a
// module on each of several ports at once (provision). Some options belong to what a command
// reaches rather than to the command.
enum class CliReach
{
    System,
    OneModule,
    EveryPort,
};

// One option of qmrctl, declared once: everything the parser, the help text, the manual's
// check and the shell completions know of it.
struct CliOption
{
    std::string_view name{};
    std::string_view valueName{}; // empty: a flag
    std::string_view shown{};     // the help text's name for it, when not "name valueName"
    // Its lines in the help text's list of options; none for those shown with their commands.
    std::vector<std::string_view> help{};
    // Given to every command; else only to the commands that list it or whose reach it names.
    bool everyCommand = false;
    std::vector<CliReach> reaches{};
    // The option to name instead when it is refused with a command that takes that one.
    std::string_view ratherUse{};
    // A value, for the message when a command needs the option and it is missing.
    std::string_view example{};
    // The values a shell completes; file names when files is set.
    std::vector<std::string> (*values)() = nullptr;
    bool files = false;
    // Checked each time it is given, where it stands: empty when the value is good.
    std::string (*check)(std::string_view value) = nullptr;
    // What it does with its value once it is known to apply (cliFail on a bad one).
    void (*take)(CliArguments &a, std::string_view value) = nullptr;
};

// An option a command shows in its synopsis; optional unless required.
struct CliOptionUse
{
    std::string_view name{};
    bool required = false;
};

// One of a command's own arguments.
struct CliArgument
{
    std::string_view name{};  // as a missing one is named: "set-line needs LINE"
    std::string_view shown{}; // in the synopsis, when not the name
    bool optional = false;
};

// The handler that runs a command, a member of CommandRunner.
using CliHandler = int (CommandRunner::*)(CommandRun &run);

// One command of qmrctl, declared once: adding a command is one entry and its handler.
struct CliCommandEntry
{
    std::string_view name{};
    CliReach reach = CliReach::OneModule;
    std::vector<CliArgument> arguments{};
    std::vector<CliOptionUse> options{};
    std::vector<std::string_view> help{}; // its lines in the help text
    // What it does with its arguments once their number is right (cliFail on a bad one).
    void (*take)(CliArguments &a, const std::vector<std::string> &arguments) = nullptr;
    CliHandler run = nullptr;
};

const std::vector<CliOption> &cliOptions();
const std::vector<CliCommandEntry> &cliCommands();

const CliOption *cliOptionNamed(std::string_view name);
const CliCommandEntry *cliCommandNamed(std::string_view name);
// Whether the command takes the option.
bool cliAccepts(const CliCommandEntry &command, const CliOption &option);
// Why the option does not go with the command: the commands it belongs to, when they are
// few, else the command it does not apply to.
std::string cliRefusal(const CliOption &option, const CliCommandEntry &command);

// Records the first error of a parse; later ones are not shown.
void cliFail(CliArguments &a, std::string message);

} // namespace qmr
