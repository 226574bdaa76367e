#pragma once

// The window class names, for FindWindowW. The controls' IDs are their Control values, so
// the window procedure and anyone driving the window from outside (screen readers, the test
// driver) find a control with GetDlgItem.
namespace qmr::ids {

inline constexpr wchar_t WindowClass[] = L"TfrmModule";
inline constexpr wchar_t LampClass[] = L"TShape";

} // namespace qmr::ids
