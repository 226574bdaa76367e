#pragma once

#include "link/link.h"

#include <string>

namespace qmr {

// The adapter behind the link's last device, in brackets after a space; empty when unknown.
inline std::string adapterDetail(const Link &link)
{
    const std::string adapter = describeAdapter(link.portMap().adapterFor(link.lastDevice()));
    return adapter.empty() ? adapter : " (" + adapter + ")";
}

// The tooltip texts of the message line: which device (and adapter) stands behind a COM
// number and, when it did not open, why ("COM3: /dev/ttyUSB0: permission denied ...").
inline std::string openedPortDetail(std::int32_t comNumber, const Link &link)
{
    return "COM" + std::to_string(comNumber) + ": " + link.lastDevice() + adapterDetail(link);
}

// Names the COM number, the device and the reason once each, whichever of them the
// reason text already carries.
inline std::string failedPortDetail(std::int32_t comNumber, const Link &link)
{
    const std::string com = "COM" + std::to_string(comNumber);
    const std::string device = link.lastDevice();
    const std::string reason = link.lastOpenErrorString();
    if (reason.starts_with(com + ' '))
        return reason;
    std::string detail = com;
    if (!device.empty() && reason.find(device) == std::string::npos)
        detail += ": " + device;
    // A device that is there but did not open: which adapter it is helps to find it.
    if (!device.empty() && link.lastOpenError() != PortError::NotFound)
        detail += adapterDetail(link);
    if (!reason.empty())
        detail += ": " + reason;
    return detail;
}

} // namespace qmr
