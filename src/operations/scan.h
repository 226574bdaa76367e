#pragma once

#include "link/adapteridentity.h"
#include "modulecontext.h"

#include <cstdint>
#include <string>

namespace qmr {

// "A00M" attempts at each port and line setting the search tries.
inline constexpr int ScanSearchAttempts = 2;
// The pause before each read of the module information after the module was found.
inline constexpr int ScanInfoPauseMs = 100;

enum class ScanOutcome
{
    Ok,        // "Get Module Info Ok. (COM : #n)"
    InfoError, // the module answered "A00M", a later read failed
    NotFound,  // "Module Not Find"
};

// What a scan found, field by field as the module sent it; for front ends that print or
// store it (the window shows the same through its view). Fields of reads that did not
// succeed stay empty (-1 for indexes).
struct ScanResult
{
    ScanOutcome outcome = ScanOutcome::NotFound;
    std::int32_t port = 0;        // the COM number the module answered on
    std::string device;           // the device behind it
    AdapterIdentity adapter;      // the adapter behind the device, as far as the system knows
    std::string line;             // the line definition it answered at
    int baudRateNo = -1;          // its index in BaudRateTable, -1 for a remembered text not in it
    std::string serial;           // the first reader's 8-character serial field
    int unitSuffix = -1;          // the unit digit (the serial's last character) + 1
    std::string version;          // "A00V"
    int modeIndex = -1;           // 0 two readers, 1 one reader
    int rs485Index = -1;          // 0..2 (Rs485Values), -1 when the reply held no known digit
    std::string id1;              // the first reader's ID field, as sent
    std::string id2;              // the second reader's ID field, as sent (also in one-reader mode)
    bool readFirstReader = false; // "A00M" answered with 16 bytes
    bool readVersion = false;     // "A00V"
    bool readMode = false;        // "A00A"
    bool readSecondReader = false; // "A00N"
    std::string error;             // a reply field that held no number: the conversion error

    bool ok() const { return outcome == ScanOutcome::Ok; }
};

// The module scan (the Scan button): finds the port and line setting at which the module
// answers, reads its identity into the view and sets ScanOk.
ScanResult RunScan(ModuleContext &ctx);

} // namespace qmr
