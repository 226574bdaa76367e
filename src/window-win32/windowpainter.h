#pragma once

#include "form/inventory.h"

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

namespace qmr {

// The button Enter presses when no button has the focus: it carries the dark outer frame.

// The look of the window: the fonts of each language's script, the brushes of the colour
// roles, and the painting of every owner-drawn control from its inventory entry. It only
// paints what the controls hold (their window texts, selections and states).
class WindowPainter
{
public:
    // The rows of an open drop-down list.
    static constexpr int ListItemHeight = 20;

    WindowPainter();
    WindowPainter(const WindowPainter &) = delete;
    WindowPainter &operator=(const WindowPainter &) = delete;

    // Makes the fonts for a script's captions; false when its faces are those in use already.
    bool setScript(Script script);
    HFONT font(FontRole role) const;
    HBRUSH faceBrush() const { return m_face; }
    // The background a control of the role is drawn on.
    static COLORREF background(ColourRole role);

    void drawItem(const DRAWITEMSTRUCT &item, const ControlSpec &spec) const;
    static COLORREF lampColour(LampColour colour);
    // The round lamp on its panel's background, in the colour it holds.
    static void paintLamp(HWND lamp, const ControlSpec &spec, COLORREF colour);

private:
    struct GdiDeleter
    {
        void operator()(HGDIOBJ object) const { DeleteObject(object); }
    };
    using Font = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiDeleter>;
    using Brush = std::unique_ptr<std::remove_pointer_t<HBRUSH>, GdiDeleter>;

    struct Fonts
    {
        Font base;        // FontRole::Base
        Font label;       // FontRole::Label
        Font page;        // FontRole::Page
        Font footer;      // FontRole::Footer
        Font headline;    // 26 px bold: the headline of the quick-setting pictures
        Font pictureLine; // 15 px bold: their two lines
        Font mark;        // 16 px regular CJK: the language buttons' characters
    };

    static Fonts makeFonts(bool chinese);
    HBRUSH brush(ColourRole role) const;
    void drawPanel(const DRAWITEMSTRUCT &item, const ControlSpec &spec) const;
    void drawButton(const DRAWITEMSTRUCT &item, const ControlSpec &spec) const;
    void drawButtonContent(HDC dc, const RECT &content, const ControlSpec &spec,
                           const std::wstring &text, bool disabled) const;
    void drawListItem(const DRAWITEMSTRUCT &item, const ControlSpec &spec) const;

    Fonts m_fonts;
    bool m_chinese = false;
    Brush m_highlight;
    Brush m_caption;
    Brush m_purple;
    HBRUSH m_face; // the system's, not to be deleted
};

} // namespace qmr
