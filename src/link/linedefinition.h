#pragma once

#include "serialport.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace qmr {

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

// Reads a line definition ("baud,parity,data,stop", parity n/e/o/m/s in either case, blanks
// around each item allowed); nullopt when malformed.
std::optional<LineSettings> parseLineDefinition(std::string_view text);
// Index of a definition in BaudRateTable (exactly as written there), or -1.
int baudRateIndexOf(std::string_view text);

// The RS-485 settings of the module, by the index the module and the RS-485 list use.
inline constexpr std::array<int, 3> Rs485Values = {24, 32, 40};
// The index of an RS-485 value (24, 32, 40), or -1.
inline int rs485IndexOf(int value)
{
    for (int i = 0; i < int(Rs485Values.size()); ++i) {
        if (Rs485Values[i] == value)
            return i;
    }
    return -1;
}

} // namespace qmr
