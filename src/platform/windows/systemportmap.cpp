#include "platform/windows/systemportmap.h"

#include "platform/windows/systemadapters.h"

#include "vocabulary/vocabulary.h"

#include <windows.h>

#include <algorithm>
#include <set>

namespace qmr {

std::string SystemPortMap::deviceFor(int comNumber) const
{
    if (const auto it = m_assignments.find(comNumber); it != m_assignments.end())
        return it->second;
    if (comNumber <= 0)
        return {};
    return "\\\\.\\COM" + std::to_string(comNumber);
}

AdapterIdentity SystemPortMap::adapterFor(const std::string &device) const
{
    const std::string prefix = "\\\\.\\";
    const std::string name = device.rfind(prefix, 0) == 0 ? device.substr(prefix.size()) : device;
    const int number = comNumberOf(name);
    return number > 0 ? setupApiAdapter(number) : AdapterIdentity{};
}

int SystemPortMap::comNumberOf(const std::string &name)
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
        if (const int com = SystemPortMap::comNumberOf(data))
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
        if (const int com = SystemPortMap::comNumberOf(name))
            ports.insert(com);
        at += name.size() + 1;
    }
}

} // namespace

std::map<int, std::string> SystemPortMap::registryAssignments()
{
    std::map<int, std::string> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\TAVEX\\QMRConfig\\Ports", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256;
        wchar_t data[1024];
        DWORD dataSize = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE *>(data), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        data[dataSize / sizeof(wchar_t)] = L'\0';
        auto utf8 = [](const wchar_t *text) {
            const int size =
                WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
            std::string out(size > 0 ? std::size_t(size) : 1, '\0');
            WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
            out.resize(std::char_traits<char>::length(out.c_str()));
            return out;
        };
        if (const int com = comNumberOf(utf8(name)))
            ports.emplace(com, utf8(data));
    }
    RegCloseKey(key);
    return ports;
}

std::vector<int> SystemPortMap::systemComPorts()
{
    std::set<int> ports;
    addRegisteredPorts(ports);
    addDosDevicePorts(ports);
    return {ports.begin(), ports.end()};
}

} // namespace qmr
