#include "platform/windows/win32portmap.h"

#include "vocabulary/vocabulary.h"

#include <windows.h>

#include <algorithm>
#include <set>

namespace qmr {

std::string Win32PortMap::deviceFor(int comNumber) const
{
    if (comNumber <= 0)
        return {};
    return "\\\\.\\COM" + std::to_string(comNumber);
}

int Win32PortMap::comNumberOf(const std::string &name)
{
    return qmr::comNumberOf(name).value_or(0);
}

namespace {

void addRegisteredPorts(std::set<int> &ports)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLength = sizeof name;
        char data[256];
        DWORD dataSize = sizeof data - 1;
        DWORD type = 0;
        const LONG result = RegEnumValueA(key, index, name, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE *>(data), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        data[dataSize] = '\0';
        if (const int com = Win32PortMap::comNumberOf(data))
            ports.insert(com);
    }
    RegCloseKey(key);
}

void addDosDevicePorts(std::set<int> &ports)
{
    // The list of all DOS device names, NUL-separated; it grows with the devices, so the
    // buffer grows until it fits.
    std::string buffer(16 * 1024, '\0');
    DWORD length = 0;
    for (;;) {
        length = QueryDosDeviceA(nullptr, buffer.data(), DWORD(buffer.size()));
        if (length != 0 || GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
            buffer.size() >= 4 * 1024 * 1024)
            break;
        buffer.resize(buffer.size() * 2);
    }
    for (std::size_t at = 0; at < length && buffer[at] != '\0';) {
        const std::string name(buffer.c_str() + at);
        if (const int com = Win32PortMap::comNumberOf(name))
            ports.insert(com);
        at += name.size() + 1;
    }
}

} // namespace

std::vector<int> Win32PortMap::systemComPorts()
{
    std::set<int> ports;
    addRegisteredPorts(ports);
    addDosDevicePorts(ports);
    return {ports.begin(), ports.end()};
}

} // namespace qmr
