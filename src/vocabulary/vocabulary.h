#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qmr {

// The words every part of the tool shares, each defined here once: the languages, the reader
// modes and IDs, the RS-485 settings, the line settings, the COM names and the time stamp.

// --- Languages -------------------------------------------------------------------------------

// The script a language is written in; a front end chooses its faces by it.
enum class Script
{
    Latin,
    SimplifiedChinese,
    TraditionalChinese,
};

struct Language
{
    std::string_view code; // on the command line: --lang en
    std::string_view flag; // as remembered in the settings
    Script script;
};

// By LanguageIndex: the column of the language table.
inline constexpr std::array<Language, 3> Languages = {{
    {"en", "English", Script::Latin},
    {"gb", "ChineseGB", Script::SimplifiedChinese},
    {"big5", "ChineseBIG5", Script::TraditionalChinese},
}};

// The index of a remembered language name, compared exactly; English (0) for any other name.
int languageIndexForFlag(std::string_view flag);
// The index of a language code, or -1.
int languageIndexForCode(std::string_view code);
// The script of a language index; Latin for an index outside the table.
Script scriptOf(int languageIndex);

// --- Reader modes, IDs and RS-485 ------------------------------------------------------------

struct ReaderMode
{
    std::string_view word; // on the command line and in the provisioning record: "two"
    std::string_view name; // as the mode list shows it: "Two Reader"
};

// By the index the module and the mode list use: 0 two readers, 1 one reader.
inline constexpr std::array<ReaderMode, 2> ReaderModes = {{
    {"two", "Two Reader"},
    {"one", "One Reader"},
}};

// The index of a mode word ("two", "one", exactly), or nothing.
std::optional<int> readerModeIndexFor(std::string_view word);

// The IDs a reader can have.
inline constexpr int MinReaderId = 1;
inline constexpr int MaxReaderId = 99;

// The RS-485 settings of the module, by the index the module and the RS-485 list use.
inline constexpr std::array<int, 3> Rs485Values = {24, 32, 40};
// Whether an index names one of the RS-485 settings.
constexpr bool isRs485Index(int index)
{
    return index >= 0 && index < int(Rs485Values.size());
}
// The index of an RS-485 value (24, 32, 40), or -1.
int rs485IndexOf(int value);
// As the RS-485 list shows a setting: "RS485 32".
std::string rs485Name(int index);

// --- Line settings ---------------------------------------------------------------------------

// The twelve line definitions, in the order of the items of the line-setting list.
inline constexpr std::array<const char *, 12> BaudRateTable = {
    "4800,n,8,1",  "4800,e,8,1",  "9600,n,8,1",  "9600,e,8,1",  "19200,n,8,1",  "19200,e,8,1",
    "38400,n,8,1", "38400,e,8,1", "57600,n,8,1", "57600,e,8,1", "115200,n,8,1", "115200,e,8,1",
};
inline constexpr int DefaultBaudRateNo = 5; // "19200,e,8,1"

// A stored index outside 0..11 stands for the default wherever it would index the table.
inline int safeBaudRateNo(std::int32_t index)
{
    return index >= 0 && index < int(BaudRateTable.size()) ? index : DefaultBaudRateNo;
}

// Index of a definition in BaudRateTable (exactly as written there), or -1.
int baudRateIndexOf(std::string_view text);
// A line setting as a person names it: its index 0 to 11 (plain digits), or its definition
// in any letter case ("38400,E,8,1"); nothing for anything else.
std::optional<int> lineSettingIndexFor(std::string_view text);

// --- Ports and time --------------------------------------------------------------------------

// COM numbers run from 1 to this on every platform.
inline constexpr int MaxComNumber = 255;
// The number n of a name "COMn" (any letter case, n 1 to MaxComNumber without leading
// zeros), or nothing.
std::optional<int> comNumberOf(std::string_view name);

enum class TimePrecision
{
    Seconds,     // "2025-01-31T12:34:56": the provisioning record
    Milliseconds // "2025-01-31T12:34:56.789": the lines of process mode
};
// The local time now, as the record and the console print it.
std::string localTimeStamp(TimePrecision precision);

} // namespace qmr
