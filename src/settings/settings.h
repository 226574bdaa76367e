#pragma once

#include "vocabulary/vocabulary.h"

#include <cstdint>
#include <string>

namespace qmr {

// The four remembered values and the language index derived from LanguageFlag.
// One instance lives for the whole run; tests make their own. Texts are UTF-8.
struct Settings
{
    std::int32_t ScanCommNo = 0; // 0 or less: no port remembered
    std::string ScanBaudRate = "19200,e,8,1";
    std::int32_t ScanBaudRateNo = 5; // taken as stored: may lie outside 0..11
    std::string LanguageFlag = "English";
    int LanguageIndex = 0; // 1 only for exactly "ChineseGB", 2 for "ChineseBIG5"

    // Switches to language index (0..2; another index is English): LanguageIndex and the
    // name that is remembered for it.
    void selectLanguage(int index);
};

} // namespace qmr
