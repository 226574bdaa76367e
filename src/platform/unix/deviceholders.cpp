#include "deviceholders.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <limits.h>
#include <memory>
#include <unistd.h>

namespace qmr {

namespace {

using Folder = std::unique_ptr<DIR, int (*)(DIR *)>;

Folder openFolder(const std::string &path)
{
    return Folder(::opendir(path.c_str()), &::closedir);
}

// A process id from a folder name or a lock file's text; 0 when it holds none.
int pidOf(const std::string &text)
{
    std::size_t at = text.find_first_not_of(" \t");
    if (at == std::string::npos)
        return 0;
    char *end = nullptr;
    const long pid = std::strtol(text.c_str() + at, &end, 10);
    if (end == text.c_str() + at || pid <= 0 || pid > INT_MAX)
        return 0;
    return int(pid);
}

std::string processName(const HolderSearch &where, int pid)
{
    std::ifstream comm(where.procRoot + "/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

bool holdsDevice(const std::string &fdFolder, const std::string &realDevice)
{
    const Folder fds = openFolder(fdFolder);
    if (!fds)
        return false; // another user's process: not visible to us
    char target[PATH_MAX];
    while (const dirent *entry = ::readdir(fds.get())) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string link = fdFolder + "/" + entry->d_name;
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && realDevice.compare(0, std::string::npos, target, std::size_t(n)) == 0)
            return true;
    }
    return false;
}

std::optional<DeviceHolder> descriptorHolder(const std::string &realDevice,
                                             const HolderSearch &where)
{
    const Folder processes = openFolder(where.procRoot);
    if (!processes)
        return std::nullopt;
    const int self = int(::getpid());
    while (const dirent *entry = ::readdir(processes.get())) {
        const int pid = pidOf(entry->d_name);
        if (pid == 0 || pid == self)
            continue;
        if (holdsDevice(where.procRoot + "/" + entry->d_name + "/fd", realDevice))
            return DeviceHolder{pid, processName(where, pid)};
    }
    return std::nullopt;
}

// A lock file counts while the process it names lives; a stale one is ignored, as minicom
// does. Its pid is ASCII (the usual form) or, from old programs, a binary int.
std::optional<DeviceHolder> lockFileHolder(const std::string &realDevice, const HolderSearch &where)
{
    const std::string base = realDevice.substr(realDevice.rfind('/') + 1);
    for (const std::string &folder : where.lockFolders) {
        std::ifstream file(folder + "/LCK.." + base, std::ios::binary);
        if (!file)
            continue;
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        int pid = pidOf(text);
        if (pid == 0 && text.size() == sizeof(int))
            std::memcpy(&pid, text.data(), sizeof(int));
        if (pid <= 0 || pid == int(::getpid()))
            continue;
        if (::kill(pid, 0) == 0 || errno == EPERM)
            return DeviceHolder{pid, processName(where, pid)};
    }
    return std::nullopt;
}

} // namespace

std::optional<DeviceHolder> findDeviceHolder(const std::string &realDevice,
                                             const HolderSearch &where)
{
    if (auto holder = descriptorHolder(realDevice, where))
        return holder;
    return lockFileHolder(realDevice, where);
}

std::string inUseText(const std::optional<DeviceHolder> &holder)
{
    if (!holder || holder->name.empty())
        return "in use by another program";
    return "in use by " + holder->name + " (pid " + std::to_string(holder->pid) + ")";
}

} // namespace qmr
