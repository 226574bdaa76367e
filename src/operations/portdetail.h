#pragma once

#include "link/link.h"

#include <string>

namespace qmr {

// The tooltip texts of the message line: which device stands behind a COM number and, when
// it did not open, why ("COM3: /dev/ttyUSB0: permission denied ...").
inline std::string openedPortDetail(std::int32_t comNumber, const Link &link)
{
    return "COM" + std::to_string(comNumber) + ": " + link.lastDevice();
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
    if (!reason.empty())
        detail += ": " + reason;
    return detail;
}

} // namespace qmr
