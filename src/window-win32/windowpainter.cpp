#include "windowpainter.h"

#include "pictures.h"
#include "wintext.h"

#include <algorithm>
#include <initializer_list>

namespace qmr {

namespace {

const COLORREF Yellow = RGB(255, 255, 0);
const COLORREF Red = RGB(255, 0, 0);
const COLORREF White = RGB(255, 255, 255);
const COLORREF Purple = RGB(128, 0, 128);

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

// The window's base face as its layout names it, where the system has it.
const wchar_t *baseFace()
{
    static const wchar_t *const face =
        firstFont({L"MS Sans Serif", L"Microsoft Sans Serif", L"Tahoma"});
    return face;
}

const wchar_t *footerFace()
{
    static const wchar_t *const face = firstFont({L"Microsoft Sans Serif", L"Tahoma"});
    return face;
}

// A face with the Chinese characters of both scripts: Windows' own where present, the Noto
// faces (which Wine takes from the host) otherwise. The base face has no such characters
// and, being a bitmap face, takes no part in font linking.
const wchar_t *chineseFace()
{
    static const wchar_t *const face = firstFont(
        {L"Microsoft YaHei", L"Microsoft JhengHei", L"SimSun", L"MingLiU", L"Noto Sans CJK SC",
         L"Noto Sans CJK TC", L"WenQuanYi Zen Hei", L"Droid Sans Fallback", L"Tahoma"});
    return face;
}

HFONT makeFont(const wchar_t *face, int pixelHeight, bool bold, BYTE charset)
{
    // A negative height is the character height: 16 pixels is 12 points at 96 dpi.
    return CreateFontW(-pixelHeight, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                       charset, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, face);
}

HFONT makeFont(const wchar_t *face, FontRole role, BYTE charset)
{
    const FontSpec spec = fontSpec(role);
    return makeFont(face, spec.pixelHeight, spec.bold, charset);
}

COLORREF foreground(ColourRole role)
{
    switch (role) {
    case ColourRole::Value:
        return Yellow;
    case ColourRole::Message:
    case ColourRole::Footer:
        return White;
    case ColourRole::RedText:
        return Red;
    case ColourRole::Face:
        break;
    }
    return GetSysColor(COLOR_BTNTEXT);
}

// The box of the first control that lies inside this one, if any.
const ControlSpec *firstChild(Control id)
{
    for (const ControlSpec &spec : formInventory())
        if (spec.parent == id)
            return &spec;
    return nullptr;
}

} // namespace

WindowPainter::WindowPainter()
    : m_fonts(makeFonts(false)), m_highlight(CreateSolidBrush(GetSysColor(COLOR_HIGHLIGHT))),
      m_caption(CreateSolidBrush(GetSysColor(COLOR_ACTIVECAPTION))),
      m_purple(CreateSolidBrush(Purple)), m_face(GetSysColorBrush(COLOR_BTNFACE))
{
}

WindowPainter::Fonts WindowPainter::makeFonts(bool chinese)
{
    const wchar_t *face = chinese ? chineseFace() : baseFace();
    const BYTE charset =
        chinese || lstrcmpW(face, L"MS Sans Serif") != 0 ? DEFAULT_CHARSET : ANSI_CHARSET;
    Fonts fonts;
    fonts.base.reset(makeFont(face, FontRole::Base, charset));
    fonts.label.reset(makeFont(face, FontRole::Label, charset));
    fonts.page.reset(makeFont(face, FontRole::Page, charset));
    fonts.footer.reset(
        makeFont(chinese ? chineseFace() : footerFace(), FontRole::Footer, DEFAULT_CHARSET));
    // The pictures are drawn large; a scalable face keeps them smooth.
    fonts.headline.reset(makeFont(L"Tahoma", 26, true, DEFAULT_CHARSET));
    fonts.pictureLine.reset(makeFont(L"Tahoma", 15, true, DEFAULT_CHARSET));
    fonts.mark.reset(makeFont(chineseFace(), 16, false, DEFAULT_CHARSET));
    return fonts;
}

bool WindowPainter::setScript(Script script)
{
    // Both Chinese scripts are written in the one face that has the characters of both.
    const bool chinese = script != Script::Latin;
    if (chinese == m_chinese)
        return false;
    m_fonts = makeFonts(chinese);
    m_chinese = chinese;
    return true;
}

HFONT WindowPainter::font(FontRole role) const
{
    switch (role) {
    case FontRole::Label:
        return m_fonts.label.get();
    case FontRole::Page:
        return m_fonts.page.get();
    case FontRole::Footer:
        return m_fonts.footer.get();
    case FontRole::Base:
        break;
    }
    return m_fonts.base.get();
}

COLORREF WindowPainter::background(ColourRole role)
{
    switch (role) {
    case ColourRole::Value:
        return GetSysColor(COLOR_HIGHLIGHT);
    case ColourRole::Message:
        return GetSysColor(COLOR_ACTIVECAPTION);
    case ColourRole::Footer:
        return Purple;
    case ColourRole::Face:
    case ColourRole::RedText:
        break;
    }
    return GetSysColor(COLOR_BTNFACE);
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

void WindowPainter::drawItem(const DRAWITEMSTRUCT &item, const ControlSpec &spec) const
{
    switch (item.CtlType) {
    case ODT_STATIC:
        drawPanel(item, spec);
        break;
    case ODT_BUTTON:
        drawButton(item, spec);
        break;
    case ODT_COMBOBOX:
        drawListItem(item, spec);
        break;
    default:
        break;
    }
}

void WindowPainter::drawPanel(const DRAWITEMSTRUCT &item, const ControlSpec &spec) const
{
    HDC dc = item.hDC;
    RECT box = item.rcItem;
    FillRect(dc, &box, brush(spec.colour));
    // A page shows only its face; what lies on it is drawn by its own controls.
    if (spec.kind == ControlKind::Page)
        return;
    // A lowered bevel inside the border; the message line's is the deeper one.
    const bool message = spec.colour == ColourRole::Message;
    DrawEdge(dc, &box, message ? EDGE_SUNKEN : BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
    const std::wstring text = windowText(item.hwndItem);
    HGDIOBJ previous = SelectObject(dc, font(spec.font));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, foreground(spec.colour));
    UINT format = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;
    if (message) {
        // The text keeps clear of the lamp at the right, and wraps when it is long.
        if (const ControlSpec *lamp = firstChild(spec.id))
            box.right = lamp->box.x - 2;
        box.left += 2;
        RECT measured = box;
        DrawTextW(dc, text.c_str(), int(text.size()), &measured,
                  DT_CENTER | DT_WORDBREAK | DT_NOPREFIX | DT_CALCRECT);
        const int height = measured.bottom - measured.top;
        box.top += std::max<int>(0, (box.bottom - box.top - height) / 2);
        format = DT_CENTER | DT_WORDBREAK | DT_NOPREFIX;
    }
    DrawTextW(dc, text.c_str(), int(text.size()), &box, format);
    SelectObject(dc, previous);
}

void WindowPainter::drawButton(const DRAWITEMSTRUCT &item, const ControlSpec &spec) const
{
    HDC dc = item.hDC;
    RECT box = item.rcItem;
    const bool pushed = item.itemState & ODS_SELECTED;
    if (spec.id == DefaultButton) {
        FrameRect(dc, &box, GetSysColorBrush(COLOR_WINDOWFRAME));
        InflateRect(&box, -1, -1);
    }
    DrawFrameControl(dc, &box, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));
    RECT content = box;
    InflateRect(&content, -3, -3);
    if (pushed)
        OffsetRect(&content, 1, 1);
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ previous = SelectObject(dc, font(spec.font));
    drawButtonContent(dc, content, spec, windowText(item.hwndItem), item.itemState & ODS_DISABLED);
    SelectObject(dc, previous);
    if (item.itemState & ODS_FOCUS) {
        RECT focus = box;
        InflateRect(&focus, -4, -4);
        DrawFocusRect(dc, &focus);
    }
}

void WindowPainter::drawButtonContent(HDC dc, const RECT &content, const ControlSpec &spec,
                                      const std::wstring &text, bool disabled) const
{
    const UINT line = DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;
    const COLORREF textColour = disabled ? GetSysColor(COLOR_GRAYTEXT) : foreground(spec.colour);
    switch (spec.picture) {
    case Picture::None: {
        RECT label = content;
        SetTextColor(dc, textColour);
        DrawTextW(dc, text.c_str(), int(text.size()), &label, DT_CENTER | line);
        break;
    }
    case Picture::QuickSetting: {
        RECT picture{content.left, content.top + 2, content.right, content.top + 82};
        const QuickPicture texts = quickPicture(spec.id);
        pictures::drawQuickSetting(dc, picture, widen(texts.headline).c_str(),
                                   widen(texts.line1).c_str(), widen(texts.line2).c_str(),
                                   m_fonts.headline.get(), m_fonts.pictureLine.get(), disabled);
        RECT label{content.left, content.top + 82, content.right, content.bottom};
        SetTextColor(dc, textColour);
        DrawTextW(dc, text.c_str(), int(text.size()), &label, DT_CENTER | line);
        break;
    }
    case Picture::LanguageMark:
        pictures::drawLanguageMark(dc, content, text.c_str(), m_fonts.mark.get(), disabled);
        break;
    default: {
        // An icon left of the caption, the two centred together.
        SIZE extent{};
        GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &extent);
        const int gap = 6;
        const int width = pictures::IconSide + gap + extent.cx;
        const int left = std::max<int>(content.left, (content.left + content.right - width) / 2);
        const int middle = (content.top + content.bottom) / 2;
        pictures::drawIcon(dc, spec.picture, left, middle - pictures::IconSide / 2, disabled);
        RECT label{left + pictures::IconSide + gap, content.top, content.right, content.bottom};
        SetTextColor(dc, textColour);
        DrawTextW(dc, text.c_str(), int(text.size()), &label, DT_LEFT | line);
        break;
    }
    }
}

void WindowPainter::drawListItem(const DRAWITEMSTRUCT &item, const ControlSpec &spec) const
{
    HDC dc = item.hDC;
    RECT box = item.rcItem;
    const bool field = item.itemState & ODS_COMBOBOXEDIT;
    const bool chosen = !field && (item.itemState & ODS_SELECTED);
    // In the open list the chosen line is shown inverted, so it stands out from the others.
    const Brush inverted(chosen ? CreateSolidBrush(foreground(spec.colour)) : nullptr);
    FillRect(dc, &box, chosen ? inverted.get() : brush(spec.colour));
    if (item.itemID != UINT(-1)) {
        const auto length =
            std::max<LRESULT>(SendMessageW(item.hwndItem, CB_GETLBTEXTLEN, item.itemID, 0), 0);
        std::wstring text(std::size_t(length) + 1, L'\0');
        SendMessageW(item.hwndItem, CB_GETLBTEXT, item.itemID,
                     reinterpret_cast<LPARAM>(text.data()));
        text.resize(std::size_t(length));
        HGDIOBJ previous = SelectObject(dc, font(spec.font));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, (item.itemState & ODS_DISABLED) ? GetSysColor(COLOR_GRAYTEXT)
                         : chosen                        ? background(spec.colour)
                                                         : foreground(spec.colour));
        RECT label = box;
        label.left += 3;
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

void WindowPainter::paintLamp(HWND lamp, const ControlSpec &spec, COLORREF colour)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(lamp, &paint);
    RECT area{};
    GetClientRect(lamp, &area);
    // The lamp sits on its panel and shares its background.
    const Brush surface(CreateSolidBrush(background(spec.colour)));
    FillRect(dc, &area, surface.get());
    pictures::drawLamp(dc, area, colour);
    EndPaint(lamp, &paint);
}

} // namespace qmr
