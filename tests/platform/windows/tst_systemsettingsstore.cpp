// The registry store under Wine: the value types it writes and reads, the load rules as the
// registry presents them, and the carry-over from an earlier installation's keys. Every test works
// under a key of its own, removed before and after.

#include "platform/windows/systemsettingsstore.h"
#include "support/samplesettings.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace qmr {
namespace {

const std::string TestKey =
    "Software\\TAVEX\\QMRConfigTest-" + std::to_string(GetCurrentProcessId());

// Every place a store with the test's key reads or writes: the user's key and the keys it
// carries over from.
std::vector<SystemSettingsStore::CarryOverKey> everyKey()
{
    std::vector<SystemSettingsStore::CarryOverKey> keys =
        SystemSettingsStore(TestKey).carryOverKeys();
    keys.push_back({HKEY_CURRENT_USER, TestKey, 0});
    return keys;
}

void deleteKey(HKEY root, const std::string &path = TestKey, REGSAM view = 0)
{
    RegDeleteKeyExA(root, path.c_str(), view, 0);
}

// A key of the test's own, opened (and created) for writing values by hand.
class Key
{
public:
    explicit Key(HKEY root, const std::string &path = TestKey, REGSAM view = 0)
    {
        EXPECT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS | view, nullptr, &m_key, nullptr),
                  ERROR_SUCCESS);
    }
    explicit Key(const SystemSettingsStore::CarryOverKey &at) : Key(at.root, at.path, at.view) {}
    ~Key() { RegCloseKey(m_key); }
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;

    void setDword(const char *name, DWORD value) { set(name, REG_DWORD, &value, sizeof value); }
    void setText(const char *name, const std::string &text, DWORD type = REG_SZ)
    {
        set(name, type, text.c_str(), DWORD(text.size() + 1));
    }
    void set(const char *name, DWORD type, const void *data, DWORD size)
    {
        ASSERT_EQ(RegSetValueExA(m_key, name, 0, type, static_cast<const BYTE *>(data), size),
                  ERROR_SUCCESS);
    }
    // All four values, as an earlier installation left them.
    void setAll(const Settings &s)
    {
        setDword("ScanCommNo", DWORD(s.ScanCommNo));
        setText("ScanBaudRate", s.ScanBaudRate);
        setDword("ScanBaudRateNo", DWORD(s.ScanBaudRateNo));
        setText("LanguageFlag", s.LanguageFlag);
    }

private:
    HKEY m_key = nullptr;
};

struct Stored
{
    bool exists = false;
    DWORD type = 0;
    std::string data;
};

Stored query(HKEY root, const char *name)
{
    Stored s;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, TestKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return s;
    char data[256];
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, &s.type, reinterpret_cast<BYTE *>(data), &size) ==
        ERROR_SUCCESS) {
        s.exists = true;
        s.data.assign(data, size);
    }
    RegCloseKey(key);
    return s;
}

std::string dword(DWORD value)
{
    return std::string(reinterpret_cast<const char *>(&value), sizeof value);
}

Settings load()
{
    SystemSettingsStore store(TestKey);
    Settings s;
    LoadSettings(store, s);
    return s;
}

class RegistryStoreTest : public testing::Test
{
protected:
    void SetUp() override
    {
        for (const auto &key : everyKey())
            deleteKey(key.root, key.path, key.view);
    }
    void TearDown() override { SetUp(); }
};

TEST_F(RegistryStoreTest, DefaultsWithoutKeyAndOnEmptyKey)
{
    const std::string defaults = describe(Settings{});
    SystemSettingsStore store(TestKey);
    EXPECT_FALSE(store.beginLoad()); // neither HKEY_CURRENT_USER nor HKEY_LOCAL_MACHINE has it
    EXPECT_EQ(describe(load()), defaults);

    {
        Key key(HKEY_CURRENT_USER);
    }
    EXPECT_EQ(describe(load()), defaults);
}

TEST_F(RegistryStoreTest, EachValueWrittenWithItsTypeAndReadBack)
{
    SystemSettingsStore store(TestKey);
    // -1 as ScanBaudRateNo: taken as stored, also outside 0..11, as DWORD 0xFFFFFFFF.
    const Settings saved = sampleSettings(12, "38400,e,8,1", -1, "ChineseGB");
    SaveScanSettings(store, saved);
    SaveLanguage(store, saved);

    const Stored comm = query(HKEY_CURRENT_USER, "ScanCommNo");
    EXPECT_EQ(comm.type, DWORD(REG_DWORD));
    EXPECT_EQ(comm.data, dword(12));
    const Stored baudNo = query(HKEY_CURRENT_USER, "ScanBaudRateNo");
    EXPECT_EQ(baudNo.type, DWORD(REG_DWORD));
    EXPECT_EQ(baudNo.data, dword(0xFFFFFFFF));
    const Stored baud = query(HKEY_CURRENT_USER, "ScanBaudRate");
    EXPECT_EQ(baud.type, DWORD(REG_SZ));
    EXPECT_EQ(baud.data, std::string("38400,e,8,1\0", 12)); // with its terminating zero
    const Stored flag = query(HKEY_CURRENT_USER, "LanguageFlag");
    EXPECT_EQ(flag.type, DWORD(REG_SZ));
    EXPECT_EQ(flag.data, std::string("ChineseGB\0", 10));

    EXPECT_EQ(describe(load()), describe(saved));
    // Written under the user's key only.
    EXPECT_FALSE(query(HKEY_LOCAL_MACHINE, "ScanCommNo").exists);
}

// The first save into a new key writes only its own values when nothing is carried over (no
// default is written as if remembered); a later save writes only its own and leaves the
// others as they are.
TEST_F(RegistryStoreTest, FirstSaveWritesOnlyWhatItHasLaterSavesOnlyTheirOwn)
{
    SystemSettingsStore store(TestKey);
    SaveLanguage(store, sampleSettings(4, "9600,n,8,1", 2, "ChineseBIG5"));
    for (const char *name : {"ScanCommNo", "ScanBaudRateNo", "ScanBaudRate"})
        EXPECT_FALSE(query(HKEY_CURRENT_USER, name).exists) << name;
    EXPECT_EQ(query(HKEY_CURRENT_USER, "LanguageFlag").data, std::string("ChineseBIG5\0", 12));

    {
        Key key(HKEY_CURRENT_USER);
        key.setDword("ScanCommNo", 9);
        key.setText("ScanBaudRate", "1200,e,8,1");
    }
    SaveLanguage(store, sampleSettings(4, "9600,n,8,1", 2, "English"));
    EXPECT_EQ(query(HKEY_CURRENT_USER, "ScanCommNo").data, dword(9));
    EXPECT_EQ(query(HKEY_CURRENT_USER, "ScanBaudRate").data, std::string("1200,e,8,1\0", 11));
    SaveScanSettings(store, sampleSettings(5, "4800,e,8,1", 3, "ChineseGB"));
    EXPECT_EQ(query(HKEY_CURRENT_USER, "LanguageFlag").data, std::string("English\0", 8));
}

// A value of the other type ends the load: it and every later value keep their defaults,
// the language index stays 0. Each row stores all four values, one of them wrong.
TEST_F(RegistryStoreTest, ValueOfWrongTypeEndsLoad)
{
    struct Row
    {
        const char *wrongName;
        Settings expected;
    };
    const Settings d;
    const std::vector<Row> rows = {
        {"ScanCommNo", d},
        {"ScanBaudRate", sampleSettings(3, d.ScanBaudRate, d.ScanBaudRateNo, d.LanguageFlag)},
        {"ScanBaudRateNo", sampleSettings(3, "9600,e,8,1", d.ScanBaudRateNo, d.LanguageFlag)},
        {"LanguageFlag", sampleSettings(3, "9600,e,8,1", 4, d.LanguageFlag)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.wrongName);
        deleteKey(HKEY_CURRENT_USER);
        Key key(HKEY_CURRENT_USER);
        key.setDword("ScanCommNo", 3);
        key.setText("ScanBaudRate", "9600,e,8,1");
        key.setDword("ScanBaudRateNo", 4);
        key.setText("LanguageFlag", "ChineseGB");
        const std::string name = row.wrongName;
        if (name == "ScanCommNo" || name == "ScanBaudRateNo")
            key.setText(row.wrongName, "3"); // a number, but stored as REG_SZ
        else
            key.setDword(row.wrongName, 1);
        Settings expected = row.expected;
        expected.LanguageIndex = 0;
        EXPECT_EQ(describe(load()), describe(expected));
    }
    // Types that are neither: a QWORD integer, binary text.
    deleteKey(HKEY_CURRENT_USER);
    {
        Key key(HKEY_CURRENT_USER);
        const unsigned long long wide = 3;
        key.set("ScanCommNo", REG_QWORD, &wide, sizeof wide);
    }
    EXPECT_EQ(describe(load()), describe(d));
    deleteKey(HKEY_CURRENT_USER);
    {
        Key key(HKEY_CURRENT_USER);
        key.setDword("ScanCommNo", 5);
        key.set("ScanBaudRate", REG_BINARY, "9600,e,8,1", 11);
    }
    EXPECT_EQ(describe(load()),
              describe(sampleSettings(5, d.ScanBaudRate, d.ScanBaudRateNo, d.LanguageFlag)));
}

TEST_F(RegistryStoreTest, TextsOfEveryStoredForm)
{
    {
        Key key(HKEY_CURRENT_USER);
        key.set("ScanBaudRate", REG_SZ, "", 0); // size zero: the empty text, not a missing one
        key.setText("LanguageFlag", "ChineseBIG5", REG_EXPAND_SZ);
    }
    EXPECT_EQ(describe(load()), describe(sampleSettings(0, "", 5, "ChineseBIG5")));

    deleteKey(HKEY_CURRENT_USER);
    {
        Key key(HKEY_CURRENT_USER);
        key.set("ScanBaudRate", REG_SZ, "4800,n,8,1", 10);    // no terminating zero
        key.setText("LanguageFlag", "%PATH%", REG_EXPAND_SZ); // read as stored
    }
    EXPECT_EQ(describe(load()), describe(sampleSettings(0, "4800,n,8,1", 5, "%PATH%")));

    deleteKey(HKEY_CURRENT_USER);
    {
        Key key(HKEY_CURRENT_USER);
        key.setText("LanguageFlag", "chinesegb"); // exact case only
    }
    EXPECT_EQ(load().LanguageIndex, 0);
}

// Values an earlier installation left are read while the user has no key of their own; the
// first save makes one holding them with the save's own value, and from then on only it is
// read.
TEST_F(RegistryStoreTest, CarriedValuesSurviveTheFirstSave)
{
    const Settings machine = sampleSettings(7, "57600,e,8,1", 8, "ChineseGB");
    {
        Key key(HKEY_LOCAL_MACHINE);
        key.setAll(machine);
    }
    EXPECT_EQ(describe(load()), describe(machine));

    // A first language click keeps the carried port and line setting.
    SystemSettingsStore store(TestKey);
    SaveLanguage(store, sampleSettings(0, "", 0, "ChineseBIG5"));
    EXPECT_EQ(describe(load()), describe(sampleSettings(7, "57600,e,8,1", 8, "ChineseBIG5")));
    // The machine's key is left as it was.
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, "LanguageFlag").data, std::string("ChineseGB\0", 10));
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, "ScanCommNo").data, dword(7));

    // A first scan keeps the carried language.
    deleteKey(HKEY_CURRENT_USER);
    SaveScanSettings(store, sampleSettings(2, "9600,e,8,1", 4, "English"));
    EXPECT_EQ(describe(load()), describe(sampleSettings(2, "9600,e,8,1", 4, "ChineseGB")));

    // What is carried is what a load reads: a value of the wrong type ends it there, and
    // neither it nor the values after it go into the new key (they load as defaults).
    deleteKey(HKEY_CURRENT_USER);
    {
        Key key(HKEY_LOCAL_MACHINE);
        key.setDword("ScanBaudRate", 5);
    }
    SaveLanguage(store, sampleSettings(0, "", 0, "ChineseBIG5"));
    const Settings d;
    EXPECT_EQ(describe(load()),
              describe(sampleSettings(7, d.ScanBaudRate, d.ScanBaudRateNo, "ChineseBIG5")));
    EXPECT_FALSE(query(HKEY_CURRENT_USER, "ScanBaudRate").exists);
    EXPECT_FALSE(query(HKEY_CURRENT_USER, "ScanBaudRateNo").exists);

    // An empty user key counts as the user's: defaults, not the machine's values.
    deleteKey(HKEY_CURRENT_USER);
    {
        Key user(HKEY_CURRENT_USER);
    }
    EXPECT_EQ(describe(load()), describe(Settings{}));
}

// The carry-over reads the first of its keys that exists, and only that one: the user's
// VirtualStore copies (of a 32-bit program first), the 32-bit view of HKEY_LOCAL_MACHINE,
// its 64-bit view.
TEST_F(RegistryStoreTest, CarryOverOrder)
{
    const std::vector<SystemSettingsStore::CarryOverKey> keys =
        SystemSettingsStore(TestKey).carryOverKeys();
    ASSERT_EQ(keys.size(), 4u);
    EXPECT_EQ(keys[0].path, "Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\WOW6432Node\\" +
                                TestKey.substr(9));
    EXPECT_EQ(keys[1].path,
              "Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\" + TestKey.substr(9));
    EXPECT_EQ(keys[2].view, REGSAM(KEY_WOW64_32KEY));
    EXPECT_EQ(keys[3].view, REGSAM(KEY_WOW64_64KEY));

    // Each key holds a port of its own (and only the last one a language).
    for (std::size_t i = 0; i < keys.size(); ++i) {
        Key key(keys[i]);
        key.setDword("ScanCommNo", DWORD(11 + i));
        if (i == keys.size() - 1)
            key.setText("LanguageFlag", "ChineseGB");
    }
    // The two views of HKEY_LOCAL_MACHINE are two keys.
    ASSERT_EQ(query(HKEY_LOCAL_MACHINE, "ScanCommNo").data, dword(14));
    for (std::size_t i = 0; i < keys.size(); ++i) {
        SCOPED_TRACE(i);
        const Settings loaded = load();
        EXPECT_EQ(loaded.ScanCommNo, std::int32_t(11 + i));
        EXPECT_EQ(loaded.LanguageFlag,
                  i == keys.size() - 1 ? "ChineseGB" : Settings{}.LanguageFlag);
        deleteKey(keys[i].root, keys[i].path, keys[i].view);
    }
    EXPECT_EQ(describe(load()), describe(Settings{}));
}

// A save writes its values in the order given and stops at the first that cannot be written
// (a name longer than the registry allows), keeping those before it.
TEST_F(RegistryStoreTest, SaveWritesInOrderAndStopsAtFirstFailure)
{
    {
        Key user(HKEY_CURRENT_USER); // not a first save, which would write all four first
    }
    SystemSettingsStore store(TestKey);
    store.write({{"ScanCommNo", std::int32_t(9)},
                 {std::string(20000, 'x'), std::int32_t(1)},
                 {"ScanBaudRate", std::string("9600,e,8,1")}});
    EXPECT_EQ(query(HKEY_CURRENT_USER, "ScanCommNo").data, dword(9));
    EXPECT_FALSE(query(HKEY_CURRENT_USER, "ScanBaudRate").exists);
}

// Each load and save opens and closes the key, so what one store saved the next load of
// another store sees.
TEST_F(RegistryStoreTest, StoresShareTheKeyThroughEachLoadAndSave)
{
    SystemSettingsStore first(TestKey);
    SystemSettingsStore second(TestKey);
    SaveScanSettings(first, sampleSettings(2, "1200,e,8,1", 0, "English"));
    Settings s;
    LoadSettings(second, s);
    EXPECT_EQ(describe(s), describe(sampleSettings(2, "1200,e,8,1", 0, "English")));
    SaveScanSettings(second, sampleSettings(6, "2400,e,8,1", 1, "English"));
    LoadSettings(first, s);
    EXPECT_EQ(s.ScanCommNo, 6);
}

} // namespace
} // namespace qmr
