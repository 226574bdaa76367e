#pragma once

// One control ID per control of the window, so that the window procedure and anyone driving
// the window from outside (screen readers, the test driver) find a control with GetDlgItem.
// The order is the order of the window's layout; the values are part of its outside view
// and stay stable.
namespace qmr::ids {

enum ControlId : int
{
    pnMsg = 1001,
    shComm = 1002, // inside pnMsg
    pnSerial = 1003,
    pnVersion = 1004,
    btnScan = 1005,
    lblID = 1006,
    pnID = 1007,
    sbID = 1008,
    lblID2 = 1009,
    pnID2 = 1010,
    sbID2 = 1011,
    btnID = 1012,
    lblBaudRate = 1013,
    cmbBaudRate = 1014,
    chkLock = 1015,
    btnBaudRate = 1016,
    cmbMode = 1017,
    cmbRS485 = 1018,
    btnMode = 1019,
    pnQMR1 = 1020,
    pnQMR2 = 1021,
    btnProcess = 1022,
    gbDefault = 1023,
    pcDefault = 1024,
    tsDefault = 1025, // the page: a window of its own so that its caption and box can be read
    btnFactory = 1026,
    btnOne = 1027,
    btnEng = 1028,
    btnGB = 1029,
    btnBIG5 = 1030,
    btnExit = 1031,
    pnTAVEX = 1032,
};

// The window class names, for FindWindowW.
inline constexpr wchar_t WindowClass[] = L"TfrmModule";
inline constexpr wchar_t LampClass[] = L"TShape";

} // namespace qmr::ids
