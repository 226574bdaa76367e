#pragma once

#include "link/clock.h"
#include "link/dispatchingport.h"

#include <memory>

namespace qmr {

// The program's serial port: a local device through QSerialPort, or a port behind a serial
// device server over a TCP socket, chosen by the device's name at each open. The clock times
// the network port's connection and negotiation and must outlive the port.
std::unique_ptr<DispatchingPort> makeSystemPort(Clock &clock);

} // namespace qmr
