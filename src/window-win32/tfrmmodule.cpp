#include "tfrmmodule.h"

#include "link/linedefinition.h"
#include "operations/processmode.h"
#include "operations/quicksettings.h"
#include "operations/scan.h"
#include "operations/setbaudrate.h"
#include "operations/setmode.h"
#include "operations/setmoduleid.h"
#include "pictures.h"
#include "settings/settingsstore.h"
#include "wintext.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <initializer_list>

namespace qmr {

namespace {

constexpr int IdMinimum = 1;
constexpr int IdMaximum = 99;
constexpr int IdPageStep = 10;
constexpr int ListHeight = 28; // the closed drop-down lists
constexpr int ListItemHeight = 20;
constexpr int ProgramIconId = 1;

const COLORREF Yellow = RGB(255, 255, 0);
const COLORREF Red = RGB(255, 0, 0);
const COLORREF White = RGB(255, 255, 255);
const COLORREF Purple = RGB(128, 0, 128);

// How each owner-drawn button shows its content.
enum class ButtonLook
{
    IconAndText,  // an icon left of the caption
    PictureAbove, // the tall quick-setting buttons
    RedText,      // btnEng
    LanguageMark, // btnGB, btnBIG5: the caption drawn as a red picture
};

struct ButtonInfo
{
    ButtonLook look;
    pictures::Icon icon;
};

ButtonInfo buttonInfo(int id)
{
    switch (id) {
    case ids::btnScan:
        return {ButtonLook::IconAndText, pictures::Icon::Magnifier};
    case ids::btnID:
        return {ButtonLook::IconAndText, pictures::Icon::IdCard};
    case ids::btnBaudRate:
        return {ButtonLook::IconAndText, pictures::Icon::LineSetting};
    case ids::btnMode:
        return {ButtonLook::IconAndText, pictures::Icon::ModeSwitch};
    case ids::btnProcess:
        return {ButtonLook::IconAndText, pictures::Icon::ProgressBar};
    case ids::btnExit:
        return {ButtonLook::IconAndText, pictures::Icon::CloseCross};
    case ids::btnFactory:
    case ids::btnOne:
        return {ButtonLook::PictureAbove, pictures::Icon::Magnifier};
    case ids::btnEng:
        return {ButtonLook::RedText, pictures::Icon::Magnifier};
    default:
        return {ButtonLook::LanguageMark, pictures::Icon::Magnifier};
    }
}

bool isPushButton(int id)
{
    switch (id) {
    case ids::btnScan:
    case ids::btnID:
    case ids::btnBaudRate:
    case ids::btnMode:
    case ids::btnProcess:
    case ids::btnExit:
    case ids::btnFactory:
    case ids::btnOne:
    case ids::btnEng:
    case ids::btnGB:
    case ids::btnBIG5:
        return true;
    default:
        return false;
    }
}

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

// The program icon (resource 1, see qmrconfig.rc) at a size the system names.
HICON loadProgramIcon(HINSTANCE instance, int sizeMetric)
{
    const int side = GetSystemMetrics(sizeMetric);
    return static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(ProgramIconId), IMAGE_ICON, side, side, 0));
}

std::wstring exceptionText()
{
    try {
        throw;
    } catch (const std::exception &error) {
        return widen(error.what());
    } catch (...) {
        return L"Unknown error";
    }
}

} // namespace

TfrmModule::TfrmModule(Link &link, Clock &clock, SettingsStore &store,
                       const LanguageTable &languages, HINSTANCE instance)
    : m_context{link, clock, m_settings, store, *this}, m_languages(languages),
      m_errorBox([](HWND owner, const std::wstring &text) {
          MessageBoxW(owner, text.c_str(), ProgramName, MB_OK | MB_ICONERROR);
      }),
      m_instance(instance)
{
    for (int row = 0; row < LanguageTable::Rows; ++row)
        for (int language = 0; language < LanguageTable::Languages; ++language)
            m_wideTexts[std::size_t(row * LanguageTable::Languages + language)] =
                widen(languages.text(row, language));
    INITCOMMONCONTROLSEX common{sizeof(common), ICC_TAB_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&common);
    registerClasses(instance);
    m_highlightBrush = CreateSolidBrush(GetSysColor(COLOR_HIGHLIGHT));
    m_captionBrush = CreateSolidBrush(GetSysColor(COLOR_ACTIVECAPTION));
    m_purpleBrush = CreateSolidBrush(Purple);
    m_faceBrush = GetSysColorBrush(COLOR_BTNFACE);
    m_bigIcon = loadProgramIcon(instance, SM_CXICON);
    m_smallIcon = loadProgramIcon(instance, SM_CXSMICON);
    makeFonts(false);
    createWindow();
    createControls();
    FormCreate();
}

TfrmModule::~TfrmModule()
{
    setWaitCursor(false);
    if (m_window && IsWindow(m_window)) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
    freeFonts();
    DeleteObject(m_highlightBrush);
    DeleteObject(m_captionBrush);
    DeleteObject(m_purpleBrush);
    DestroyIcon(m_bigIcon);
    DestroyIcon(m_smallIcon);
}

void TfrmModule::registerClasses(HINSTANCE instance)
{
    WNDCLASSEXW form{};
    form.cbSize = sizeof(form);
    form.lpfnWndProc = &TfrmModule::windowProc;
    form.hInstance = instance;
    form.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    form.lpszClassName = ids::WindowClass;
    RegisterClassExW(&form);

    WNDCLASSEXW lamp{};
    lamp.cbSize = sizeof(lamp);
    lamp.lpfnWndProc = &TfrmModule::lampProc;
    lamp.hInstance = instance;
    lamp.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    lamp.lpszClassName = ids::LampClass;
    RegisterClassExW(&lamp);
}

void TfrmModule::createWindow()
{
    // Single fixed border, system menu, minimise but no maximise.
    // The window does not clip its children: the group box and the page control paint only
    // their frames and leave their insides to the window's background.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, ClientWidth, ClientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    RECT desktop{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &desktop, 0);
    const int x = desktop.left + (desktop.right - desktop.left - width) / 2;
    const int y = desktop.top + (desktop.bottom - desktop.top - height) / 2;
    m_window = CreateWindowExW(0, ids::WindowClass, ProgramName, style, x, y, width, height,
                               nullptr, nullptr, m_instance, this);
    SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_bigIcon));
    SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon));
}

HWND TfrmModule::create(const wchar_t *className, ids::ControlId id, DWORD style, int x, int y,
                        int width, int height, HWND parent, DWORD exStyle)
{
    HWND window =
        CreateWindowExW(exStyle, className, L"", WS_CHILD | WS_VISIBLE | style, x, y, width, height,
                        parent ? parent : m_window,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), m_instance, nullptr);
    m_controls[id] = window;
    SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(m_fonts.base), FALSE);
    return window;
}

HWND TfrmModule::control(ids::ControlId id) const
{
    const auto found = m_controls.find(id);
    return found == m_controls.end() ? nullptr : found->second;
}

void TfrmModule::createControls()
{
    using namespace ids;
    const DWORD clip = WS_CLIPSIBLINGS;
    const DWORD button = WS_TABSTOP | BS_OWNERDRAW | clip;
    const DWORD scroll = WS_TABSTOP | SBS_HORZ | clip;
    const DWORD list =
        WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS | clip;
    const DWORD panel = SS_OWNERDRAW | clip;

    // The controls that take the focus, created in the tab order: Tab follows the order of
    // creation. Everything else comes after them, so the buttons of the quick-setting page
    // lie above the group box and the page control that frame them.
    create(WC_BUTTONW, btnScan, button, 8, 78, 345, 33);
    create(WC_SCROLLBARW, sbID, scroll, 104, 123, 73, 23);
    create(WC_BUTTONW, btnID, button, 8, 150, 345, 33);
    create(WC_COMBOBOXW, cmbBaudRate, list, 168, 192, 161, 28 + 12 * ListItemHeight + 4);
    create(WC_BUTTONW, btnBaudRate, button, 8, 222, 345, 33);
    create(WC_COMBOBOXW, cmbMode, list, 8, 264, 169, 28 + 2 * ListItemHeight + 4);
    create(WC_BUTTONW, btnMode, button, 8, 295, 345, 33);
    create(WC_BUTTONW, btnProcess, button, 8, 368, 345, 33);
    create(WC_BUTTONW, btnExit, button, 360, 368, 193, 33);
    create(WC_BUTTONW, btnFactory, button, 370, 60, 165, 121); // placed on the page below
    create(WC_BUTTONW, btnOne, button, 370, 190, 165, 121);
    create(WC_BUTTONW, btnEng, button, 359, 336, 62, 24);
    create(WC_BUTTONW, btnGB, button, 426, 336, 62, 24);
    create(WC_BUTTONW, btnBIG5, button, 492, 336, 62, 24);
    create(WC_SCROLLBARW, sbID2, scroll, 280, 123, 73, 23);
    create(WC_COMBOBOXW, cmbRS485, list, 184, 264, 171, 28 + 3 * ListItemHeight + 4);
    create(WC_BUTTONW, chkLock, WS_TABSTOP | BS_AUTOCHECKBOX | clip, 336, 196, 17, 17);

    create(WC_STATICW, pnMsg, panel | SS_NOTIFY | WS_CLIPCHILDREN, 8, 4, 345, 40);
    HWND lamp = create(LampClass, shComm, 0, 310, 8, 23, 20, control(pnMsg));
    SetWindowLongPtrW(lamp, GWLP_USERDATA, LONG_PTR(Red));
    SetWindowTextW(lamp, L"red");
    create(WC_STATICW, pnSerial, panel, 8, 48, 169, 28);
    create(WC_STATICW, pnVersion, panel, 184, 48, 169, 28);
    create(WC_STATICW, lblID, SS_RIGHT | SS_NOPREFIX | clip, 8, 125, 57, 22);
    create(WC_STATICW, pnID, panel, 68, 122, 33, 25);
    create(WC_STATICW, lblID2, SS_RIGHT | SS_NOPREFIX | clip, 184, 125, 57, 22);
    create(WC_STATICW, pnID2, panel, 244, 122, 33, 25);
    create(WC_STATICW, lblBaudRate, SS_RIGHT | SS_NOPREFIX | clip, 8, 197, 153, 22);
    create(WC_STATICW, pnQMR1, panel, 8, 336, 169, 28);
    create(WC_STATICW, pnQMR2, panel, 184, 336, 169, 28);
    create(WC_STATICW, tsDefault, panel, 370, 60, 170, 260);
    create(WC_TABCONTROLW, pcDefault, TCS_BUTTONS | TCS_FLATBUTTONS | TCS_FOCUSNEVER | clip,
           360 + 6, 4 + 26, 182, 294);
    create(WC_BUTTONW, gbDefault, BS_GROUPBOX | clip, 360, 4, 193, 325);
    create(WC_STATICW, pnTAVEX, panel, 0, 405, 561, 21);

    for (ControlId bar : {sbID, sbID2}) {
        SCROLLINFO info{
            sizeof(info), SIF_RANGE | SIF_POS | SIF_PAGE, IdMinimum, IdMaximum, 0, IdMinimum, 0};
        SetScrollInfo(control(bar), SB_CTL, &info, TRUE);
    }
    // The language buttons never change. The two Chinese ones show their characters as a red
    // picture, and hold them as their text too, so that a screen reader can name them.
    setCaption(btnEng, std::wstring(L"English"));
    setCaption(btnGB, std::wstring(L"\u7c21\u4f53"));   // 簡体
    setCaption(btnBIG5, std::wstring(L"\u7e41\u9ad4")); // 繁體
    setCaption(pnID, std::wstring(L"__"));
    setCaption(pnID2, std::wstring(L"__"));
    SendMessageW(control(chkLock), BM_SETCHECK, BST_CHECKED, 0);

    for (const char *line : BaudRateTable)
        SendMessageW(control(cmbBaudRate), CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(widen(line).c_str()));
    for (const wchar_t *mode : {L"Two Reader", L"One Reader"})
        SendMessageW(control(cmbMode), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(mode));
    for (const int value : Rs485Values)
        SendMessageW(control(cmbRS485), CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>((L"RS485 " + std::to_wstring(value)).c_str()));
    // The one page of the quick settings; the tab is drawn as a flat button.
    TCITEMW tab{};
    tab.mask = TCIF_TEXT;
    tab.pszText = const_cast<wchar_t *>(L"");
    SendMessageW(control(pcDefault), TCM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&tab));
    SendMessageW(control(pcDefault), WM_SETFONT, reinterpret_cast<WPARAM>(m_fonts.page), FALSE);
    placePage();

    // The message line's detail (the device behind the port and why it failed) as its tooltip.
    m_tooltip =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                        WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, m_window, nullptr, m_instance, nullptr);
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = m_window;
    tool.uId = reinterpret_cast<UINT_PTR>(control(pnMsg));
    tool.lpszText = const_cast<wchar_t *>(L"");
    SendMessageW(m_tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(m_tooltip, TTM_SETMAXTIPWIDTH, 0, 400);

    applyFonts();
}

void TfrmModule::placePage()
{
    // The page is the display area of the page control; the tall buttons sit on it.
    HWND tabs = control(ids::pcDefault);
    RECT page{};
    GetClientRect(tabs, &page);
    SendMessageW(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&page));
    MapWindowPoints(tabs, m_window, reinterpret_cast<POINT *>(&page), 2);
    MoveWindow(control(ids::tsDefault), page.left, page.top, page.right - page.left,
               page.bottom - page.top, FALSE);
    MoveWindow(control(ids::btnFactory), page.left + 4, page.top + 6, 165, 121, FALSE);
    MoveWindow(control(ids::btnOne), page.left + 4, page.top + 134, 165, 121, FALSE);
}

void TfrmModule::makeFonts(bool chinese)
{
    const wchar_t *face = chinese ? chineseFace() : baseFace();
    const BYTE charset =
        chinese || lstrcmpW(face, L"MS Sans Serif") != 0 ? DEFAULT_CHARSET : ANSI_CHARSET;
    m_fonts.base = makeFont(face, 16, true, charset);
    m_fonts.label = makeFont(face, 13, false, charset);
    m_fonts.page = makeFont(face, 16, false, charset);
    m_fonts.footer = makeFont(chinese ? chineseFace() : footerFace(), 11, false, DEFAULT_CHARSET);
    // The pictures are drawn large; a scalable face keeps them smooth.
    m_fonts.headline = makeFont(L"Tahoma", 26, true, DEFAULT_CHARSET);
    m_fonts.pictureLine = makeFont(L"Tahoma", 15, true, DEFAULT_CHARSET);
    m_fonts.mark = makeFont(chineseFace(), 16, false, DEFAULT_CHARSET);
    m_chineseFonts = chinese;
}

void TfrmModule::freeFonts()
{
    for (HFONT font : {m_fonts.base, m_fonts.label, m_fonts.page, m_fonts.footer, m_fonts.headline,
                       m_fonts.pictureLine, m_fonts.mark})
        if (font)
            DeleteObject(font);
    m_fonts = {};
}

void TfrmModule::applyFonts()
{
    using namespace ids;
    for (const auto &[id, window] : m_controls) {
        HFONT font = m_fonts.base;
        switch (id) {
        case lblID:
        case lblID2:
        case lblBaudRate:
        case btnEng:
            font = m_fonts.label;
            break;
        case pcDefault:
            font = m_fonts.page;
            break;
        case pnTAVEX:
            font = m_fonts.footer;
            break;
        default:
            break;
        }
        SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    fitLists();
    placePage();
    // The window does not clip its children, so they are all painted again after it.
    RedrawWindow(m_window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void TfrmModule::fitLists()
{
    // The selection field is as tall as its item height makes it (a new font resets it): set
    // it so the closed list is 28 pixels, whatever border the system draws around it.
    for (ids::ControlId list : {ids::cmbBaudRate, ids::cmbMode, ids::cmbRS485}) {
        HWND combo = control(list);
        int field = ListHeight - 6;
        for (int attempt = 0; attempt < 3; ++attempt) {
            SendMessageW(combo, CB_SETITEMHEIGHT, WPARAM(-1), field);
            RECT box{};
            GetWindowRect(combo, &box);
            if (box.bottom - box.top == ListHeight)
                break;
            field += ListHeight - (box.bottom - box.top);
        }
        SendMessageW(combo, CB_SETITEMHEIGHT, 0, ListItemHeight);
    }
}

int TfrmModule::run(int showCommand)
{
    ShowWindow(m_window, showCommand);
    FormShow();
    UpdateWindow(m_window);
    SetFocus(control(ids::btnScan));
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (preTranslate(message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

bool TfrmModule::preTranslate(const MSG &message)
{
    if (message.message != WM_KEYDOWN || !m_window ||
        (message.hwnd != m_window && !IsChild(m_window, message.hwnd)))
        return false;
    HWND focus = GetFocus();
    if (message.wParam == VK_TAB) {
        if (GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0)
            return false;
        if (HWND next = GetNextDlgTabItem(m_window, focus, GetKeyState(VK_SHIFT) < 0))
            SetFocus(next);
        return true;
    }
    if (message.wParam == VK_RETURN) {
        // An open list takes Enter to close itself.
        const int focusId = focus ? GetDlgCtrlID(focus) : 0;
        const bool list =
            focusId == ids::cmbBaudRate || focusId == ids::cmbMode || focusId == ids::cmbRS485;
        if (list && SendMessageW(focus, CB_GETDROPPEDSTATE, 0, 0))
            return false;
        const int target = focus && IsChild(m_window, focus) && isPushButton(focusId)
                               ? focusId
                               : int(ids::btnScan);
        HWND button = control(ids::ControlId(target));
        onCommand(target, BN_CLICKED, button);
        return true;
    }
    return false;
}

LRESULT CALLBACK TfrmModule::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto *creation = reinterpret_cast<const CREATESTRUCTW *>(lParam);
        auto *self = static_cast<TfrmModule *>(creation->lpCreateParams);
        self->m_window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto *self = reinterpret_cast<TfrmModule *>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(window, message, wParam, lParam);
    // No exception may leave through the system's dispatch: it is shown here and the
    // program goes on with the next message.
    try {
        return self->handle(message, wParam, lParam);
    } catch (...) {
        self->m_errorBox(window, exceptionText());
    }
    return 0;
}

LRESULT CALLBACK TfrmModule::lampProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT area{};
        GetClientRect(window, &area);
        // The lamp sits on the message line and shares its background.
        HBRUSH background = CreateSolidBrush(GetSysColor(COLOR_ACTIVECAPTION));
        FillRect(dc, &area, background);
        DeleteObject(background);
        pictures::drawLamp(dc, area, COLORREF(GetWindowLongPtrW(window, GWLP_USERDATA)));
        EndPaint(window, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_NCHITTEST:
        return HTTRANSPARENT;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT TfrmModule::handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE:
        // Title bar, system menu, Alt+F4 and the task bar all ask through here; only Exit may
        // close the window.
        if (m_exitRequested)
            DestroyWindow(m_window);
        return 0;
    case WM_DESTROY:
        KillTimer(m_window, BusyTimerId);
        PostQuitMessage(0);
        return 0;
    case WM_TIMER:
        if (wParam == BusyTimerId)
            tmrBusyTimer();
        return 0;
    case WM_COMMAND:
        onCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_HSCROLL:
        onScroll(reinterpret_cast<HWND>(lParam), LOWORD(wParam));
        return 0;
    case WM_DRAWITEM:
        onDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT *>(lParam));
        return TRUE;
    case WM_MEASUREITEM:
        onMeasureItem(*reinterpret_cast<MEASUREITEMSTRUCT *>(lParam));
        return TRUE;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
        return reinterpret_cast<LRESULT>(m_faceBrush);
    }
    case WM_SETCURSOR:
        if (m_waitCursor) {
            SetCursor(LoadCursorW(nullptr, IDC_WAIT));
            return TRUE;
        }
        break;
    case DM_GETDEFID:
        return MAKELRESULT(ids::btnScan, DC_HASDEFID);
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE && !IsChild(m_window, GetFocus()) &&
            IsWindowEnabled(m_window))
            SetFocus(control(ids::btnScan));
        return 0;
    default:
        break;
    }
    return DefWindowProcW(m_window, message, wParam, lParam);
}

void TfrmModule::onCommand(int id, int code, HWND source)
{
    if (code != BN_CLICKED || !isPushButton(id))
        return;
    // A click reaches only an enabled button of an enabled window.
    if (!IsWindowEnabled(m_window) || (source && !IsWindowEnabled(source)))
        return;
    switch (id) {
    case ids::btnScan:
        return runGuarded(&TfrmModule::btnScanClick);
    case ids::btnProcess:
        return runGuarded(&TfrmModule::btnProcessClick);
    case ids::btnID:
        return runGuarded(&TfrmModule::btnIDClick);
    case ids::btnBaudRate:
        return runGuarded(&TfrmModule::btnBaudRateClick);
    case ids::btnMode:
        return runGuarded(&TfrmModule::btnModeClick);
    case ids::btnFactory:
        return runGuarded(&TfrmModule::btnFactoryClick);
    case ids::btnOne:
        return runGuarded(&TfrmModule::btnOneClick);
    case ids::btnEng:
        return runGuarded(&TfrmModule::btnEngClick);
    case ids::btnGB:
        return runGuarded(&TfrmModule::btnGBClick);
    case ids::btnBIG5:
        return runGuarded(&TfrmModule::btnBIG5Click);
    case ids::btnExit:
        return runGuarded(&TfrmModule::btnExitClick);
    default:
        return;
    }
}

void TfrmModule::onScroll(HWND bar, int code)
{
    const int id = GetDlgCtrlID(bar);
    if (id != ids::sbID && id != ids::sbID2)
        return;
    const auto which = ids::ControlId(id);
    int position = scrollPosition(which);
    switch (code) {
    case SB_LINELEFT:
        --position;
        break;
    case SB_LINERIGHT:
        ++position;
        break;
    case SB_PAGELEFT:
        position -= IdPageStep;
        break;
    case SB_PAGERIGHT:
        position += IdPageStep;
        break;
    case SB_LEFT:
        position = IdMinimum;
        break;
    case SB_RIGHT:
        position = IdMaximum;
        break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
        SCROLLINFO info{sizeof(info), SIF_TRACKPOS, 0, 0, 0, 0, 0};
        GetScrollInfo(bar, SB_CTL, &info);
        position = info.nTrackPos;
        break;
    }
    default:
        return;
    }
    setScrollPosition(which, position);
}

void TfrmModule::onMeasureItem(MEASUREITEMSTRUCT &item)
{
    if (item.CtlType == ODT_COMBOBOX)
        item.itemHeight = item.itemID == UINT(-1) ? ListHeight - 6 : ListItemHeight;
}

void TfrmModule::onDrawItem(const DRAWITEMSTRUCT &item)
{
    switch (item.CtlType) {
    case ODT_STATIC:
        drawPanel(item);
        break;
    case ODT_BUTTON:
        drawButton(item);
        break;
    case ODT_COMBOBOX:
        drawListItem(item);
        break;
    default:
        break;
    }
}

void TfrmModule::drawPanel(const DRAWITEMSTRUCT &item)
{
    HDC dc = item.hDC;
    RECT box = item.rcItem;
    const int id = int(item.CtlID);
    if (id == ids::tsDefault) {
        FillRect(dc, &box, m_faceBrush);
        return;
    }
    HBRUSH background = m_highlightBrush;
    COLORREF foreground = Yellow;
    HFONT font = m_fonts.base;
    UINT format = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;
    if (id == ids::pnMsg) {
        background = m_captionBrush;
        foreground = White;
    } else if (id == ids::pnTAVEX) {
        background = m_purpleBrush;
        foreground = White;
        font = m_fonts.footer;
    }
    FillRect(dc, &box, background);
    // A lowered bevel inside the border; the message line's is the deeper one.
    DrawEdge(dc, &box, id == ids::pnMsg ? EDGE_SUNKEN : BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
    const std::wstring text = windowText(item.hwndItem);
    HGDIOBJ previous = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, foreground);
    if (id == ids::pnMsg) {
        // The text keeps clear of the lamp at the right, and wraps when it is long.
        box.right = 310 - 2;
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

void TfrmModule::drawButton(const DRAWITEMSTRUCT &item)
{
    HDC dc = item.hDC;
    RECT box = item.rcItem;
    const int id = int(item.CtlID);
    const bool pushed = item.itemState & ODS_SELECTED;
    const bool disabled = item.itemState & ODS_DISABLED;
    if (id == ids::btnScan) {
        // The default button carries the dark outer frame.
        FrameRect(dc, &box, GetSysColorBrush(COLOR_WINDOWFRAME));
        InflateRect(&box, -1, -1);
    }
    DrawFrameControl(dc, &box, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));
    RECT content = box;
    InflateRect(&content, -3, -3);
    if (pushed)
        OffsetRect(&content, 1, 1);

    const std::wstring text = windowText(item.hwndItem);
    const ButtonInfo info = buttonInfo(id);
    SetBkMode(dc, TRANSPARENT);
    const COLORREF textColour = disabled ? GetSysColor(COLOR_GRAYTEXT) : GetSysColor(COLOR_BTNTEXT);
    HGDIOBJ previous = SelectObject(dc, m_fonts.base);
    switch (info.look) {
    case ButtonLook::IconAndText: {
        SIZE extent{};
        GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &extent);
        const int gap = 6;
        const int width = pictures::IconSide + gap + extent.cx;
        const int left = std::max<int>(content.left, (content.left + content.right - width) / 2);
        const int middle = (content.top + content.bottom) / 2;
        pictures::drawIcon(dc, info.icon, left, middle - pictures::IconSide / 2, disabled);
        RECT label{left + pictures::IconSide + gap, content.top, content.right, content.bottom};
        SetTextColor(dc, textColour);
        DrawTextW(dc, text.c_str(), int(text.size()), &label,
                  DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        break;
    }
    case ButtonLook::PictureAbove: {
        RECT picture{content.left, content.top + 2, content.right, content.top + 82};
        if (id == ids::btnFactory)
            pictures::drawQuickSetting(dc, picture, L"TAVEX", L"19200,e,8,1", L"TWO ID:1,5",
                                       m_fonts.headline, m_fonts.pictureLine, disabled);
        else
            pictures::drawQuickSetting(dc, picture, L"READER", L"19200,e,8,1", L"ONE ID:01",
                                       m_fonts.headline, m_fonts.pictureLine, disabled);
        RECT label{content.left, content.top + 82, content.right, content.bottom};
        SetTextColor(dc, textColour);
        DrawTextW(dc, text.c_str(), int(text.size()), &label,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        break;
    }
    case ButtonLook::RedText:
        SelectObject(dc, m_fonts.label);
        SetTextColor(dc, disabled ? GetSysColor(COLOR_GRAYTEXT) : Red);
        DrawTextW(dc, text.c_str(), int(text.size()), &content,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        break;
    case ButtonLook::LanguageMark:
        pictures::drawLanguageMark(dc, content, text.c_str(), m_fonts.mark, disabled);
        break;
    }
    SelectObject(dc, previous);
    if (item.itemState & ODS_FOCUS) {
        RECT focus = box;
        InflateRect(&focus, -4, -4);
        DrawFocusRect(dc, &focus);
    }
}

void TfrmModule::drawListItem(const DRAWITEMSTRUCT &item)
{
    HDC dc = item.hDC;
    RECT box = item.rcItem;
    const bool field = item.itemState & ODS_COMBOBOXEDIT;
    const bool chosen = !field && (item.itemState & ODS_SELECTED);
    // In the open list the chosen line is shown inverted, so it stands out from the others.
    const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
    HBRUSH background = chosen ? CreateSolidBrush(Yellow) : nullptr;
    FillRect(dc, &box, chosen ? background : m_highlightBrush);
    if (background)
        DeleteObject(background);
    if (item.itemID != UINT(-1)) {
        const auto length = SendMessageW(item.hwndItem, CB_GETLBTEXTLEN, item.itemID, 0);
        std::wstring text(std::size_t(std::max<LRESULT>(length, 0)) + 1, L'\0');
        SendMessageW(item.hwndItem, CB_GETLBTEXT, item.itemID,
                     reinterpret_cast<LPARAM>(text.data()));
        text.resize(std::size_t(std::max<LRESULT>(length, 0)));
        HGDIOBJ previous = SelectObject(dc, m_fonts.base);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, (item.itemState & ODS_DISABLED) ? GetSysColor(COLOR_GRAYTEXT)
                         : chosen                        ? highlight
                                                         : Yellow);
        RECT label = box;
        label.left += 3;
        DrawTextW(dc, text.c_str(), int(text.size()), &label,
                  DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, previous);
    }
    if (field && (item.itemState & ODS_FOCUS))
        DrawFocusRect(dc, &box);
}

void TfrmModule::setCaption(ids::ControlId id, const std::string &utf8)
{
    setCaption(id, widen(utf8));
}

void TfrmModule::setCaption(ids::ControlId id, const std::wstring &text)
{
    HWND window = control(id);
    SetWindowTextW(window, text.c_str());
    InvalidateRect(window, nullptr, TRUE);
}

std::string TfrmModule::caption(ids::ControlId id) const
{
    return narrow(windowText(control(id)));
}

void TfrmModule::FormCreate()
{
    LoadSettings(m_context.store, m_settings);
    // No close command anywhere in the title bar or the system menu: Exit is the only way
    // out. Removed by its command, not as the last entry: some systems add entries after it.
    HMENU systemMenu = GetSystemMenu(m_window, FALSE);
    RemoveMenu(systemMenu, SC_CLOSE, MF_BYCOMMAND);
    DrawMenuBar(m_window);
    m_context.ProcessActive = false;
    m_context.ScanOk = false;
    // A stored index the list does not have selects the default line setting.
    select(ids::cmbBaudRate, safeBaudRateNo(m_settings.ScanBaudRateNo));
    select(ids::cmbMode, 0);
    select(ids::cmbRS485, 1);
}

void TfrmModule::FormShow()
{
    ApplyLanguage();
}

void TfrmModule::ApplyLanguage()
{
    using namespace ids;
    const bool chinese = m_settings.LanguageIndex == 1 || m_settings.LanguageIndex == 2;
    if (chinese != m_chineseFonts) {
        // The captions' face follows the script: the base face has no Chinese characters.
        const Fonts old = m_fonts;
        makeFonts(chinese);
        applyFonts();
        for (HFONT font :
             {old.base, old.label, old.page, old.footer, old.headline, old.pictureLine, old.mark})
            DeleteObject(font);
    }
    SetWindowTextW(m_window, wideText(TextRow::Title).c_str());
    setCaption(pnTAVEX, wideText(TextRow::Company));
    setCaption(pnMsg, wideText(TextRow::StartScanModule));
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, control(pnMsg), OBJID_CLIENT, CHILDID_SELF);
    setCaption(pnSerial, wideText(TextRow::SN) + L" : ________-_");
    setCaption(pnVersion, wideText(TextRow::Ver) + L" : __.__-__");
    setCaption(lblID, wideText(TextRow::Id) + L" 1:");
    setCaption(lblID2, wideText(TextRow::Id) + L" 2:");
    setCaption(lblBaudRate, wideText(TextRow::BaudRate) + L":");
    setCaption(btnScan, wideText(TextRow::ScanModule));
    setCaption(btnID, wideText(TextRow::SetModuleId));
    setCaption(btnBaudRate, wideText(TextRow::SetModuleBaudRateReset));
    setCaption(btnMode, wideText(TextRow::SetModuleMode));
    setCaption(btnProcess, wideText(TextRow::ProcessModule));
    setCaption(gbDefault, wideText(TextRow::QuickSetting));
    const std::wstring &page = wideText(TextRow::Default);
    TCITEMW tab{};
    tab.mask = TCIF_TEXT;
    tab.pszText = const_cast<wchar_t *>(page.c_str());
    SendMessageW(control(pcDefault), TCM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tab));
    setCaption(tsDefault, page);
    setCaption(btnFactory, L"(" + wideText(TextRow::FactoryDefault) + L")");
    setCaption(btnOne, L"(" + wideText(TextRow::OneReader) + L")");
    setCaption(btnExit, wideText(TextRow::Exit));
}

void TfrmModule::SetBusy(bool on)
{
    if (on) {
        SetTimer(m_window, BusyTimerId, BlinkIntervalMs, nullptr);
        setWindowEnabled(false);
    } else {
        setWindowEnabled(true);
        KillTimer(m_window, BusyTimerId);
    }
}

void TfrmModule::tmrBusyTimer()
{
    if (m_blinkPhase == 1) {
        m_blinkPhase = 0;
        setLamp(LampColour::Yellow);
    } else {
        m_blinkPhase = 1;
        setLamp(LampColour::Red);
    }
}

void TfrmModule::sbIDChange()
{
    wchar_t digits[8];
    std::swprintf(digits, std::size(digits), L"%02d", scrollPosition(ids::sbID));
    setCaption(ids::pnID, std::wstring(digits));
}

void TfrmModule::sbID2Change()
{
    wchar_t digits[8];
    std::swprintf(digits, std::size(digits), L"%02d", scrollPosition(ids::sbID2));
    setCaption(ids::pnID2, std::wstring(digits));
}

void TfrmModule::btnScanClick()
{
    RunScan(m_context);
}

void TfrmModule::btnProcessClick()
{
    // A click while the loop runs is a nested call that only asks the loop to stop.
    RunProcessMode(m_context);
}

void TfrmModule::btnIDClick()
{
    RunSetModuleId(m_context);
}

void TfrmModule::btnBaudRateClick()
{
    RunSetModuleBaudRate(m_context);
}

void TfrmModule::btnModeClick()
{
    RunSetModuleMode(m_context);
}

void TfrmModule::btnFactoryClick()
{
    RunQuickSetting(m_context, QuickSetting::FactoryDefault);
}

void TfrmModule::btnOneClick()
{
    RunQuickSetting(m_context, QuickSetting::OneReader);
}

void TfrmModule::setLanguage(int index)
{
    // Saved and applied also when the language does not change.
    m_settings.selectLanguage(index);
    SaveLanguage(m_context.store, m_settings);
    ApplyLanguage();
}

void TfrmModule::btnEngClick()
{
    setLanguage(0);
}

void TfrmModule::btnGBClick()
{
    setLanguage(1);
}

void TfrmModule::btnBIG5Click()
{
    setLanguage(2);
}

void TfrmModule::btnExitClick()
{
    // Nothing is saved on the way out.
    m_exitRequested = true;
    SendMessageW(m_window, WM_CLOSE, 0, 0);
}

void TfrmModule::runGuarded(void (TfrmModule::*handler)())
{
    ++m_handlerDepth;
    try {
        (this->*handler)();
    } catch (...) {
        if (m_handlerDepth == 1)
            recoverFromFailure();
        --m_handlerDepth;
        m_errorBox(m_window, exceptionText());
        return;
    }
    --m_handlerDepth;
}

void TfrmModule::recoverFromFailure()
{
    if (m_context.link.isOpen())
        m_context.link.ComClose();
    KillTimer(m_window, BusyTimerId);
    setWindowEnabled(true);
    setWaitCursor(false);
    // The outermost handler has ended, so no polling loop is left behind.
    if (m_context.ProcessRunning || m_context.ProcessActive) {
        m_context.ProcessActive = false;
        m_context.ProcessRunning = false;
        setCaption(ids::btnProcess, wideText(TextRow::ProcessModule));
    }
    for (Control each : {Control::btnExit, Control::btnScan, Control::btnFactory, Control::btnOne,
                         Control::btnID, Control::btnBaudRate, Control::btnMode, Control::gbDefault,
                         Control::btnEng, Control::btnGB, Control::btnBIG5})
        setControlEnabled(each, true);
}

const std::wstring &TfrmModule::wideText(TextRow row) const
{
    const int language = std::clamp(m_settings.LanguageIndex, 0, LanguageTable::Languages - 1);
    return m_wideTexts[std::size_t(int(row) * LanguageTable::Languages + language)];
}

std::string TfrmModule::text(TextRow row) const
{
    return m_languages.text(row, m_settings.LanguageIndex);
}

void TfrmModule::setMessage(const std::string &text)
{
    setCaption(ids::pnMsg, text);
    // The message line is what a screen reader user must hear after every step.
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, control(ids::pnMsg), OBJID_CLIENT, CHILDID_SELF);
}

void TfrmModule::setMessageDetail(const std::string &text)
{
    const std::wstring detail = widen(text);
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = m_window;
    tool.uId = reinterpret_cast<UINT_PTR>(control(ids::pnMsg));
    tool.lpszText = const_cast<wchar_t *>(detail.c_str());
    // An empty detail removes the tip, also one on screen right now.
    if (detail.empty())
        SendMessageW(m_tooltip, TTM_POP, 0, 0);
    SendMessageW(m_tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void TfrmModule::setSerialText(const std::string &text)
{
    setCaption(ids::pnSerial, text);
}

void TfrmModule::setVersionText(const std::string &text)
{
    setCaption(ids::pnVersion, text);
}

std::string TfrmModule::id1Text() const
{
    return caption(ids::pnID);
}

void TfrmModule::setId1Text(const std::string &text)
{
    setCaption(ids::pnID, text);
}

std::string TfrmModule::id2Text() const
{
    return caption(ids::pnID2);
}

void TfrmModule::setId2Text(const std::string &text)
{
    setCaption(ids::pnID2, text);
}

int TfrmModule::scrollPosition(ids::ControlId bar) const
{
    return int(SendMessageW(control(bar), SBM_GETPOS, 0, 0));
}

void TfrmModule::setScrollPosition(ids::ControlId bar, int position)
{
    position = std::clamp(position, IdMinimum, IdMaximum);
    if (position == scrollPosition(bar))
        return; // the same position runs no change handler
    SendMessageW(control(bar), SBM_SETPOS, WPARAM(position), TRUE);
    if (bar == ids::sbID)
        sbIDChange();
    else
        sbID2Change();
}

int TfrmModule::id1Position() const
{
    return scrollPosition(ids::sbID);
}

void TfrmModule::setId1Position(int position)
{
    setScrollPosition(ids::sbID, position);
}

int TfrmModule::id2Position() const
{
    return scrollPosition(ids::sbID2);
}

void TfrmModule::setId2Position(int position)
{
    setScrollPosition(ids::sbID2, position);
}

int TfrmModule::selection(ids::ControlId list) const
{
    const LRESULT index = SendMessageW(control(list), CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : int(index);
}

void TfrmModule::select(ids::ControlId list, int index)
{
    SendMessageW(control(list), CB_SETCURSEL, WPARAM(index), 0);
}

int TfrmModule::baudRateIndex() const
{
    return selection(ids::cmbBaudRate);
}

void TfrmModule::selectBaudRate(int index)
{
    select(ids::cmbBaudRate, index);
}

int TfrmModule::modeIndex() const
{
    return selection(ids::cmbMode);
}

void TfrmModule::selectMode(int index)
{
    select(ids::cmbMode, index);
}

int TfrmModule::rs485Index() const
{
    return selection(ids::cmbRS485);
}

void TfrmModule::selectRs485(int index)
{
    select(ids::cmbRS485, index);
}

bool TfrmModule::lockChecked() const
{
    return SendMessageW(control(ids::chkLock), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TfrmModule::setReader1Data(const std::string &text)
{
    setCaption(ids::pnQMR1, text);
}

void TfrmModule::setReader2Data(const std::string &text)
{
    setCaption(ids::pnQMR2, text);
}

std::string TfrmModule::processCaption() const
{
    return caption(ids::btnProcess);
}

void TfrmModule::setProcessCaption(const std::string &text)
{
    setCaption(ids::btnProcess, text);
}

void TfrmModule::refreshQuickButtons()
{
    // The tall buttons lie in the group: they work only while both they and it are enabled.
    EnableWindow(control(ids::btnFactory), m_factoryEnabled && m_groupEnabled);
    EnableWindow(control(ids::btnOne), m_oneEnabled && m_groupEnabled);
}

void TfrmModule::setControlEnabled(Control which, bool enabled)
{
    ids::ControlId id = ids::btnExit;
    switch (which) {
    case Control::btnExit:
        id = ids::btnExit;
        break;
    case Control::btnScan:
        id = ids::btnScan;
        break;
    case Control::btnFactory:
        m_factoryEnabled = enabled;
        refreshQuickButtons();
        return;
    case Control::btnOne:
        m_oneEnabled = enabled;
        refreshQuickButtons();
        return;
    case Control::btnID:
        id = ids::btnID;
        break;
    case Control::btnBaudRate:
        id = ids::btnBaudRate;
        break;
    case Control::btnMode:
        id = ids::btnMode;
        break;
    case Control::gbDefault:
        m_groupEnabled = enabled;
        EnableWindow(control(ids::gbDefault), enabled);
        EnableWindow(control(ids::pcDefault), enabled);
        refreshQuickButtons();
        return;
    case Control::btnEng:
        id = ids::btnEng;
        break;
    case Control::btnGB:
        id = ids::btnGB;
        break;
    case Control::btnBIG5:
        id = ids::btnBIG5;
        break;
    }
    EnableWindow(control(id), enabled);
}

void TfrmModule::setLamp(LampColour colour)
{
    HWND lamp = control(ids::shComm);
    const bool yellow = colour == LampColour::Yellow;
    SetWindowLongPtrW(lamp, GWLP_USERDATA, LONG_PTR(yellow ? Yellow : Red));
    // The colour is also the lamp's text, so that it can be read and not only seen.
    SetWindowTextW(lamp, yellow ? L"yellow" : L"red");
    InvalidateRect(lamp, nullptr, FALSE);
    UpdateWindow(lamp);
}

void TfrmModule::beep(int frequencyHz, int durationMs)
{
    ::Beep(DWORD(frequencyHz), DWORD(durationMs));
}

void TfrmModule::setBusy(bool on)
{
    SetBusy(on);
}

void TfrmModule::setWindowEnabled(bool enabled)
{
    if (!enabled) {
        // Disabling the window takes the focus away; it comes back where it was.
        if (HWND focus = GetFocus(); focus && IsChild(m_window, focus))
            m_focusBeforeDisable = focus;
        EnableWindow(m_window, FALSE);
        return;
    }
    EnableWindow(m_window, TRUE);
    if (GetActiveWindow() == m_window && !IsChild(m_window, GetFocus())) {
        HWND focus = m_focusBeforeDisable && IsWindowEnabled(m_focusBeforeDisable)
                         ? m_focusBeforeDisable
                         : control(ids::btnScan);
        SetFocus(focus);
    }
}

void TfrmModule::setWaitCursor(bool on)
{
    if (on == m_waitCursor)
        return;
    m_waitCursor = on;
    SetCursor(LoadCursorW(nullptr, on ? IDC_WAIT : IDC_ARROW));
}

void TfrmModule::processMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Left for the event loop, which ends on it.
            PostQuitMessage(int(message.wParam));
            return;
        }
        if (preTranslate(message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void TfrmModule::showError(const std::string &text)
{
    m_errorBox(m_window, widen(text));
}

} // namespace qmr
