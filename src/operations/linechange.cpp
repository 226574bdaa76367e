#include "linechange.h"

#include "link/linedefinition.h"
#include "link/networkport.h"

namespace qmr {

std::string lineChangeRefusal(const std::string &device)
{
    const auto address = parseNetworkAddress(device);
    if (!address || address->comPortControl)
        return {};
    return device + " is a raw TCP port: its line setting is the server's, and a module moved "
                    "to another line would answer nobody; the line is left as it is";
}

std::string lineChangeRefusal(ModuleContext &ctx, int newLineNo)
{
    if (newLineNo < 0 || newLineNo >= int(BaudRateTable.size()) ||
        BaudRateTable[std::size_t(newLineNo)] == ctx.settings.ScanBaudRate)
        return {};
    return lineChangeRefusal(ctx.link.deviceOf(ctx.settings.ScanCommNo));
}

} // namespace qmr
