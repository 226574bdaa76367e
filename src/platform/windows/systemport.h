#pragma once

#include "link/clock.h"
#include "link/dispatchingport.h"

#include <memory>

namespace qmr {

// The program's serial port: a COM port through the Win32 serial calls, or a port behind a
// serial device server over a Winsock connection, chosen by the device's name at each open.
// The clock times the network port's connection and negotiation and must outlive the port.
std::unique_ptr<DispatchingPort> makeSystemPort(Clock &clock);

} // namespace qmr
