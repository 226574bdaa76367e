#pragma once

#include "form/inventory.h"

#include <windows.h>

namespace qmr {

// The window is laid out in pixels at 96 DPI; on a monitor of another DPI every length is
// multiplied by dpi/96, rounded to the nearest pixel.
inline constexpr int BaseDpi = USER_DEFAULT_SCREEN_DPI;

inline int scaled(int pixels, int dpi)
{
    return MulDiv(pixels, dpi, BaseDpi);
}

// A box at a DPI: its edges are scaled, not its width and height, so boxes that touch at
// 96 DPI still touch.
inline Box scaled(const Box &box, int dpi)
{
    const int left = scaled(box.x, dpi);
    const int top = scaled(box.y, dpi);
    return {left, top, scaled(box.x + box.width, dpi) - left,
            scaled(box.y + box.height, dpi) - top};
}

// The DPI of the monitor a window is on (GetDpiForWindow, Windows 10 1607 and later, looked
// up at run time); where Windows has no such call, the system's DPI.
inline int windowDpi(HWND window)
{
    using DpiForWindow = UINT(WINAPI *)(HWND);
    const auto dpiForWindow = reinterpret_cast<DpiForWindow>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (dpiForWindow && window) {
        if (const UINT dpi = dpiForWindow(window); dpi != 0)
            return int(dpi);
    }
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : BaseDpi;
}

} // namespace qmr
