#pragma once

#include "settings/settingsstore.h"

#include <windows.h>

#include <string>
#include <vector>

namespace qmr {

// The settings in the registry, under HKEY_CURRENT_USER\Software\TAVEX\QMRConfig:
//   ScanCommNo      REG_DWORD
//   ScanBaudRateNo  REG_DWORD
//   ScanBaudRate    REG_SZ (REG_EXPAND_SZ is read as well, as stored, nothing expanded)
//   LanguageFlag    REG_SZ (likewise)
// A value of another type is of the wrong type (which ends the load), a text of size zero
// is the empty text. The key is opened at the start of each load and each save and closed at
// its end, so another copy of the program sees what this one saved. Every error is silent:
// a key that does not open loads nothing (the defaults stay), a save that cannot create or
// write the key stops there.
//
// A product decision: the values used to live under HKEY_LOCAL_MACHINE, which a standard
// user may not write on any Windows since Vista, so for most users nothing would ever be
// remembered. They now live under HKEY_CURRENT_USER. As long as that key does not exist, a
// load carries over what an earlier installation left, from the first of these keys that
// exists (each opened read-only, only that one read):
//   1. the user's VirtualStore copy of the machine key, where Windows put the writes of an
//      earlier installation run by a standard user, below HKEY_CURRENT_USER: first
//      Software\Classes\VirtualStore\MACHINE\SOFTWARE\WOW6432Node\TAVEX\QMRConfig (written by
//      a 32-bit program on 64-bit Windows), then the same without WOW6432Node; it comes first
//      because it is what that user's earlier program saw;
//   2. the 32-bit view of HKEY_LOCAL_MACHINE (WOW6432Node on 64-bit Windows), where an earlier
//      32-bit installation run by an administrator wrote;
//   3. the 64-bit view of HKEY_LOCAL_MACHINE.
// The first save creates the user's key and writes into it the values carried over (those
// the carry-over key held, as a load of it reads them; no defaults) and then this save's own,
// so a first language click does not lose the carried port and line setting. From then on
// only the user's key is read.
// Texts are UTF-8 inside the program and go to and from the registry through the A calls
// unchanged, that is in the ANSI code page as far as Windows is concerned. Every text this
// program stores ("19200,e,8,1", "ChineseGB", ...) is ASCII, which reads the same in every
// code page, so no conversion is made.
class SystemSettingsStore : public SettingsStore
{
public:
    static constexpr const char *DefaultKeyPath = "Software\\TAVEX\\QMRConfig";

    // keyPath: the key below HKEY_CURRENT_USER (and HKEY_LOCAL_MACHINE); tests use their own.
    explicit SystemSettingsStore(std::string keyPath = DefaultKeyPath);
    ~SystemSettingsStore() override;
    SystemSettingsStore(const SystemSettingsStore &) = delete;
    SystemSettingsStore &operator=(const SystemSettingsStore &) = delete;

    const std::string &keyPath() const { return m_keyPath; }

    bool beginLoad() override;
    ReadResult readInt(std::string_view name, std::int32_t &value) override;
    ReadResult readText(std::string_view name, std::string &value) override;
    void endLoad() override;
    void write(const std::vector<NamedValue> &values) override;

    // The keys a load carries over from while the user's key does not exist, in the order
    // tried.
    struct CarryOverKey
    {
        HKEY root;
        std::string path;
        REGSAM view; // KEY_WOW64_32KEY, KEY_WOW64_64KEY or 0
    };
    std::vector<CarryOverKey> carryOverKeys() const;

private:
    void closeKey();
    // Writes the values into the open key in order; stops at the first that cannot be written.
    static void writeValues(HKEY key, const std::vector<NamedValue> &values);

    std::string m_keyPath;
    HKEY m_key = nullptr; // the key being loaded, between beginLoad and endLoad
};

} // namespace qmr
