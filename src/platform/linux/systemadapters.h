#pragma once

#include "link/adapteridentity.h"

#include <filesystem>
#include <string>

namespace qmr {

// The adapter behind a tty device as sysfs describes it: the USB device's maker, product,
// serial number and IDs, the driver (the device's driver link), an FTDI adapter's latency
// timer, and the device's name under /dev/serial/by-id. root is "/" but for tests, which
// give a tree of their own. A device sysfs does not know (a pseudo-terminal) has none.
AdapterIdentity sysfsAdapter(const std::string &device, const std::filesystem::path &root = "/");

} // namespace qmr
