#pragma once

namespace qmr {

// The rows of the three-language table, named after their English text.
enum class TextRow : int
{
    Company = 0,             // "TAVEX Technology Corp.   " + web address
    Title = 1,               // "TAVEX QLN-72RT Module Config V3.20-01"
    StartScanModule = 2,     // "Start Scan Module!"
    CancelProcessModule = 3, // "Cancel Process Module"
    Id = 4,                  // "ID"
    BaudRate = 5,            // "BaudRate"
    SetModuleBaudRateReset = 6,
    ProcessModule = 7,
    FactoryDefault = 8,
    OneReader = 9,
    QuickSetting = 10,
    Default = 11,
    SnSet = 12,
    Exit = 13,
    OpenCom = 14,
    Error = 15,
    ScanModule = 16,
    SN = 17,
    No = 18,
    Ver = 19,
    ScanCom = 20,
    GetModuleInfoOk = 21,    // "Get Module Info Ok. (COM"
    GetModuleInfoError = 22, // "Get Module Info Error. (COM"
    ModuleNotFind = 23,
    SetModuleId = 24,
    SetModuleIdOk = 25,
    SetModuleIdError = 26,
    SetModuleNo = 27,
    SetModuleNoOk = 28,
    SetModuleNoError = 29,
    SetModuleBaudRate = 30,
    SetModuleBaudRateOk = 31,
    SetModuleBaudRateError = 32,
    SetModuleMode = 33,
    SetModuleModeOk = 34,
    SetModuleModeError = 35,
    SetFactoryDefault = 36,
    SetFactoryDefaultOk = 37,
    SetFactoryDefaultError = 38,
    SetFactoryTest = 39,
    SetFactoryTestOk = 40,
    SetFactoryTestError = 41,
};
inline constexpr int TextRowCount = 42;

} // namespace qmr
