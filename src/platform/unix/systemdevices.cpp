#include "platform/unix/systemdevices.h"

#include "platform/unix/systemport.h"
#include "systemportmap.h" // the Unix system's own port map

#include <QEventLoop>

namespace qmr {

SystemLine makeSystemLine()
{
    // QSerialPort sets up socket notifiers, which want an event dispatcher on the thread that
    // owns them; an event loop object gives the calling thread one. (The port itself waits
    // with poll(), no loop ever runs.)
    const QEventLoop dispatcher;
    SystemLine line;
    line.clock = std::make_unique<SystemClock>();
    line.port = makeSystemPort(*line.clock);
    return line;
}

SystemDevices makeSystemDevices(const std::string &settingsFile)
{
    SystemDevices devices;
    devices.store = std::make_unique<SystemSettingsStore>(settingsFile);
    devices.line = makeSystemLine();
    devices.ports = std::make_unique<SystemPortMap>(devices.store->portAssignments());
    devices.link = std::make_unique<Link>(*devices.line.port, *devices.line.clock, *devices.ports);
    return devices;
}

} // namespace qmr
