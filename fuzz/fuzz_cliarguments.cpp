// qmrctl's argument parser on arbitrary argument lists (the input split at zero bytes):
// it never crashes, a good line names a command and carries no error, a bad one carries no
// command and says why, and every value it accepted lies within the parser's
// own limits.

#include "cli/cliarguments.h"
#include "cli/clitable.h"

#include "link/linedefinition.h"
#include "require.h"

#include <cstdint>
#include <string>
#include <vector>

using namespace qmr;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> arguments(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            arguments.emplace_back();
        else
            arguments.back() += char(data[i]);
    }
    if (arguments.size() > 64)
        return 0;

    const CliArguments a = parseCliArguments(arguments);
    if (!a.ok()) {
        // A failed parse never leaves a command to run. (The message quotes the argument as
        // given, line breaks included; qmrctl escapes it when it prints it.)
        require(a.action == CliAction::None && !a.command);
        return 0;
    }
    require(a.action != CliAction::None);
    require((a.action == CliAction::Command) == (a.command != nullptr));
    const std::string_view command = a.command ? a.command->name : std::string_view();
    if (command == "set-id") {
        require(a.id1 >= MinReaderId && a.id1 <= MaxReaderId);
        require(!a.id2 || (*a.id2 >= MinReaderId && *a.id2 <= MaxReaderId));
    } else if (command == "set-line") {
        require(a.baudRateNo >= 0 && a.baudRateNo < int(BaudRateTable.size()));
    } else if (command == "set-mode") {
        require(a.modeIndex == 0 || a.modeIndex == 1);
        require(!a.rs485Index || (*a.rs485Index >= 0 && *a.rs485Index < int(Rs485Values.size())));
    }
    // Options that belong to one command are accepted only with it.
    require(!a.rs485Index || command == "set-mode" || command == "provision");
    require(!a.count || command == "poll");
    require(!a.count || (*a.count >= MinPollCount && *a.count <= MaxPollCount));
    require(!a.languageIndex || (*a.languageIndex >= 0 && *a.languageIndex <= 2));
    if (a.action == CliAction::Command)
        require(!a.commandName.empty() && a.commandName == command);
    return 0;
}
