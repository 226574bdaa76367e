#pragma once

#include "form/inventory.h"

#include <windows.h>

namespace qmr {

// The icons and button pictures of the window, drawn by the program with GDI (no image files).
namespace pictures {

// The icons are drawn on a 20 x 20 grid (96 DPI) and scaled to the side they are given.
constexpr int IconSide = 20;

// An icon of side x side pixels with its top left corner at x, y; dimmed when disabled. The
// icons are the pictures from Magnifier to CloseCross; any other draws nothing.
void drawIcon(HDC dc, Picture icon, int x, int y, int side, bool disabled);
// The picture of a tall quick-setting button: a headline in blue over two lines in red,
// centred in area, its lengths scaled to the DPI (the fonts are made for it).
void drawQuickSetting(HDC dc, const RECT &area, const wchar_t *headline, const wchar_t *line1,
                      const wchar_t *line2, HFONT headFont, HFONT lineFont, int dpi, bool disabled);
// The two red characters of a language button, centred in area.
void drawLanguageMark(HDC dc, const RECT &area, const wchar_t *characters, HFONT font,
                      bool disabled);
// The round lamp: a circle in colour with a black rim, centred in area.
void drawLamp(HDC dc, const RECT &area, COLORREF colour);

} // namespace pictures
} // namespace qmr
