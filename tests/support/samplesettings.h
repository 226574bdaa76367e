#pragma once

#include "settings/settings.h"

#include <cstdint>
#include <string>

namespace qmr {

// A complete set of remembered values, the language index derived as a load derives it.
inline Settings sampleSettings(std::int32_t comm, std::string baud, std::int32_t baudNo,
                               std::string flag)
{
    Settings s;
    s.ScanCommNo = comm;
    s.ScanBaudRate = std::move(baud);
    s.ScanBaudRateNo = baudNo;
    s.LanguageFlag = std::move(flag);
    s.LanguageIndex = languageIndexForFlag(s.LanguageFlag);
    return s;
}

// All five values in one line, so a test compares them at once and a failure shows which.
inline std::string describe(const Settings &s)
{
    return "ScanCommNo=" + std::to_string(s.ScanCommNo) + " ScanBaudRate=\"" + s.ScanBaudRate +
           "\" ScanBaudRateNo=" + std::to_string(s.ScanBaudRateNo) + " LanguageFlag=\"" +
           s.LanguageFlag + "\" LanguageIndex=" + std::to_string(s.LanguageIndex);
}

} // namespace qmr
