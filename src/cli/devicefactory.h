#pragma once

#include "link/clock.h"
#include "link/serialport.h"

#include <memory>
#include <string>

namespace qmr {

// A serial backend and a clock for one port. The clock is declared first so that it outlives
// the port, which may keep a reference to it (the in-memory port of the tests does).
struct PortDevices
{
    std::unique_ptr<Clock> clock;
    std::unique_ptr<SerialPort> port;
};

// What a program gives qmrctl for ports named on the command line (--port, --ports). Each
// provisioning thread asks for devices of its own, so no port or clock is shared between
// threads; the real program gives a new backend and clock, the tests an in-memory module on
// a fake clock.
class DeviceFactory
{
public:
    virtual ~DeviceFactory() = default;
    // The device behind a port name as the user typed it ("COM5", "/dev/ttyUSB0"), or an
    // empty text when the name is no port on this system.
    virtual std::string deviceFor(const std::string &portName) const = 0;
    // Devices for the thread that calls it, to talk to `device`; called on that thread.
    virtual PortDevices makeDevices(const std::string &device) = 0;
    // What names the device whichever way it was written ("COM3" and "com3", a symlink and its
    // target), so one device listed twice is found.
    virtual std::string deviceIdentity(const std::string &device) const { return device; }
};

} // namespace qmr
