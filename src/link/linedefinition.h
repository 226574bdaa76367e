#pragma once

#include "serialport.h"

#include <QString>
#include <array>
#include <optional>

namespace qmr {

// The twelve line definitions, in the order of the items of the line-setting list.
inline constexpr std::array<const char *, 12> BaudRateTable = {
    "4800,n,8,1",  "4800,e,8,1",  "9600,n,8,1",  "9600,e,8,1",  "19200,n,8,1",  "19200,e,8,1",
    "38400,n,8,1", "38400,e,8,1", "57600,n,8,1", "57600,e,8,1", "115200,n,8,1", "115200,e,8,1",
};
inline constexpr int DefaultBaudRateNo = 5; // "19200,e,8,1"

// A stored index outside 0..11 stands for the default wherever it would index the table.
inline int safeBaudRateNo(qint32 index)
{
    return index >= 0 && index < int(BaudRateTable.size()) ? index : DefaultBaudRateNo;
}

// Reads a line definition ("baud,parity,data,stop", parity n/e/o/m/s); nullopt when malformed.
std::optional<LineSettings> parseLineDefinition(const QString &text);
// Index of a definition in BaudRateTable, or -1.
int baudRateIndexOf(const QString &text);

} // namespace qmr
