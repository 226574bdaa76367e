#pragma once

#include "link/dispatchingport.h"
#include "link/link.h"
#include "link/portmap.h"
#include "platform/unix/systemclock.h"
#include "platform/unix/systemsettingsstore.h"

#include <memory>
#include <string>

namespace qmr {

// A clock and the port that times its network connections on it, for one thread: a local
// device through QSerialPort or a port behind a serial device server, chosen at each open.
// The clock is declared first so that it outlives the port.
struct SystemLine
{
    std::unique_ptr<SystemClock> clock;
    std::unique_ptr<DispatchingPort> port;
};

// What a program needs to talk to modules on this system: the settings file, a line, the
// COM numbering of the system's devices (with the settings file's [Ports]), and the link
// over them. Members go in reverse order: the link first, the settings last.
struct SystemDevices
{
    std::unique_ptr<SystemSettingsStore> store;
    SystemLine line;
    std::unique_ptr<PortMap> ports;
    std::unique_ptr<Link> link;
};

// Any thread may ask; the line is used on the thread that made it.
SystemLine makeSystemLine();
// settingsFile: the file to use; empty for the per-user default.
SystemDevices makeSystemDevices(const std::string &settingsFile = {});

} // namespace qmr
