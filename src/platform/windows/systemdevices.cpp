#include "platform/windows/systemdevices.h"

#include "platform/windows/systemport.h"
#include "platform/windows/systemportmap.h"

namespace qmr {

SystemLine makeSystemLine()
{
    SystemLine line;
    line.clock = std::make_unique<SystemClock>();
    line.port = makeSystemPort(*line.clock);
    return line;
}

SystemDevices makeSystemDevices()
{
    SystemDevices devices;
    devices.store = std::make_unique<SystemSettingsStore>();
    devices.line = makeSystemLine();
    devices.ports = std::make_unique<SystemPortMap>(SystemPortMap::registryAssignments());
    devices.link = std::make_unique<Link>(*devices.line.port, *devices.line.clock, *devices.ports);
    return devices;
}

} // namespace qmr
