#pragma once

#include "link/portmap.h"

#include <map>
#include <string>
#include <vector>

namespace qmr {

// The Linux mapping of COM numbers to device paths. A number named in the settings file's
// [Ports] group uses that path (an empty path: no such port); the others take, in order,
// the serial ports the system has (on-board UARTs first, then USB and ACM adapters, each in
// natural numeric order), skipping devices already named in [Ports].
class SystemPortMap : public PortMap
{
public:
    // assignments: the [Ports] group; systemPorts: the system's serial devices, or the
    // devices QSerialPortInfo reports when left empty (tests pass their own list).
    explicit SystemPortMap(std::map<int, std::string> assignments,
                           std::vector<std::string> systemPorts = {});
    std::string deviceFor(int comNumber) const override;
    AdapterIdentity adapterFor(const std::string &device) const override;
    // The system's serial devices in COM order (the rule above), as QSerialPortInfo lists them.
    static std::vector<std::string> systemSerialPorts();
    // Orders device paths: ttyS*, ttyAMA* and other on-board UARTs first, then ttyUSB*, then
    // ttyACM*, each in natural numeric order (ttyUSB2 before ttyUSB10).
    static std::vector<std::string> sortedDevices(std::vector<std::string> devices);

private:
    std::map<int, std::string> m_assignments;
    std::vector<std::string> m_unassigned; // system ports not named in [Ports], in COM order
};

} // namespace qmr
