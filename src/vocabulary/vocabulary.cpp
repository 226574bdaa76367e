#include "vocabulary/vocabulary.h"

#include "vocabulary/decimal.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace qmr {

namespace {

bool sameIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

int languageIndexForFlag(std::string_view flag)
{
    for (std::size_t i = 1; i < Languages.size(); ++i) {
        if (flag == Languages[i].flag)
            return int(i);
    }
    return 0;
}

int languageIndexForCode(std::string_view code)
{
    for (std::size_t i = 0; i < Languages.size(); ++i) {
        if (code == Languages[i].code)
            return int(i);
    }
    return -1;
}

Script scriptOf(int languageIndex)
{
    return languageIndex >= 0 && languageIndex < int(Languages.size())
               ? Languages[std::size_t(languageIndex)].script
               : Script::Latin;
}

std::optional<int> readerModeIndexFor(std::string_view word)
{
    for (std::size_t i = 0; i < ReaderModes.size(); ++i) {
        if (word == ReaderModes[i].word)
            return int(i);
    }
    return std::nullopt;
}

int rs485IndexOf(int value)
{
    for (int i = 0; i < int(Rs485Values.size()); ++i) {
        if (Rs485Values[std::size_t(i)] == value)
            return i;
    }
    return -1;
}

std::string rs485Name(int index)
{
    return "RS485 " + std::to_string(Rs485Values.at(std::size_t(index)));
}

int baudRateIndexOf(std::string_view text)
{
    for (int i = 0; i < int(BaudRateTable.size()); ++i) {
        if (text == BaudRateTable[std::size_t(i)])
            return i;
    }
    return -1;
}

std::optional<int> lineSettingIndexFor(std::string_view text)
{
    if (auto index = parsePlainNumber(text, 0, int(BaudRateTable.size()) - 1))
        return index;
    for (int i = 0; i < int(BaudRateTable.size()); ++i) {
        if (sameIgnoringCase(text, BaudRateTable[std::size_t(i)]))
            return i;
    }
    return std::nullopt;
}

std::optional<int> comNumberOf(std::string_view name)
{
    if (name.size() < 4 || !sameIgnoringCase(name.substr(0, 3), "COM") || name[3] == '0')
        return std::nullopt;
    return parsePlainNumber(name.substr(3), 1, MaxComNumber);
}

std::string localTimeStamp(TimePrecision precision)
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    if (precision == TimePrecision::Milliseconds) {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
            1000;
        std::snprintf(text + length, sizeof text - length, ".%03d", int(ms));
    }
    return text;
}

} // namespace qmr
