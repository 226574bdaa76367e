// The load and save rules over any store, and the in-memory test double.
#include "settings/settingsstore.h"
#include "support/memorysettingsstore.h"
#include "support/samplesettings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qmr;

namespace {

void expectSettings(const Settings &actual, const Settings &expected)
{
    EXPECT_EQ(describe(actual), describe(expected));
}

// Records the names read, and hands out a value of the wrong type for one name. On that name
// it scribbles into the target first, as a careless backend might.
class ProbeStore : public SettingsStore
{
public:
    std::string wrongTypeName;
    bool allowLoad = true;
    std::vector<std::string> reads;
    int endLoads = 0;

    bool beginLoad() override { return allowLoad; }
    ReadResult readInt(std::string_view name, std::int32_t &value) override
    {
        reads.emplace_back(name);
        value = 42;
        return name == wrongTypeName ? ReadResult::WrongType : ReadResult::Read;
    }
    ReadResult readText(std::string_view name, std::string &value) override
    {
        reads.emplace_back(name);
        value = name == wrongTypeName ? "junk" : "ChineseBIG5";
        return name == wrongTypeName ? ReadResult::WrongType : ReadResult::Read;
    }
    void endLoad() override { ++endLoads; }
    void write(const std::vector<NamedValue> &) override {}
};

// Records each save as given.
class SaveRecorder : public SettingsStore
{
public:
    std::vector<std::vector<NamedValue>> saves;
    bool beginLoad() override { return false; }
    ReadResult readInt(std::string_view, std::int32_t &) override { return ReadResult::Missing; }
    ReadResult readText(std::string_view, std::string &) override { return ReadResult::Missing; }
    void write(const std::vector<NamedValue> &values) override { saves.push_back(values); }
};

} // namespace

TEST(Settings, DefaultsAreTheFirstRunValues)
{
    const Settings s;
    expectSettings(s, sampleSettings(0, "19200,e,8,1", 5, "English"));
    EXPECT_EQ(s.LanguageIndex, 0);
}

TEST(Settings, LanguageIndexNeedsTheExactName)
{
    EXPECT_EQ(languageIndexForFlag("ChineseGB"), 1);
    EXPECT_EQ(languageIndexForFlag("ChineseBIG5"), 2);
    for (const char *flag : {"English", "chinesegb", "CHINESEBIG5", "ChineseGB ", " ChineseGB",
                             "Chinese", "", "ChineseBig5"}) {
        SCOPED_TRACE(flag);
        EXPECT_EQ(languageIndexForFlag(flag), 0);
    }
    EXPECT_EQ(languageIndexForFlag(std::string_view("ChineseGB\0", 10)), 0);
}

TEST(Settings, SelectedLanguageIsRememberedByTheNameThatLoadsItBack)
{
    Settings s;
    for (int index : {2, 1, 0}) {
        s.selectLanguage(index);
        EXPECT_EQ(s.LanguageIndex, index);
        EXPECT_EQ(languageIndexForFlag(s.LanguageFlag), index) << s.LanguageFlag;
    }
    s.selectLanguage(1);
    s.selectLanguage(3); // no such language: English
    EXPECT_EQ(s.LanguageIndex, 0);
    EXPECT_EQ(s.LanguageFlag, "English");
}

TEST(LoadSettings, ReadsTheFourValuesInOrderAndDerivesTheLanguage)
{
    ProbeStore store;
    Settings s = sampleSettings(7, "x", 9, "English");
    LoadSettings(store, s);
    EXPECT_EQ(store.reads, (std::vector<std::string>{"ScanCommNo", "ScanBaudRate", "ScanBaudRateNo",
                                                     "LanguageFlag"}));
    EXPECT_EQ(store.endLoads, 1);
    expectSettings(s, sampleSettings(42, "ChineseBIG5", 42, "ChineseBIG5"));
    EXPECT_EQ(s.LanguageIndex, 2);
}

TEST(LoadSettings, FirstValueOfTheWrongTypeEndsTheLoad)
{
    const std::vector<std::string> order{"ScanCommNo", "ScanBaudRate", "ScanBaudRateNo",
                                         "LanguageFlag"};
    for (std::size_t stop = 0; stop < order.size(); ++stop) {
        SCOPED_TRACE(order[stop]);
        ProbeStore store;
        store.wrongTypeName = order[stop];
        Settings s = sampleSettings(7, "stale", 9, "ChineseGB");
        LoadSettings(store, s);
        // Nothing after the wrong value is asked for; it and the later ones keep defaults.
        EXPECT_EQ(store.reads, std::vector<std::string>(order.begin(), order.begin() + stop + 1));
        EXPECT_EQ(store.endLoads, 1);
        Settings expected;
        if (stop > 0)
            expected.ScanCommNo = 42;
        if (stop > 1)
            expected.ScanBaudRate = "ChineseBIG5";
        if (stop > 2)
            expected.ScanBaudRateNo = 42;
        expectSettings(s, expected); // LanguageIndex stays 0 even when the flag was read
    }
}

TEST(LoadSettings, RefusedLoadReadsNothingAndLeavesDefaults)
{
    ProbeStore store;
    store.allowLoad = false;
    Settings s = sampleSettings(7, "stale", 9, "ChineseGB");
    LoadSettings(store, s);
    EXPECT_TRUE(store.reads.empty());
    EXPECT_EQ(store.endLoads, 0);
    expectSettings(s, Settings{});
}

TEST(LoadSettings, MissingValuesKeepTheirDefaults)
{
    MemorySettingsStore store;
    store.setValue(ScanBaudRateNoName, 11);
    Settings s = sampleSettings(7, "stale", 9, "ChineseGB");
    LoadSettings(store, s);
    expectSettings(s, sampleSettings(0, "19200,e,8,1", 11, "English"));

    store.clearValues();
    store.setValue(LanguageFlagName, std::string("ChineseGB"));
    LoadSettings(store, s);
    expectSettings(s, sampleSettings(0, "19200,e,8,1", 5, "ChineseGB"));
    EXPECT_EQ(s.LanguageIndex, 1);
}

TEST(LoadSettings, ValuesAreTakenAsStored)
{
    for (std::int32_t v : {-1, 12, 0, -5, 99, 2147483647, -2147483647 - 1}) {
        SCOPED_TRACE(v);
        MemorySettingsStore store;
        store.setValue(ScanCommNoName, v);
        store.setValue(ScanBaudRateNoName, v);
        store.setValue(ScanBaudRateName, std::string("hello, world"));
        Settings s;
        LoadSettings(store, s);
        expectSettings(s, sampleSettings(v, "hello, world", v, "English"));
    }
}

TEST(SaveSettings, ScanSaveWritesThreeValuesInOneSave)
{
    SaveRecorder store;
    SaveScanSettings(store, sampleSettings(12, "9600,e,8,1", 3, "ChineseGB"));
    ASSERT_EQ(store.saves.size(), 1u);
    EXPECT_EQ(store.saves[0],
              (std::vector<NamedValue>{
                  {"ScanCommNo", 12}, {"ScanBaudRateNo", 3}, {"ScanBaudRate", "9600,e,8,1"}}));
}

TEST(SaveSettings, LanguageSaveWritesOnlyTheFlag)
{
    SaveRecorder store;
    SaveLanguage(store, sampleSettings(12, "9600,e,8,1", 3, "ChineseBIG5"));
    ASSERT_EQ(store.saves.size(), 1u);
    EXPECT_EQ(store.saves[0], (std::vector<NamedValue>{{"LanguageFlag", "ChineseBIG5"}}));
}

TEST(SaveSettings, WhatWasSavedLoadsBack)
{
    MemorySettingsStore store;
    const Settings s = sampleSettings(-3, "中文 ünï", 2147483647, "ChineseGB");
    SaveScanSettings(store, s);
    SaveLanguage(store, s);
    Settings loaded;
    LoadSettings(store, loaded);
    expectSettings(loaded, s);
    // A language save leaves the scan values alone and vice versa.
    SaveLanguage(store, sampleSettings(1, "x", 0, "English"));
    LoadSettings(store, loaded);
    expectSettings(loaded, sampleSettings(-3, "中文 ünï", 2147483647, "English"));
}

// What a store that starts a new place carries over: the values a load read, in the order
// the saves write them; no default for a value that was missing, none after a wrong type.
TEST(HeldValues, OnlyWhatTheLoadRead)
{
    MemorySettingsStore store;
    EXPECT_TRUE(HeldValues(store).empty());
    store.setValue("LanguageFlag", std::string("ChineseGB"));
    store.setValue("ScanCommNo", 3);
    EXPECT_EQ(HeldValues(store),
              (std::vector<NamedValue>{{"ScanCommNo", 3}, {"LanguageFlag", "ChineseGB"}}));
    store.setValue("ScanBaudRate", 5); // wrong type: ends the load
    EXPECT_EQ(HeldValues(store), (std::vector<NamedValue>{{"ScanCommNo", 3}}));
}
