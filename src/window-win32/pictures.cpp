#include "pictures.h"

#include "dpiscale.h"

#include <iterator>
#include <memory>
#include <type_traits>

namespace qmr::pictures {

namespace {

// GDI objects selected for the length of a scope and deleted after it.
struct GdiDeleter
{
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using GdiObject = std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, GdiDeleter>;

class Selection
{
public:
    Selection(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(SelectObject(dc, object)) {}
    ~Selection() { SelectObject(m_dc, m_previous); }
    Selection(const Selection &) = delete;
    Selection &operator=(const Selection &) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

const COLORREF Grey = RGB(128, 128, 128);

COLORREF shade(COLORREF colour, bool disabled)
{
    return disabled ? Grey : colour;
}

GdiObject pen(COLORREF colour, int width)
{
    return GdiObject(CreatePen(PS_SOLID, width, colour));
}

GdiObject brush(COLORREF colour)
{
    return GdiObject(CreateSolidBrush(colour));
}

void ellipse(HDC dc, int left, int top, int right, int bottom, COLORREF line, COLORREF fill,
             int width = 1)
{
    GdiObject p = pen(line, width);
    GdiObject b = brush(fill);
    Selection sp(dc, p.get());
    Selection sb(dc, b.get());
    Ellipse(dc, left, top, right, bottom);
}

void rectangle(HDC dc, int left, int top, int right, int bottom, COLORREF line, COLORREF fill)
{
    GdiObject p = pen(line, 1);
    GdiObject b = brush(fill);
    Selection sp(dc, p.get());
    Selection sb(dc, b.get());
    Rectangle(dc, left, top, right, bottom);
}

void fill(HDC dc, int left, int top, int right, int bottom, COLORREF colour)
{
    const RECT box{left, top, right, bottom};
    GdiObject b = brush(colour);
    FillRect(dc, &box, static_cast<HBRUSH>(b.get()));
}

void line(HDC dc, int x1, int y1, int x2, int y2, COLORREF colour, int width)
{
    GdiObject p = pen(colour, width);
    Selection sp(dc, p.get());
    MoveToEx(dc, x1, y1, nullptr);
    LineTo(dc, x2, y2);
}

void text(HDC dc, RECT box, const wchar_t *characters, HFONT font, COLORREF colour)
{
    Selection sf(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colour);
    DrawTextW(dc, characters, -1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

} // namespace

void drawIcon(HDC dc, Picture icon, int left, int top, int side, bool disabled)
{
    // The 20 x 20 grid is mapped onto the icon's square, pens included.
    const int saved = SaveDC(dc);
    SetMapMode(dc, MM_ANISOTROPIC);
    SetWindowExtEx(dc, IconSide, IconSide, nullptr);
    SetViewportExtEx(dc, side, side, nullptr);
    SetViewportOrgEx(dc, left, top, nullptr);
    const int x = 0;
    const int y = 0;
    const auto c = [disabled](COLORREF colour) { return shade(colour, disabled); };
    switch (icon) {
    case Picture::Magnifier:
        line(dc, x + 12, y + 12, x + 18, y + 18, c(RGB(40, 40, 40)), 3);
        ellipse(dc, x + 2, y + 2, x + 14, y + 14, c(RGB(40, 40, 40)), c(RGB(180, 220, 255)), 2);
        line(dc, x + 5, y + 8, x + 7, y + 5, RGB(255, 255, 255), 1);
        break;
    case Picture::IdCard:
        rectangle(dc, x + 1, y + 4, x + 19, y + 17, c(RGB(30, 60, 120)), RGB(235, 240, 250));
        ellipse(dc, x + 4, y + 7, x + 8, y + 11, c(RGB(30, 60, 120)), c(RGB(30, 60, 120)));
        fill(dc, x + 10, y + 8, x + 16, y + 9, c(RGB(30, 60, 120)));
        fill(dc, x + 10, y + 11, x + 16, y + 12, c(RGB(30, 60, 120)));
        fill(dc, x + 4, y + 13, x + 8, y + 14, c(RGB(30, 60, 120)));
        break;
    case Picture::LineSetting: {
        // A square wave: the bits on the line.
        const POINT wave[] = {{1, 14}, {4, 14}, {4, 6},   {8, 6},   {8, 14}, {11, 14},
                              {11, 6}, {13, 6}, {13, 14}, {16, 14}, {16, 6}, {19, 6}};
        POINT moved[std::size(wave)];
        for (std::size_t i = 0; i < std::size(wave); ++i)
            moved[i] = {x + wave[i].x, y + wave[i].y};
        GdiObject p = pen(c(RGB(0, 120, 0)), 2);
        Selection sp(dc, p.get());
        Polyline(dc, moved, int(std::size(moved)));
        break;
    }
    case Picture::ModeSwitch:
        // Two readers side by side, the second one dimmed: one or two readers.
        rectangle(dc, x + 1, y + 3, x + 9, y + 17, c(RGB(60, 60, 60)), c(RGB(70, 110, 200)));
        rectangle(dc, x + 11, y + 3, x + 19, y + 17, c(RGB(60, 60, 60)), c(RGB(170, 190, 230)));
        ellipse(dc, x + 3, y + 5, x + 7, y + 9, c(RGB(255, 60, 60)), c(RGB(255, 60, 60)));
        ellipse(dc, x + 13, y + 5, x + 17, y + 9, c(RGB(255, 60, 60)), c(RGB(255, 60, 60)));
        break;
    case Picture::ProgressBar:
        rectangle(dc, x + 1, y + 6, x + 19, y + 14, c(RGB(60, 60, 60)), RGB(255, 255, 255));
        for (int i = 0; i < 4; ++i)
            fill(dc, x + 3 + i * 4, y + 8, x + 6 + i * 4, y + 12, c(RGB(0, 170, 0)));
        break;
    case Picture::CloseCross:
        ellipse(dc, x + 1, y + 1, x + 19, y + 19, c(RGB(120, 0, 0)), c(RGB(210, 40, 40)));
        line(dc, x + 6, y + 6, x + 13, y + 13, RGB(255, 255, 255), 2);
        line(dc, x + 13, y + 6, x + 6, y + 13, RGB(255, 255, 255), 2);
        break;
    default:
        break;
    }
    RestoreDC(dc, saved);
}

void drawQuickSetting(HDC dc, const RECT &area, const wchar_t *headline, const wchar_t *line1,
                      const wchar_t *line2, HFONT headFont, HFONT lineFont, int dpi, bool disabled)
{
    // 150 x 74 pixels at 96 DPI: the headline, then the two lines of 19 pixels each.
    const auto s = [dpi](int pixels) { return scaled(pixels, dpi); };
    const int left = area.left + (area.right - area.left - s(150)) / 2;
    const int top = area.top + (area.bottom - area.top - s(74)) / 2;
    text(dc, {left, top, left + s(150), top + s(32)}, headline, headFont,
         shade(RGB(0, 0, 255), disabled));
    text(dc, {left, top + s(34), left + s(150), top + s(53)}, line1, lineFont,
         shade(RGB(255, 0, 0), disabled));
    text(dc, {left, top + s(54), left + s(150), top + s(73)}, line2, lineFont,
         shade(RGB(255, 0, 0), disabled));
}

void drawLanguageMark(HDC dc, const RECT &area, const wchar_t *characters, HFONT font,
                      bool disabled)
{
    text(dc, area, characters, font, shade(RGB(255, 0, 0), disabled));
}

void drawLamp(HDC dc, const RECT &area, COLORREF colour)
{
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    const int side = (width < height ? width : height) - 1;
    const int left = area.left + (width - side) / 2;
    const int top = area.top + (height - side) / 2;
    ellipse(dc, left, top, left + side + 1, top + side + 1, RGB(0, 0, 0), colour);
}

} // namespace qmr::pictures
