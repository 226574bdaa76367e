#pragma once

#include "link/dispatchingport.h"
#include "link/link.h"
#include "link/portmap.h"
#include "platform/windows/systemclock.h"
#include "platform/windows/systemsettingsstore.h"

#include <memory>

namespace qmr {

// A clock and the port that times its network connections on it, for one thread: a COM port
// through the Win32 serial calls or a port behind a serial device server, chosen at each
// open. The clock is declared first so that it outlives the port.
struct SystemLine
{
    std::unique_ptr<SystemClock> clock;
    std::unique_ptr<DispatchingPort> port;
};

// What a program needs to talk to modules on this system: the registry's settings, a line,
// the COM port names (with the registry's Ports key), and the link over them. Members go in
// reverse order: the link first, the settings last.
struct SystemDevices
{
    std::unique_ptr<SystemSettingsStore> store;
    SystemLine line;
    std::unique_ptr<PortMap> ports;
    std::unique_ptr<Link> link;
};

// Any thread may ask; the line is used on the thread that made it.
SystemLine makeSystemLine();
SystemDevices makeSystemDevices();

} // namespace qmr
