#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qmr {

// The remembered names of the three languages, by LanguageIndex.
inline constexpr std::array<std::string_view, 3> LanguageFlags = {"English", "ChineseGB",
                                                                  "ChineseBIG5"};

// The four remembered values and the language index derived from LanguageFlag.
// One instance lives for the whole run; tests make their own. Texts are UTF-8.
struct Settings
{
    std::int32_t ScanCommNo = 0; // 0 or less: no port remembered
    std::string ScanBaudRate = "19200,e,8,1";
    std::int32_t ScanBaudRateNo = 5; // taken as stored: may lie outside 0..11
    std::string LanguageFlag = "English";
    int LanguageIndex = 0; // 1 only for exactly "ChineseGB", 2 for "ChineseBIG5"

    // LanguageIndex for a remembered language name (exact, case-sensitive).
    static int languageIndexFor(std::string_view flag);
    // Switches to language index (0..2; another index is English): LanguageIndex and the
    // name that is remembered for it.
    void selectLanguage(int index);
};

} // namespace qmr
