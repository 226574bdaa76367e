#pragma once

#include "link/portmap.h"

#include <map>
#include <string>
#include <vector>

namespace qmr {

// COM n is the device "\\.\COMn" for every n > 0. The plain name "COM16" would not do:
// Windows knows COM1 to COM9 by their bare names only because of an old DOS rule, and
// COM10 and above open only through the "\\.\" device namespace, so every port is named
// that way (it opens COM1 to COM9 just as well). A number named in the registry's Ports key
// uses the device given there instead (a network port such as rfc2217://10.0.0.7:4001; an
// empty value: no such port).
class SystemPortMap : public PortMap
{
public:
    explicit SystemPortMap(std::map<int, std::string> assignments = {})
        : m_assignments(std::move(assignments))
    {
    }
    std::string deviceFor(int comNumber) const override;
    // The adapter of a "\\.\COMn" device, from SetupAPI; nothing for a network port.
    AdapterIdentity adapterFor(const std::string &device) const override;

    // The values "COMn" of HKEY_CURRENT_USER\Software\TAVEX\QMRConfig\Ports (REG_SZ, UTF-8
    // from the wide text); names that are no COM number are skipped.
    static std::map<int, std::string> registryAssignments();

    // The COM numbers the system has, ascending and each once: the ports the drivers
    // announce under HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM together with the
    // COMn names the DOS device list holds (QueryDosDeviceA), which also has ports that a
    // driver or a mapping added without announcing them.
    static std::vector<int> systemComPorts();
    // The number of a name "COMn" (any case, n > 0 without a leading zero); 0 for others.
    static int comNumberOf(const std::string &name);

private:
    std::map<int, std::string> m_assignments;
};

} // namespace qmr
