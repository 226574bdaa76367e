#pragma once

#include "form/inventory.h"

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

namespace qmr {

// The look of the window: the fonts of each language's script, the brushes of the colour
// roles, and the painting of every owner-drawn control from its inventory entry. It only
// paints what the controls hold (their window texts, selections and states).
class WindowPainter
{
public:
    // The rows of an open drop-down list, at 96 DPI.
    static constexpr int ListItemHeight = 20;

    WindowPainter();
    WindowPainter(const WindowPainter &) = delete;
    WindowPainter &operator=(const WindowPainter &) = delete;

    // Makes the fonts for a script's captions; false when its faces are those in use already.
    bool setScript(Script script);
    // Makes the fonts and lengths for a monitor's DPI; false when it is the one in use.
    bool setDpi(int dpi);
    int dpi() const { return m_dpi; }
    // A length of the 96-DPI layout at the DPI in use.
    int scale(int pixels) const;
    int listItemHeight() const { return scale(ListItemHeight); }
    // The font a control's text is drawn in: its role's in the face of the language's script
    // where its caption is translated, in the Latin face where it never is (the IDs, the
    // readers' data, the line settings, "English"); the language buttons' characters in their
    // own script's face, as large as the button holds them.
    HFONT captionFont(const ControlSpec &entry) const;
    // Where a control's caption is drawn within its client area: the bevel, the icon beside it
    // and the lamp taken off. The caption is whole when its text fits there, on one line (the
    // message line wraps its text).
    RECT captionRoom(const ControlSpec &entry, const RECT &client) const;
    HBRUSH faceBrush() const { return m_face; }
    // The background a control of the role is drawn on.
    static COLORREF background(ColourRole role);

    void drawItem(const DRAWITEMSTRUCT &item, const ControlSpec &entry) const;
    static COLORREF lampColour(LampColour colour);
    // The round lamp on its panel's background, in the colour it holds.
    static void paintLamp(HWND lamp, const ControlSpec &entry, COLORREF colour);

private:
    struct GdiDeleter
    {
        void operator()(HGDIOBJ object) const { DeleteObject(object); }
    };
    using Font = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiDeleter>;
    using Brush = std::unique_ptr<std::remove_pointer_t<HBRUSH>, GdiDeleter>;

    struct RoleFonts
    {
        Font base;   // FontRole::Base
        Font label;  // FontRole::Label
        Font page;   // FontRole::Page
        Font footer; // FontRole::Footer
    };
    struct Fonts
    {
        RoleFonts latin;  // the captions never translated
        RoleFonts script; // the translated captions, in a face of the language's script
        Font headline;    // 26 px bold: the headline of the quick-setting pictures
        Font pictureLine; // 15 px bold: their two lines
        Font markGB;      // btnGB's characters, in a Simplified Chinese face
        Font markBIG5;    // btnBIG5's characters, in a Traditional Chinese face
    };

    static RoleFonts makeRoleFonts(Script script, int dpi);
    static Fonts makeFonts(Script script, int dpi);
    static HFONT roleFont(const RoleFonts &fonts, FontRole role);
    HBRUSH brush(ColourRole role) const;
    void drawPanel(const DRAWITEMSTRUCT &item, const ControlSpec &entry) const;
    void drawButton(const DRAWITEMSTRUCT &item, const ControlSpec &entry) const;
    // content: inside the bevel; room: where the caption goes (see captionRoom).
    void drawButtonContent(HDC dc, const RECT &content, RECT room, const ControlSpec &entry,
                           const std::wstring &text, bool disabled) const;
    void drawListItem(const DRAWITEMSTRUCT &item, const ControlSpec &entry) const;

    Script m_script = Script::Latin;
    int m_dpi;
    Fonts m_fonts;
    Brush m_highlight;
    Brush m_caption;
    Brush m_purple;
    HBRUSH m_face; // the system's, not to be deleted
};

} // namespace qmr
