// qmrctl's argument parser on arbitrary argument lists (the input split at zero bytes):
// it never crashes, a good line names a command, a bad one says why, and every value it
// accepted lies in its range.

#include "cli/cliarguments.h"

#include "require.h"

#include <cstdint>
#include <cstdlib>

using namespace qmr;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    QStringList arguments;
    for (const QByteArray &part : input.split('\0'))
        arguments.append(QString::fromUtf8(part));
    if (arguments.size() > 64)
        return 0;

    const CliArguments a = parseCliArguments(arguments);
    if (!a.ok()) {
        require(a.command == CliCommand::None || !a.error.isEmpty());
        return 0;
    }
    require(a.command != CliCommand::None);
    switch (a.command) {
    case CliCommand::SetId:
        require(a.id1 >= 1 && a.id1 <= 99);
        require(!a.id2 || (*a.id2 >= 1 && *a.id2 <= 99));
        break;
    case CliCommand::SetLine:
        require(a.baudRateNo >= 0 && a.baudRateNo <= 11);
        break;
    case CliCommand::SetMode:
        require(a.modeIndex == 0 || a.modeIndex == 1);
        require(!a.rs485Index || (*a.rs485Index >= 0 && *a.rs485Index <= 2));
        break;
    default:
        break;
    }
    require(!a.languageIndex || (*a.languageIndex >= 0 && *a.languageIndex <= 2));
    require(!a.count || *a.count >= 0);
    return 0;
}
