#pragma once

#include "settings.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qmr {

// The names under which the values are stored.
inline constexpr std::string_view ScanCommNoName = "ScanCommNo";
inline constexpr std::string_view ScanBaudRateName = "ScanBaudRate";
inline constexpr std::string_view ScanBaudRateNoName = "ScanBaudRateNo";
inline constexpr std::string_view LanguageFlagName = "LanguageFlag";

enum class ReadResult
{
    Missing,   // no such value stored: the setting keeps its default
    Read,      // the value was read
    WrongType, // stored with the other type: ends the load
};

// One value to store: an integer or a UTF-8 text.
struct NamedValue
{
    std::string name;
    std::variant<std::int32_t, std::string> value;
    friend bool operator==(const NamedValue &, const NamedValue &) = default;
};

// Where the remembered settings live. A backend only reads and writes named values; the
// rules (defaults, order, which values a save writes) are the functions below it. Every error of a
// store is silent: a load that fails leaves the defaults (or what was read before the error), a
// save that fails changes nothing and the program goes on.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;

    // Begins a load; false when the stored settings may not be read at all (then nothing is
    // read).
    virtual bool beginLoad() = 0;
    virtual ReadResult readInt(std::string_view name, std::int32_t &value) = 0;
    virtual ReadResult readText(std::string_view name, std::string &value) = 0;
    // Ends a load that beginLoad began (it is not called after a refused one).
    virtual void endLoad() {}
    // One save: these values in this order. Errors are silent (a failed save changes nothing).
    virtual void write(const std::vector<NamedValue> &values) = 0;
};

// Sets the defaults, then reads ScanCommNo, ScanBaudRate, ScanBaudRateNo, LanguageFlag in this
// order. A missing value keeps its default; the first value of the wrong type ends the load
// (it and every later value keep their defaults, LanguageIndex stays 0). LanguageIndex is
// derived from LanguageFlag only when all four were read.
void LoadSettings(SettingsStore &store, Settings &settings);
// Writes ScanCommNo, ScanBaudRateNo, ScanBaudRate, in this order, in one save.
void SaveScanSettings(SettingsStore &store, const Settings &settings);
// Writes LanguageFlag only.
void SaveLanguage(SettingsStore &store, const Settings &settings);
// The values a load of the store reads, only those it held, in the order a scan save and then
// a language save write them: what a store that starts a new place must write so that nothing
// it carried over is lost, and no default is written as if it had been remembered.
std::vector<NamedValue> HeldValues(SettingsStore &store);

} // namespace qmr
