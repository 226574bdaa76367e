#include "windowpainter.h"

#include "dpiscale.h"
#include "pictures.h"
#include "wintext.h"

#include <algorithm>
#include <initializer_list>

namespace qmr {

namespace {

const COLORREF Yellow = RGB(255, 255, 0);
const COLORREF Red = RGB(255, 0, 0);

COLORREF win32Colour(const Colour &colour)
{
    switch (colour.system) {
    case SystemColour::ButtonFace:
        return GetSysColor(COLOR_BTNFACE);
    case SystemColour::ButtonText:
        return GetSysColor(COLOR_BTNTEXT);
    case SystemColour::Highlight:
        return GetSysColor(COLOR_HIGHLIGHT);
    case SystemColour::ActiveCaption:
        return GetSysColor(COLOR_ACTIVECAPTION);
    case SystemColour::Fixed:
        break;
    }
    return RGB(colour.red, colour.green, colour.blue);
}

// At 96 DPI: the room a quick-setting button's picture takes above its caption, and the gap
// between an icon and its caption.
constexpr int QuickPictureHeight = 82;
constexpr int IconGap = 6;
// A push button's content lies inside its bevel (two pixels at every DPI) and one more.
constexpr int ButtonInset = 3;

int CALLBACK noteFace(const LOGFONTW *, const TEXTMETRICW *, DWORD, LPARAM found)
{
    *reinterpret_cast<bool *>(found) = true;
    return 0;
}

bool fontExists(const wchar_t *face)
{
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(wanted.lfFaceName, face, LF_FACESIZE);
    bool found = false;
    HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(screen, &wanted, noteFace, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    return found;
}

const wchar_t *firstFont(std::initializer_list<const wchar_t *> faces)
{
    for (const wchar_t *face : faces)
        if (fontExists(face))
            return face;
    return *(faces.end() - 1);
}

// The window's base face as its layout names it, where the system has it. That face is a
// bitmap face with a few sizes made for 96 DPI; at any other DPI the scalable face of the
// same design takes its place, so the captions have the height they are scaled to.
const wchar_t *baseFace(int dpi)
{
    static const wchar_t *const layoutFace =
        firstFont({L"MS Sans Serif", L"Microsoft Sans Serif", L"Tahoma"});
    static const wchar_t *const scalableFace = firstFont({L"Microsoft Sans Serif", L"Tahoma"});
    return dpi == BaseDpi ? layoutFace : scalableFace;
}

const wchar_t *footerFace()
{
    static const wchar_t *const face = firstFont({L"Microsoft Sans Serif", L"Tahoma"});
    return face;
}

// A face with the characters of a Chinese script in the shapes its readers expect: Windows'
// own where present, the Noto faces (which Wine takes from the host) otherwise, and faces
// with both scripts last. The base face has no such characters and, being a bitmap face,
// takes no part in font linking.
const wchar_t *chineseFace(Script script)
{
    static const wchar_t *const simplified =
        firstFont({L"Microsoft YaHei", L"SimSun", L"NSimSun", L"Noto Sans CJK SC",
                   L"Source Han Sans SC", L"WenQuanYi Zen Hei", L"Droid Sans Fallback", L"Tahoma"});
    static const wchar_t *const traditional =
        firstFont({L"Microsoft JhengHei", L"MingLiU", L"PMingLiU", L"Noto Sans CJK TC",
                   L"Source Han Sans TC", L"WenQuanYi Zen Hei", L"Droid Sans Fallback", L"Tahoma"});
    return script == Script::TraditionalChinese ? traditional : simplified;
}

HFONT makeFont(const wchar_t *face, int pixelHeight, bool bold, BYTE charset)
{
    // pixelHeight is the character height (16 pixels is 12 points at 96 dpi); a negative one
    // is the height of the whole cell, the face's leading included.
    return CreateFontW(-pixelHeight, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                       charset, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, face);
}

HFONT makeFont(const wchar_t *face, FontRole role, BYTE charset, int dpi)
{
    const FontSpec font = fontSpec(role);
    return makeFont(face, scaled(font.pixelHeight, dpi), font.bold, charset);
}

COLORREF foreground(ColourRole role)
{
    return win32Colour(colourSpec(role).text);
}

// The box of the first control that lies inside this one, if any.
const ControlSpec *firstChild(Control id)
{
    for (const ControlSpec &entry : formInventory())
        if (entry.parent == id)
            return &entry;
    return nullptr;
}

} // namespace

WindowPainter::WindowPainter()
    : m_dpi(BaseDpi), m_fonts(makeFonts(m_script, m_dpi)),
      m_highlight(CreateSolidBrush(GetSysColor(COLOR_HIGHLIGHT))),
      m_caption(CreateSolidBrush(GetSysColor(COLOR_ACTIVECAPTION))),
      m_purple(CreateSolidBrush(background(ColourRole::Footer))),
      m_face(GetSysColorBrush(COLOR_BTNFACE))
{
}

WindowPainter::RoleFonts WindowPainter::makeRoleFonts(Script script, int dpi)
{
    const bool chinese = script != Script::Latin;
    const wchar_t *face = chinese ? chineseFace(script) : baseFace(dpi);
    const BYTE charset =
        chinese || lstrcmpW(face, L"MS Sans Serif") != 0 ? DEFAULT_CHARSET : ANSI_CHARSET;
    RoleFonts fonts;
    fonts.base.reset(makeFont(face, FontRole::Base, charset, dpi));
    fonts.label.reset(makeFont(face, FontRole::Label, charset, dpi));
    fonts.page.reset(makeFont(face, FontRole::Page, charset, dpi));
    fonts.footer.reset(
        makeFont(chinese ? face : footerFace(), FontRole::Footer, DEFAULT_CHARSET, dpi));
    return fonts;
}

WindowPainter::Fonts WindowPainter::makeFonts(Script script, int dpi)
{
    Fonts fonts;
    fonts.latin = makeRoleFonts(Script::Latin, dpi);
    fonts.script = makeRoleFonts(script, dpi);
    // The pictures are drawn large; a scalable face keeps them smooth.
    fonts.headline.reset(makeFont(L"Tahoma", scaled(26, dpi), true, DEFAULT_CHARSET));
    fonts.pictureLine.reset(makeFont(L"Tahoma", scaled(15, dpi), true, DEFAULT_CHARSET));
    // The Chinese faces have a deep leading above and below their characters (Noto Sans CJK's
    // cell is 1.45 times its characters' height, Microsoft YaHei's 1.32): at 16 px the cell
    // would stand out of a language button. The marks are made by their cell, the height of
    // the room inside the button's bevel, so they fill the button and are never cut.
    const int markCell = scaled(controlSpec(Control::btnGB).box.height, dpi) - 2 * ButtonInset;
    fonts.markGB.reset(
        makeFont(chineseFace(Script::SimplifiedChinese), -markCell, false, DEFAULT_CHARSET));
    fonts.markBIG5.reset(
        makeFont(chineseFace(Script::TraditionalChinese), -markCell, false, DEFAULT_CHARSET));
    return fonts;
}

bool WindowPainter::setScript(Script script)
{
    if (script == m_script)
        return false;
    m_fonts = makeFonts(script, m_dpi);
    m_script = script;
    return true;
}

bool WindowPainter::setDpi(int dpi)
{
    if (dpi == m_dpi)
        return false;
    m_fonts = makeFonts(m_script, dpi);
    m_dpi = dpi;
    return true;
}

int WindowPainter::scale(int pixels) const
{
    return scaled(pixels, m_dpi);
}

HFONT WindowPainter::roleFont(const RoleFonts &fonts, FontRole role)
{
    switch (role) {
    case FontRole::Label:
        return fonts.label.get();
    case FontRole::Page:
        return fonts.page.get();
    case FontRole::Footer:
        return fonts.footer.get();
    case FontRole::Base:
        break;
    }
    return fonts.base.get();
}

HFONT WindowPainter::captionFont(const ControlSpec &entry) const
{
    if (entry.picture == Picture::LanguageMark)
        return entry.id == Control::btnBIG5 ? m_fonts.markBIG5.get() : m_fonts.markGB.get();
    // A page control draws its pages' captions on its tabs.
    const bool translated = entry.caption.translated || entry.kind == ControlKind::PageControl;
    return roleFont(translated ? m_fonts.script : m_fonts.latin, entry.font);
}

RECT WindowPainter::captionRoom(const ControlSpec &entry, const RECT &client) const
{
    // The bevels are the system's and as wide at every DPI; what the painter adds is scaled.
    RECT room = client;
    switch (entry.kind) {
    case ControlKind::Panel:
        if (entry.colour != ColourRole::Message) {
            InflateRect(&room, -1, -1); // BDR_SUNKENOUTER
            break;
        }
        // The deeper bevel; the text keeps clear of the lamp at the right.
        InflateRect(&room, -2, -2); // EDGE_SUNKEN
        room.left += scale(2);
        if (const ControlSpec *lamp = firstChild(entry.id))
            room.right = scale(lamp->box.x) - scale(2);
        break;
    case ControlKind::Button:
        // The default button's dark frame, the push button's bevel.
        if (entry.id == DefaultButton)
            InflateRect(&room, -1, -1);
        InflateRect(&room, -ButtonInset, -ButtonInset);
        if (entry.picture == Picture::QuickSetting)
            room.top += scale(QuickPictureHeight);
        else if (entry.picture != Picture::None && entry.picture != Picture::LanguageMark)
            room.left += scale(pictures::IconSide + IconGap);
        break;
    default:
        break;
    }
    return room;
}

COLORREF WindowPainter::background(ColourRole role)
{
    return win32Colour(colourSpec(role).background);
}

HBRUSH WindowPainter::brush(ColourRole role) const
{
    switch (role) {
    case ColourRole::Value:
        return m_highlight.get();
    case ColourRole::Message:
        return m_caption.get();
    case ColourRole::Footer:
        return m_purple.get();
    case ColourRole::Face:
    case ColourRole::RedText:
        break;
    }
    return m_face;
}

void WindowPainter::drawItem(const DRAWITEMSTRUCT &item, const ControlSpec &entry) const
{
    switch (item.CtlType) {
    case ODT_STATIC:
        drawPanel(item, entry);
        break;
    case ODT_BUTTON:
        drawButton(item, entry);
        break;
    case ODT_COMBOBOX:
        drawListItem(item, entry);
        break;
    default:
        break;
    }
}

void WindowPainter::drawPanel(const DRAWITEMSTRUCT &item, const ControlSpec &entry) const
{
    HDC dc = item.hDC;
    RECT box = item.rcItem;
    FillRect(dc, &box, brush(entry.colour));
    // A page shows only its face; what lies on it is drawn by its own controls.
    if (entry.kind == ControlKind::Page)
        return;
    // A lowered bevel inside the border; the message line's is the deeper one.
    const bool message = entry.colour == ColourRole::Message;
    DrawEdge(dc, &box, message ? EDGE_SUNKEN : BDR_SUNKENOUTER, BF_RECT);
    RECT room = captionRoom(entry, item.rcItem);
    const std::wstring text = windowText(item.hwndItem);
    HGDIOBJ previous = SelectObject(dc, captionFont(entry));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, foreground(entry.colour));
    UINT format = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;
    if (message) {
        // A long message wraps; the lines are centred together.
        RECT measured = room;
        DrawTextW(dc, text.c_str(), int(text.size()), &measured,
                  DT_CENTER | DT_WORDBREAK | DT_NOPREFIX | DT_CALCRECT);
        const int height = measured.bottom - measured.top;
        room.top += std::max<int>(0, (room.bottom - room.top - height) / 2);
        format = DT_CENTER | DT_WORDBREAK | DT_NOPREFIX;
    }
    DrawTextW(dc, text.c_str(), int(text.size()), &room, format);
    SelectObject(dc, previous);
}

void WindowPainter::drawButton(const DRAWITEMSTRUCT &item, const ControlSpec &entry) const
{
    HDC dc = item.hDC;
    RECT box = item.rcItem;
    const bool pushed = item.itemState & ODS_SELECTED;
    if (entry.id == DefaultButton) {
        FrameRect(dc, &box, GetSysColorBrush(COLOR_WINDOWFRAME));
        InflateRect(&box, -1, -1);
    }
    DrawFrameControl(dc, &box, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));
    RECT content = box;
    InflateRect(&content, -ButtonInset, -ButtonInset);
    RECT room = captionRoom(entry, item.rcItem);
    if (pushed) {
        OffsetRect(&content, 1, 1);
        OffsetRect(&room, 1, 1);
    }
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ previous = SelectObject(dc, captionFont(entry));
    drawButtonContent(dc, content, room, entry, windowText(item.hwndItem),
                      item.itemState & ODS_DISABLED);
    SelectObject(dc, previous);
    if (item.itemState & ODS_FOCUS) {
        RECT focus = box;
        InflateRect(&focus, -4, -4);
        DrawFocusRect(dc, &focus);
    }
}

void WindowPainter::drawButtonContent(HDC dc, const RECT &content, RECT room,
                                      const ControlSpec &entry, const std::wstring &text,
                                      bool disabled) const
{
    const UINT line = DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;
    const COLORREF textColour = disabled ? GetSysColor(COLOR_GRAYTEXT) : foreground(entry.colour);
    switch (entry.picture) {
    case Picture::None:
        SetTextColor(dc, textColour);
        DrawTextW(dc, text.c_str(), int(text.size()), &room, DT_CENTER | line);
        break;
    case Picture::QuickSetting: {
        RECT picture{content.left, content.top + scale(2), content.right, room.top};
        const QuickPicture texts = quickPicture(entry.id);
        pictures::drawQuickSetting(dc, picture, widen(texts.headline).c_str(),
                                   widen(texts.line1).c_str(), widen(texts.line2).c_str(),
                                   m_fonts.headline.get(), m_fonts.pictureLine.get(), m_dpi,
                                   disabled);
        SetTextColor(dc, textColour);
        DrawTextW(dc, text.c_str(), int(text.size()), &room, DT_CENTER | line);
        break;
    }
    case Picture::LanguageMark:
        pictures::drawLanguageMark(dc, room, text.c_str(), captionFont(entry), disabled);
        break;
    default: {
        // An icon left of the caption, the two centred together.
        SIZE extent{};
        GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &extent);
        const int side = scale(pictures::IconSide);
        const int gap = scale(IconGap);
        const int width = side + gap + extent.cx;
        const int left = std::max<int>(content.left, (content.left + content.right - width) / 2);
        const int middle = (content.top + content.bottom) / 2;
        pictures::drawIcon(dc, entry.picture, left, middle - side / 2, side, disabled);
        RECT label{left + side + gap, room.top, room.right, room.bottom};
        SetTextColor(dc, textColour);
        DrawTextW(dc, text.c_str(), int(text.size()), &label, DT_LEFT | line);
        break;
    }
    }
}

void WindowPainter::drawListItem(const DRAWITEMSTRUCT &item, const ControlSpec &entry) const
{
    HDC dc = item.hDC;
    RECT box = item.rcItem;
    const bool field = item.itemState & ODS_COMBOBOXEDIT;
    const bool chosen = !field && (item.itemState & ODS_SELECTED);
    // In the open list the chosen line is shown inverted, so it stands out from the others.
    const Brush inverted(chosen ? CreateSolidBrush(foreground(entry.colour)) : nullptr);
    FillRect(dc, &box, chosen ? inverted.get() : brush(entry.colour));
    if (item.itemID != UINT(-1)) {
        const auto length =
            std::max<LRESULT>(SendMessageW(item.hwndItem, CB_GETLBTEXTLEN, item.itemID, 0), 0);
        std::wstring text(std::size_t(length) + 1, L'\0');
        SendMessageW(item.hwndItem, CB_GETLBTEXT, item.itemID,
                     reinterpret_cast<LPARAM>(text.data()));
        text.resize(std::size_t(length));
        HGDIOBJ previous = SelectObject(dc, captionFont(entry));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, (item.itemState & ODS_DISABLED) ? GetSysColor(COLOR_GRAYTEXT)
                         : chosen                        ? background(entry.colour)
                                                         : foreground(entry.colour));
        RECT label = box;
        label.left += scale(3);
        DrawTextW(dc, text.c_str(), int(text.size()), &label,
                  DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, previous);
    }
    if (field && (item.itemState & ODS_FOCUS))
        DrawFocusRect(dc, &box);
}

COLORREF WindowPainter::lampColour(LampColour colour)
{
    return colour == LampColour::Yellow ? Yellow : Red;
}

void WindowPainter::paintLamp(HWND lamp, const ControlSpec &entry, COLORREF colour)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(lamp, &paint);
    RECT area{};
    GetClientRect(lamp, &area);
    // The lamp sits on its panel and shares its background.
    const Brush surface(CreateSolidBrush(background(entry.colour)));
    FillRect(dc, &area, surface.get());
    pictures::drawLamp(dc, area, colour);
    EndPaint(lamp, &paint);
}

} // namespace qmr
