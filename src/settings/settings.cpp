#include "settings/settings.h"
#include "settings/settingsstore.h"

#include <type_traits>
#include <utility>

namespace qmr {

void Settings::selectLanguage(int index)
{
    LanguageIndex = index >= 0 && index < int(Languages.size()) ? index : 0;
    LanguageFlag = Languages[std::size_t(LanguageIndex)].flag;
}

namespace {

// Copies a value that was read into target; false when it had the wrong type, which ends
// the load. Reads into a copy so a value of the wrong type keeps its default whatever the
// backend left in the variable.
template <typename T> bool load(SettingsStore &store, std::string_view name, T &target)
{
    T value = target;
    ReadResult result;
    if constexpr (std::is_same_v<T, std::int32_t>)
        result = store.readInt(name, value);
    else
        result = store.readText(name, value);
    if (result == ReadResult::WrongType)
        return false;
    if (result == ReadResult::Read)
        target = std::move(value);
    return true;
}

} // namespace

void LoadSettings(SettingsStore &store, Settings &settings)
{
    settings = Settings{};
    if (!store.beginLoad())
        return;
    if (load(store, ScanCommNoName, settings.ScanCommNo) &&
        load(store, ScanBaudRateName, settings.ScanBaudRate) &&
        load(store, ScanBaudRateNoName, settings.ScanBaudRateNo) &&
        load(store, LanguageFlagName, settings.LanguageFlag))
        // Exact and case-sensitive: "chinesegb" or " ChineseGB" start the window in English.
        settings.LanguageIndex = languageIndexForFlag(settings.LanguageFlag);
    store.endLoad();
}

namespace {

std::vector<NamedValue> scanValues(const Settings &settings)
{
    return {{std::string(ScanCommNoName), settings.ScanCommNo},
            {std::string(ScanBaudRateNoName), settings.ScanBaudRateNo},
            {std::string(ScanBaudRateName), settings.ScanBaudRate}};
}

NamedValue languageValue(const Settings &settings)
{
    return {std::string(LanguageFlagName), settings.LanguageFlag};
}

} // namespace

void SaveScanSettings(SettingsStore &store, const Settings &settings)
{
    store.write(scanValues(settings));
}

void SaveLanguage(SettingsStore &store, const Settings &settings)
{
    store.write({languageValue(settings)});
}

std::vector<NamedValue> RememberedValues(const Settings &settings)
{
    std::vector<NamedValue> values = scanValues(settings);
    values.push_back(languageValue(settings));
    return values;
}

} // namespace qmr
