#include "platform/windows/systemadapters.h"

#include <windows.h>

#include <setupapi.h>

#include <string>
#include <vector>

namespace qmr {

namespace {

// The Ports (COM and LPT) device class.
constexpr GUID PortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

std::string utf8(const wchar_t *text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return {};
    std::string out(std::size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.pop_back(); // the terminating zero
    return out;
}

// A text property; of a list (the hardware IDs) the first entry.
std::string property(HDEVINFO set, SP_DEVINFO_DATA &device, DWORD which)
{
    DWORD size = 0;
    SetupDiGetDeviceRegistryPropertyW(set, &device, which, nullptr, nullptr, 0, &size);
    if (size == 0)
        return {};
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, which, nullptr,
                                           reinterpret_cast<BYTE *>(buffer.data()), size, nullptr))
        return {};
    return utf8(buffer.data());
}

// The COM name the port's driver took ("COM3"), from the device's own registry key.
std::wstring portName(HDEVINFO set, SP_DEVINFO_DATA &device)
{
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return {};
    wchar_t name[64] = {};
    DWORD size = sizeof name - sizeof(wchar_t);
    DWORD type = 0;
    const LONG result =
        RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE *>(name), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && type == REG_SZ ? std::wstring(name) : std::wstring();
}

} // namespace

AdapterIdentity setupApiAdapter(int comNumber)
{
    AdapterIdentity adapter;
    HDEVINFO set = SetupDiGetClassDevsW(&PortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return adapter;
    const std::wstring wanted = L"COM" + std::to_wstring(comNumber);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        if (_wcsicmp(portName(set, device).c_str(), wanted.c_str()) != 0)
            continue;
        adapter.model = property(set, device, SPDRP_FRIENDLYNAME);
        adapter.maker = property(set, device, SPDRP_MFG);
        adapter.driver = property(set, device, SPDRP_SERVICE);
        adapter.hardwareId = property(set, device, SPDRP_HARDWAREID);
        readHardwareId(adapter.hardwareId, adapter);
        wchar_t instance[512] = {};
        if (SetupDiGetDeviceInstanceIdW(set, &device, instance, 511, nullptr))
            readHardwareId(utf8(instance), adapter);
        break;
    }
    SetupDiDestroyDeviceInfoList(set);
    return adapter;
}

} // namespace qmr
