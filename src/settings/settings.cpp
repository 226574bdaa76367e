#include "settings/settings.h"
#include "settings/settingsstore.h"

#include <algorithm>
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

namespace {

// A store seen through a load: which of its values were read.
class ReadNotes : public SettingsStore
{
public:
    explicit ReadNotes(SettingsStore &inner) : m_inner(inner) {}
    bool beginLoad() override { return m_inner.beginLoad(); }
    ReadResult readInt(std::string_view name, std::int32_t &value) override
    {
        return note(name, m_inner.readInt(name, value));
    }
    ReadResult readText(std::string_view name, std::string &value) override
    {
        return note(name, m_inner.readText(name, value));
    }
    void endLoad() override { m_inner.endLoad(); }
    void write(const std::vector<NamedValue> &) override {}

    bool wasRead(std::string_view name) const
    {
        return std::find(m_read.begin(), m_read.end(), name) != m_read.end();
    }

private:
    ReadResult note(std::string_view name, ReadResult result)
    {
        if (result == ReadResult::Read)
            m_read.push_back(name);
        return result;
    }
    SettingsStore &m_inner;
    std::vector<std::string_view> m_read;
};

} // namespace

std::vector<NamedValue> HeldValues(SettingsStore &store)
{
    ReadNotes notes(store);
    Settings settings;
    LoadSettings(notes, settings);
    std::vector<NamedValue> values = scanValues(settings);
    values.push_back(languageValue(settings));
    std::erase_if(values, [&notes](const NamedValue &v) { return !notes.wasRead(v.name); });
    return values;
}

} // namespace qmr
