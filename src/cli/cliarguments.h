#pragma once

#include "vocabulary/vocabulary.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qmr {

struct CliCommandEntry;

// What a command line asks for.
enum class CliAction
{
    None, // a usage error: see CliArguments::error
    Help,
    Version,
    Completion, // the shell completion script for CliArguments::shell
    Command,    // CliArguments::command
};

// The limits of the numbers a command line may give (reader IDs: MinReaderId..MaxReaderId).
inline constexpr int MinPollCount = 1;
inline constexpr int MaxPollCount = 999999999; // nine digits at most, as every number here

// The command line of qmrctl, taken apart before anything talks to the module.
struct CliArguments
{
    CliAction action = CliAction::None;
    const CliCommandEntry *command = nullptr; // the command's entry in the table, once good
    std::string commandName;                  // as typed: "scan", "set-id", ...
    std::string shell;                        // --completion: bash, zsh or fish

    bool json = false;
    bool trace = false;
    bool bell = false;
    bool allLines = false;            // sweep all twelve line settings (the lock box unticked)
    std::optional<int> languageIndex; // --lang: 0 en, 1 gb, 2 big5; else the remembered one
    std::string configFile;           // --config: another settings file

    int id1 = 0;                   // set-id: 1..99
    std::optional<int> id2;        // set-id: 1..99, or keep the module's own
    int baudRateNo = -1;           // set-line: 0..11
    int modeIndex = 0;             // set-mode: 0 two readers, 1 one reader
    std::optional<int> rs485Index; // set-mode: 0..2 (24, 32, 40), or keep the module's own
    std::optional<int> count;      // poll: stop after this many replies (1..MaxPollCount)

    // --port: the one port a module command uses instead of the remembered one or the sweep.
    std::string port;
    // provision: the ports (--ports, comma-separated, at least one, none twice), the first
    // ID to hand out, the reader mode (modeIndex), RS-485 (rs485Index, else the module's own),
    // the line setting to give (else the module's own), the record file, and --again.
    std::vector<std::string> ports;
    int firstId = MinReaderId;
    std::optional<int> lineNo;
    std::string recordFile;

    // check-port: the port to check; report: the file to write.
    std::string operand;
    bool again = false;

    // A one-line message naming the bad argument; empty when the line is good.
    std::string error;
    bool ok() const { return error.empty(); }
};

// Parses the arguments that follow the program name (UTF-8). Options may stand before or
// after the command and take their value as "--opt VALUE" or "--opt=VALUE".
CliArguments parseCliArguments(const std::vector<std::string> &arguments);

// The --help text.
std::string cliUsage();
// The completion script of a shell (bash, zsh or fish) for every command, option and value.
std::string cliCompletion(std::string_view shell);
// Each command's synopsis on one line ("set-id ID1 [ID2]"), as the help text and the manual
// show it.
std::vector<std::string> cliSynopses();

} // namespace qmr
