#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qmr {

// Another program that holds a serial device. The name is empty when it cannot be seen.
struct DeviceHolder
{
    int pid = 0;
    std::string name;
};

// Where the search looks: the process table and the folders of UUCP lock files. Tests give
// a tree of their own.
struct HolderSearch
{
    std::string procRoot = "/proc";
    std::vector<std::string> lockFolders = {"/var/lock", "/run/lock"};
};

// Looks for another process that holds realDevice (the device's real path) open, as fuser
// does through the descriptors under /proc (as far as this user may read them), then for a
// UUCP lock file LCK..NAME that names a live process (minicom and others write one without
// holding the device all the time). This process does not count.
std::optional<DeviceHolder> findDeviceHolder(const std::string &realDevice,
                                             const HolderSearch &where = {});

// "in use by NAME (pid N)", or "in use by another program" when the holder cannot be seen.
std::string inUseText(const std::optional<DeviceHolder> &holder);

} // namespace qmr
