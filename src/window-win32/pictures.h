#pragma once

#include "form/inventory.h"

#include <windows.h>

namespace qmr {

// The icons and button pictures of the window, drawn by the program with GDI (no image files).
namespace pictures {

constexpr int IconSide = 20;

// A 20 x 20 icon with its top left corner at x, y; dimmed when disabled. The icons are the
// pictures from Magnifier to CloseCross; any other draws nothing.
void drawIcon(HDC dc, Picture icon, int x, int y, bool disabled);
// The picture of a tall quick-setting button: a headline in blue over two lines in red,
// centred in area.
void drawQuickSetting(HDC dc, const RECT &area, const wchar_t *headline, const wchar_t *line1,
                      const wchar_t *line2, HFONT headFont, HFONT lineFont, bool disabled);
// The two red characters of a language button, centred in area.
void drawLanguageMark(HDC dc, const RECT &area, const wchar_t *characters, HFONT font,
                      bool disabled);
// The round lamp: a circle in colour with a black rim, centred in area.
void drawLamp(HDC dc, const RECT &area, COLORREF colour);

} // namespace pictures
} // namespace qmr
