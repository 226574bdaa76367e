#include "platform/windows/systemsettingsstore.h"

#include <cstring>
#include <string_view>
#include <utility>

namespace qmr {

SystemSettingsStore::SystemSettingsStore(std::string keyPath) : m_keyPath(std::move(keyPath)) {}

SystemSettingsStore::~SystemSettingsStore()
{
    closeKey();
}

void SystemSettingsStore::closeKey()
{
    if (m_key)
        RegCloseKey(m_key);
    m_key = nullptr;
}

std::vector<SystemSettingsStore::CarryOverKey> SystemSettingsStore::carryOverKeys() const
{
    // The VirtualStore mirrors the machine's SOFTWARE key; the part of the path below it.
    constexpr std::string_view Software = "Software\\";
    std::string below = m_keyPath;
    if (below.size() >= Software.size() &&
        CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, below.data(), int(Software.size()),
                       Software.data(), int(Software.size())) == CSTR_EQUAL)
        below.erase(0, Software.size());
    const std::string virtualStore = "Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\";
    return {{HKEY_CURRENT_USER, virtualStore + "WOW6432Node\\" + below, 0},
            {HKEY_CURRENT_USER, virtualStore + below, 0},
            {HKEY_LOCAL_MACHINE, m_keyPath, KEY_WOW64_32KEY},
            {HKEY_LOCAL_MACHINE, m_keyPath, KEY_WOW64_64KEY}};
}

bool SystemSettingsStore::beginLoad()
{
    closeKey();
    // The user's key with full access, as it is written: a key this user could read but not
    // write is not read either, so a load never shows what a save could not keep.
    LONG result = RegOpenKeyExA(HKEY_CURRENT_USER, m_keyPath.c_str(), 0, KEY_ALL_ACCESS, &m_key);
    if (result == ERROR_FILE_NOT_FOUND) {
        for (const CarryOverKey &from : carryOverKeys()) {
            result = RegOpenKeyExA(from.root, from.path.c_str(), 0, KEY_READ | from.view, &m_key);
            if (result == ERROR_SUCCESS)
                break;
        }
    }
    if (result != ERROR_SUCCESS) {
        m_key = nullptr;
        return false;
    }
    return true;
}

ReadResult SystemSettingsStore::readInt(std::string_view name, std::int32_t &value)
{
    if (!m_key)
        return ReadResult::Missing;
    const std::string valueName(name);
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    const LONG result = RegQueryValueExA(m_key, valueName.c_str(), nullptr, &type,
                                         reinterpret_cast<BYTE *>(&data), &size);
    // A value too big for a DWORD is no DWORD.
    if (result == ERROR_MORE_DATA)
        return ReadResult::WrongType;
    if (result != ERROR_SUCCESS)
        return ReadResult::Missing;
    if (type != REG_DWORD || size != sizeof data)
        return ReadResult::WrongType;
    value = std::int32_t(data);
    return ReadResult::Read;
}

ReadResult SystemSettingsStore::readText(std::string_view name, std::string &value)
{
    if (!m_key)
        return ReadResult::Missing;
    const std::string valueName(name);
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(m_key, valueName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return ReadResult::Missing;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return ReadResult::WrongType;
    std::string text(size, '\0');
    // The value may change between the two calls; a second try with the new size is enough
    // for anything but a key being rewritten without pause.
    LONG result = ERROR_MORE_DATA;
    for (int attempt = 0; attempt < 2 && result == ERROR_MORE_DATA; ++attempt) {
        text.resize(size);
        result = RegQueryValueExA(m_key, valueName.c_str(), nullptr, &type,
                                  reinterpret_cast<BYTE *>(text.data()), &size);
    }
    if (result != ERROR_SUCCESS)
        return ReadResult::Missing;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return ReadResult::WrongType;
    text.resize(size);
    // Stored with its terminating zero, or (written by another tool) without; the text ends at
    // the first zero either way.
    text.resize(std::strlen(text.c_str()));
    value = std::move(text);
    return ReadResult::Read;
}

void SystemSettingsStore::endLoad()
{
    closeKey();
}

void SystemSettingsStore::write(const std::vector<NamedValue> &values)
{
    // Into a key that does not exist yet go first the values carried over, so a save of one
    // value does not lose the others; only those the carry-over key held, no defaults.
    std::vector<NamedValue> carried;
    HKEY existing = nullptr;
    const LONG opened = RegOpenKeyExA(HKEY_CURRENT_USER, m_keyPath.c_str(), 0, KEY_READ, &existing);
    if (opened == ERROR_SUCCESS) {
        RegCloseKey(existing);
    } else if (opened == ERROR_FILE_NOT_FOUND) {
        carried = HeldValues(*this);
    }
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, m_keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, &disposition) != ERROR_SUCCESS)
        return;
    // Another copy of the program may have made the key in between: then it holds its values.
    if (disposition == REG_CREATED_NEW_KEY && !carried.empty()) {
        carried.insert(carried.end(), values.begin(), values.end());
        writeValues(key, carried);
    } else {
        writeValues(key, values);
    }
    RegCloseKey(key);
}

void SystemSettingsStore::writeValues(HKEY key, const std::vector<NamedValue> &values)
{
    for (const NamedValue &v : values) {
        LONG result;
        if (const auto *number = std::get_if<std::int32_t>(&v.value)) {
            const DWORD data = DWORD(*number);
            result = RegSetValueExA(key, v.name.c_str(), 0, REG_DWORD,
                                    reinterpret_cast<const BYTE *>(&data), sizeof data);
        } else {
            const std::string &text = std::get<std::string>(v.value);
            result = RegSetValueExA(key, v.name.c_str(), 0, REG_SZ,
                                    reinterpret_cast<const BYTE *>(text.c_str()),
                                    DWORD(text.size() + 1));
        }
        // The first value that cannot be written ends the save; those before it stay.
        if (result != ERROR_SUCCESS)
            break;
    }
}

} // namespace qmr
