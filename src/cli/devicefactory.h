#pragma once

#include "link/clock.h"
#include "link/serialport.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

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
    // Makes what was written to the file at path durable, so that it survives a power cut
    // (the provisioning record calls it after every line). Nothing where nothing is needed.
    virtual void persist(const std::string &path) { (void)path; }
};

// The number n of a name "COMn" (any letter case, n 1 to 255), or nothing.
std::optional<int> comNumberOf(std::string_view portName);

} // namespace qmr
