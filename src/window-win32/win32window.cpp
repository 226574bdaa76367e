#include "win32window.h"

#include "controlids.h"
#include "dpiscale.h"
#include "wintext.h"

#include <commctrl.h>

#include <algorithm>
#include <exception>
#include <optional>

namespace qmr {

namespace {

constexpr int ProgramIconId = 1;
// The width at which the message line's tooltip wraps, at 96 DPI.
constexpr int TooltipWidth = 400;

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

// The native control that stands for each kind of the inventory.
struct NativeKind
{
    const wchar_t *className;
    DWORD style;
};

NativeKind nativeKind(ControlKind kind)
{
    // Siblings overlap (the group, its page control, the page and the buttons on it): each
    // keeps to its own box.
    const DWORD clip = WS_CLIPSIBLINGS;
    switch (kind) {
    case ControlKind::Lamp:
        return {ids::LampClass, 0};
    case ControlKind::Label:
        return {WC_STATICW, SS_RIGHT | SS_NOPREFIX | clip};
    case ControlKind::Button:
        return {WC_BUTTONW, BS_OWNERDRAW | clip};
    case ControlKind::ScrollBar:
        return {WC_SCROLLBARW, SBS_HORZ | clip};
    case ControlKind::List:
        return {WC_COMBOBOXW,
                WS_VSCROLL | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS | clip};
    case ControlKind::CheckBox:
        return {WC_BUTTONW, BS_AUTOCHECKBOX | clip};
    case ControlKind::GroupBox:
        return {WC_BUTTONW, BS_GROUPBOX | clip};
    case ControlKind::PageControl:
        return {WC_TABCONTROLW, TCS_BUTTONS | TCS_FLATBUTTONS | TCS_FOCUSNEVER | clip};
    case ControlKind::Panel:
    case ControlKind::Page:
        break;
    }
    return {WC_STATICW, SS_OWNERDRAW | clip};
}

// The inventory entry of a native control ID; none for an ID the form does not have.
const ControlSpec *specOf(int id)
{
    for (const ControlSpec &entry : formInventory())
        if (int(entry.id) == id)
            return &entry;
    return nullptr;
}

bool hasChildren(Control id)
{
    const auto inventory = formInventory();
    return std::any_of(inventory.begin(), inventory.end(),
                       [id](const ControlSpec &entry) { return entry.parent == id; });
}

// A panel holds its children as native child windows (the lamp on the message line); the
// group and the pages only frame theirs, which stay children of the window so that their
// notifications reach the window procedure.
bool hostsChildren(Control id)
{
    return id != Control::None && controlSpec(id).kind == ControlKind::Panel;
}

bool insidePage(const ControlSpec &entry)
{
    for (Control each = entry.id; each != Control::None; each = controlSpec(each).parent)
        if (controlSpec(each).kind == ControlKind::Page)
            return true;
    return false;
}

std::optional<ScrollStep> scrollStep(int code)
{
    switch (code) {
    case SB_LINELEFT:
        return ScrollStep::LineLeft;
    case SB_LINERIGHT:
        return ScrollStep::LineRight;
    case SB_PAGELEFT:
        return ScrollStep::PageLeft;
    case SB_PAGERIGHT:
        return ScrollStep::PageRight;
    case SB_LEFT:
        return ScrollStep::Home;
    case SB_RIGHT:
        return ScrollStep::End;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
        return ScrollStep::Track;
    default:
        return std::nullopt; // SB_ENDSCROLL
    }
}

// The program icon (resource 1, see qmrconfig.rc) at a size the system names.
HICON loadProgramIcon(HINSTANCE instance, int sizeMetric)
{
    const int side = GetSystemMetrics(sizeMetric);
    return static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(ProgramIconId), IMAGE_ICON, side, side, 0));
}

} // namespace

Win32Window::Win32Window(Link &link, Clock &clock, SettingsStore &store,
                         const LanguageTable &languages, HINSTANCE instance)
    : m_errorBox([](HWND owner, const std::wstring &text) {
          MessageBoxW(owner, text.c_str(), widen(ProgramName).c_str(), MB_OK | MB_ICONERROR);
      }),
      m_instance(instance), m_form(link, clock, store, languages, *this)
{
    INITCOMMONCONTROLSEX common{sizeof(common), ICC_TAB_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&common);
    registerClasses(instance);
    m_bigIcon = loadProgramIcon(instance, SM_CXICON);
    m_smallIcon = loadProgramIcon(instance, SM_CXSMICON);
    createWindow();
    m_form.create();
}

Win32Window::~Win32Window()
{
    setWaitCursor(false);
    if (m_window) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
    DestroyIcon(m_bigIcon);
    DestroyIcon(m_smallIcon);
}

void Win32Window::registerClasses(HINSTANCE instance)
{
    WNDCLASSEXW form{};
    form.cbSize = sizeof(form);
    form.lpfnWndProc = &Win32Window::windowProc;
    form.hInstance = instance;
    form.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    form.lpszClassName = ids::WindowClass;
    RegisterClassExW(&form);

    WNDCLASSEXW lamp{};
    lamp.cbSize = sizeof(lamp);
    lamp.lpfnWndProc = &Win32Window::lampProc;
    lamp.hInstance = instance;
    lamp.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    lamp.lpszClassName = ids::LampClass;
    RegisterClassExW(&lamp);
}

void Win32Window::createWindow()
{
    // Single fixed border, system menu, minimise but no maximise.
    // The window does not clip its children: the group box and the page control paint only
    // their frames and leave their insides to the window's background.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, FormWidth, FormHeight};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    CreateWindowExW(0, ids::WindowClass, widen(ProgramName).c_str(), style, 0, 0,
                    frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                    m_instance, this);
    // Laid out for the DPI of the monitor it opens on, then centred on the desktop.
    m_painter.setDpi(windowDpi(m_window));
    fitClientArea();
    RECT placed{};
    GetWindowRect(m_window, &placed);
    RECT desktop{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &desktop, 0);
    const int x = desktop.left + (desktop.right - desktop.left - (placed.right - placed.left)) / 2;
    const int y = desktop.top + (desktop.bottom - desktop.top - (placed.bottom - placed.top)) / 2;
    SetWindowPos(m_window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_bigIcon));
    SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon));
    // No close command in the title bar or the system menu: the form closes the window.
    // Removed by its command, not as the last entry: some systems add entries after it.
    RemoveMenu(GetSystemMenu(m_window, FALSE), SC_CLOSE, MF_BYCOMMAND);
    DrawMenuBar(m_window);
    // The message line's detail (the device behind the port and why it failed) as its tooltip.
    m_tooltip =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                        WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, m_window, nullptr, m_instance, nullptr);
    SendMessageW(m_tooltip, TTM_SETMAXTIPWIDTH, 0, m_painter.scale(TooltipWidth));
}

void Win32Window::fitClientArea()
{
    // The frame as it is now, whatever its borders are at this DPI, plus what the client area
    // lacks.
    const Box wanted = scaled(Box{0, 0, FormWidth, FormHeight}, m_painter.dpi());
    RECT frame{};
    RECT client{};
    GetWindowRect(m_window, &frame);
    GetClientRect(m_window, &client);
    const int width = frame.right - frame.left + wanted.width - client.right;
    const int height = frame.bottom - frame.top + wanted.height - client.bottom;
    SetWindowPos(m_window, nullptr, 0, 0, width, height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Window::onDpiChanged(int dpi, const RECT &suggested)
{
    m_painter.setDpi(dpi);
    SetWindowPos(m_window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    // The suggested frame holds the scaled client area; where it does not quite, it is fitted.
    fitClientArea();
    for (const ControlSpec &entry : formInventory())
        place(entry);
    SendMessageW(m_tooltip, TTM_SETMAXTIPWIDTH, 0, m_painter.scale(TooltipWidth));
    applyFonts();
}

HWND Win32Window::item(Control id) const
{
    if (id == Control::frmModule)
        return m_window;
    const auto found = m_controls.find(id);
    return found == m_controls.end() ? nullptr : found->second;
}

HWND Win32Window::hostOf(const ControlSpec &entry) const
{
    if (entry.parent == Control::None)
        return m_window;
    return hostsChildren(entry.parent) ? item(entry.parent) : hostOf(controlSpec(entry.parent));
}

RECT Win32Window::boxOf(const ControlSpec &entry) const
{
    HWND host = hostOf(entry);
    RECT box{};
    if (entry.kind == ControlKind::Page) {
        // A page fills the display area of its page control, below the tabs.
        HWND tabs = item(entry.parent);
        GetClientRect(tabs, &box);
        SendMessageW(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&box));
        MapWindowPoints(tabs, host, reinterpret_cast<POINT *>(&box), 2);
        return box;
    }
    POINT origin{0, 0};
    if (entry.parent != Control::None && !hostsChildren(entry.parent)) {
        // A framed control's box is within its frame: the frame's corner in the host.
        RECT frame{};
        GetWindowRect(item(entry.parent), &frame);
        origin = {frame.left, frame.top};
        ScreenToClient(host, &origin);
    }
    const Box at = scaled(entry.box, m_painter.dpi());
    return {origin.x + at.x, origin.y + at.y, origin.x + at.x + at.width,
            origin.y + at.y + at.height};
}

RECT Win32Window::nativeBox(const ControlSpec &entry) const
{
    RECT box = boxOf(entry);
    // A drop-down list's window is as tall as the list it opens; it shows its field only.
    if (entry.kind == ControlKind::List)
        box.bottom +=
            int(listItems(entry.id).size()) * m_painter.listItemHeight() + m_painter.scale(4);
    return box;
}

void Win32Window::place(const ControlSpec &entry)
{
    const RECT box = nativeBox(entry);
    MoveWindow(item(entry.id), box.left, box.top, box.right - box.left, box.bottom - box.top,
               FALSE);
}

void Win32Window::createControl(const ControlSpec &entry, const std::vector<std::string> &items)
{
    NativeKind native = nativeKind(entry.kind);
    if (hasChildren(entry.id) && hostsChildren(entry.id))
        native.style |= WS_CLIPCHILDREN;
    if (entry.id == Control::pnMsg)
        native.style |= SS_NOTIFY; // the mouse reaches it, for its tooltip
    const RECT box = nativeBox(entry);
    HWND host = hostOf(entry);
    HWND control = CreateWindowExW(0, native.className, L"", WS_CHILD | WS_VISIBLE | native.style,
                                   box.left, box.top, box.right - box.left, box.bottom - box.top,
                                   host, reinterpret_cast<HMENU>(static_cast<INT_PTR>(entry.id)),
                                   m_instance, nullptr);
    m_controls[entry.id] = control;
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_painter.captionFont(entry)),
                 FALSE);
    if (entry.parent != Control::None && host == m_window) {
        // A framed control lies above its frame, which would otherwise hide it.
        HWND above = GetWindow(item(entry.parent), GW_HWNDPREV);
        if (above != control)
            SetWindowPos(control, above ? above : HWND_TOP, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    prepare(entry, control, items);
}

void Win32Window::prepare(const ControlSpec &entry, HWND control,
                          const std::vector<std::string> &items)
{
    switch (entry.kind) {
    case ControlKind::ScrollBar: {
        SCROLLINFO info{sizeof(info),
                        SIF_RANGE | SIF_POS | SIF_PAGE,
                        MinReaderId,
                        MaxReaderId,
                        0,
                        MinReaderId,
                        0};
        SetScrollInfo(control, SB_CTL, &info, TRUE);
        break;
    }
    case ControlKind::List:
        for (const std::string &line : items)
            SendMessageW(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(line).c_str()));
        fitList(entry);
        break;
    case ControlKind::Page: {
        // Each page is a tab of its page control, drawn as a flat button.
        TCITEMW tab{};
        tab.mask = TCIF_TEXT;
        tab.pszText = const_cast<wchar_t *>(L"");
        HWND tabs = item(entry.parent);
        const auto count = SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0);
        SendMessageW(tabs, TCM_INSERTITEMW, WPARAM(count), reinterpret_cast<LPARAM>(&tab));
        place(entry);
        break;
    }
    default:
        break;
    }
    if (entry.id == Control::pnMsg)
        addTooltip(control);
}

void Win32Window::addTooltip(HWND line)
{
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = m_window;
    tool.uId = reinterpret_cast<UINT_PTR>(line);
    tool.lpszText = const_cast<wchar_t *>(L"");
    SendMessageW(m_tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void Win32Window::fitList(const ControlSpec &entry)
{
    // The selection field is as tall as its item height makes it (a new font resets it): set
    // it so the closed list is as tall as its box, whatever border the system draws around it.
    HWND combo = item(entry.id);
    const int wanted = scaled(entry.box, m_painter.dpi()).height;
    int field = wanted - m_painter.scale(6);
    for (int attempt = 0; attempt < 3; ++attempt) {
        SendMessageW(combo, CB_SETITEMHEIGHT, WPARAM(-1), field);
        RECT box{};
        GetWindowRect(combo, &box);
        if (box.bottom - box.top == wanted)
            break;
        field += wanted - (box.bottom - box.top);
    }
    SendMessageW(combo, CB_SETITEMHEIGHT, 0, m_painter.listItemHeight());
}

void Win32Window::setTabOrder(std::span<const Control> order)
{
    // Tab walks the controls in their z-order: the first of the order goes on top.
    HWND after = HWND_TOP;
    for (Control id : order) {
        HWND control = item(id);
        SetWindowLongPtrW(control, GWL_STYLE, GetWindowLongPtrW(control, GWL_STYLE) | WS_TABSTOP);
        SetWindowPos(control, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        after = control;
    }
}

void Win32Window::applyFonts()
{
    for (const ControlSpec &entry : formInventory())
        SendMessageW(item(entry.id), WM_SETFONT,
                     reinterpret_cast<WPARAM>(m_painter.captionFont(entry)), TRUE);
    for (const ControlSpec &entry : formInventory()) {
        if (entry.kind == ControlKind::List)
            fitList(entry);
        // The tabs' height follows their font, and with it the page and what lies on it.
        else if (insidePage(entry))
            place(entry);
    }
    // The window does not clip its children, so they are all painted again after it.
    RedrawWindow(m_window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void Win32Window::setText(Control id, const std::string &text)
{
    const std::wstring wide = widen(text);
    HWND control = item(id);
    SetWindowTextW(control, wide.c_str());
    if (id == Control::frmModule)
        return;
    if (controlSpec(id).kind == ControlKind::Page) {
        // A page's caption is what its tab shows.
        HWND tabs = item(controlSpec(id).parent);
        int index = 0;
        for (const ControlSpec &entry : formInventory()) {
            if (entry.id == id)
                break;
            index += entry.parent == controlSpec(id).parent ? 1 : 0;
        }
        TCITEMW tab{};
        tab.mask = TCIF_TEXT;
        tab.pszText = const_cast<wchar_t *>(wide.c_str());
        SendMessageW(tabs, TCM_SETITEMW, WPARAM(index), reinterpret_cast<LPARAM>(&tab));
    }
    InvalidateRect(control, nullptr, TRUE);
    // A screen reader says a caption again when it changes (the message line after each step).
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, control, OBJID_CLIENT, CHILDID_SELF);
}

std::string Win32Window::text(Control id) const
{
    return narrow(windowText(item(id)));
}

void Win32Window::setDetail(const std::string &text)
{
    const std::wstring detail = widen(text);
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = m_window;
    tool.uId = reinterpret_cast<UINT_PTR>(item(Control::pnMsg));
    tool.lpszText = const_cast<wchar_t *>(detail.c_str());
    if (detail.empty())
        SendMessageW(m_tooltip, TTM_POP, 0, 0);
    SendMessageW(m_tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

int Win32Window::selection(Control list) const
{
    const LRESULT index = SendMessageW(item(list), CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : int(index);
}

void Win32Window::select(Control list, int index)
{
    SendMessageW(item(list), CB_SETCURSEL, WPARAM(index), 0);
}

int Win32Window::position(Control bar) const
{
    return int(SendMessageW(item(bar), SBM_GETPOS, 0, 0));
}

void Win32Window::setPosition(Control bar, int position)
{
    SendMessageW(item(bar), SBM_SETPOS, WPARAM(position), TRUE);
}

bool Win32Window::checked(Control box) const
{
    return SendMessageW(item(box), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32Window::setChecked(Control box, bool checked)
{
    SendMessageW(item(box), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Win32Window::setEnabled(Control id, bool enabled)
{
    EnableWindow(item(id), enabled);
}

void Win32Window::setLamp(LampColour colour)
{
    HWND lamp = item(Control::shComm);
    const bool yellow = colour == LampColour::Yellow;
    SetWindowLongPtrW(lamp, GWLP_USERDATA, LONG_PTR(WindowPainter::lampColour(colour)));
    // The colour is also the lamp's text, so that it can be read and not only seen.
    SetWindowTextW(lamp, yellow ? L"yellow" : L"red");
    InvalidateRect(lamp, nullptr, FALSE);
    UpdateWindow(lamp);
}

void Win32Window::setScript(Script script)
{
    // The captions' face follows the script: the base face has no Chinese characters.
    if (m_painter.setScript(script))
        applyFonts();
}

Control Win32Window::focus() const
{
    HWND focused = GetFocus();
    if (!focused || focused == m_window)
        return Control::None;
    for (const auto &[id, control] : m_controls)
        if (control == focused || IsChild(control, focused))
            return id;
    return Control::None;
}

void Win32Window::setFocus(Control id)
{
    if (id != Control::None) {
        SetFocus(item(id));
        return;
    }
    HWND focused = GetFocus();
    if (!focused || !IsChild(m_window, focused))
        return;
    // The window itself takes the keys where it can; a disabled one cannot hold the focus,
    // and then nothing does: keys reach the window only as system keys.
    if (!IsWindowEnabled(m_window) || !SetFocus(m_window) || IsChild(m_window, GetFocus()))
        SetFocus(nullptr);
}

bool Win32Window::isActive() const
{
    return m_window && GetActiveWindow() == m_window;
}

void Win32Window::setTickRunning(bool running)
{
    if (running)
        SetTimer(m_window, TickTimerId, TickIntervalMs, nullptr);
    else
        KillTimer(m_window, TickTimerId);
}

void Win32Window::setWaitCursor(bool on)
{
    if (on == m_waitCursor)
        return;
    m_waitCursor = on;
    SetCursor(LoadCursorW(nullptr, on ? IDC_WAIT : IDC_ARROW));
}

void Win32Window::beep(int frequencyHz, int durationMs)
{
    ::Beep(DWORD(frequencyHz), DWORD(durationMs));
}

void Win32Window::pumpEvents()
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

void Win32Window::showError(const std::string &text)
{
    m_errorBox(m_window, widen(text));
}

void Win32Window::closeWindow()
{
    if (m_window)
        DestroyWindow(m_window);
}

void Win32Window::show(int showCommand)
{
    // A shortcut set to "Run: Maximized" shows the window at its one size.
    ShowWindow(m_window, showCommand == SW_SHOWMAXIMIZED ? SW_SHOWNORMAL : showCommand);
    // The first call of a program may take the state from the shortcut instead.
    if (IsZoomed(m_window))
        ShowWindow(m_window, SW_RESTORE);
    m_form.FormShow();
    UpdateWindow(m_window);
}

int Win32Window::run(int showCommand)
{
    show(showCommand);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (preTranslate(message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

bool Win32Window::preTranslate(const MSG &message)
{
    if (message.message != WM_KEYDOWN || !m_window ||
        (message.hwnd != m_window && !IsChild(m_window, message.hwnd)))
        return false;
    HWND focused = GetFocus();
    if (message.wParam == VK_TAB) {
        if (GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0)
            return false;
        if (HWND next = GetNextDlgTabItem(m_window, focused, GetKeyState(VK_SHIFT) < 0))
            SetFocus(next);
        return true;
    }
    if (message.wParam != VK_RETURN)
        return false;
    // An open drop-down list takes Enter to close itself.
    const Control list = focus();
    if (list != Control::None && controlSpec(list).kind == ControlKind::List &&
        SendMessageW(item(list), CB_GETDROPPEDSTATE, 0, 0))
        return false;
    m_form.enter();
    return true;
}

LRESULT CALLBACK Win32Window::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto *creation = reinterpret_cast<const CREATESTRUCTW *>(lParam);
        auto *self = static_cast<Win32Window *>(creation->lpCreateParams);
        self->m_window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto *self = reinterpret_cast<Win32Window *>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(window, message, wParam, lParam);
    // No exception may leave through the system's dispatch: it is shown here and the
    // program goes on with the next message.
    try {
        return self->handle(message, wParam, lParam);
    } catch (...) {
        self->m_errorBox(window, widen(currentExceptionText()));
    }
    return 0;
}

LRESULT CALLBACK Win32Window::lampProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        if (const ControlSpec *entry = specOf(GetDlgCtrlID(window))) {
            WindowPainter::paintLamp(window, *entry,
                                     COLORREF(GetWindowLongPtrW(window, GWLP_USERDATA)));
            return 0;
        }
        break;
    case WM_ERASEBKGND:
        return 1;
    case WM_NCHITTEST:
        return HTTRANSPARENT;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT Win32Window::handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE:
        // Title bar, system menu, Alt+F4 and the task bar all ask through here.
        if (m_form.closeRequested())
            DestroyWindow(m_window);
        return 0;
    case WM_DESTROY:
        KillTimer(m_window, TickTimerId);
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY: {
        HWND window = m_window;
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        m_window = nullptr;
        m_controls.clear();
        return DefWindowProcW(window, message, wParam, lParam);
    }
    case WM_TIMER:
        if (wParam == TickTimerId)
            m_form.tick();
        return 0;
    case WM_ACTIVATE:
        // The form puts the focus back; the default would put it on the window itself.
        m_form.activationChanged(LOWORD(wParam) != WA_INACTIVE);
        return 0;
    case WM_SETCURSOR:
        if (m_waitCursor) {
            SetCursor(LoadCursorW(nullptr, IDC_WAIT));
            return TRUE;
        }
        break;
    case DM_GETDEFID:
        return MAKELRESULT(int(DefaultButton), DC_HASDEFID);
    case WM_DPICHANGED:
        // The new DPI (the same for x and y) and the frame Windows suggests for it.
        onDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT *>(lParam));
        return 0;
    default:
        if (LRESULT result = 0; handleControls(message, wParam, lParam, result))
            return result;
        break;
    }
    return DefWindowProcW(m_window, message, wParam, lParam);
}

bool Win32Window::handleControls(UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result)
{
    result = 0;
    switch (message) {
    case WM_COMMAND:
        if (lParam)
            onCommand(LOWORD(wParam), HIWORD(wParam));
        return true;
    case WM_HSCROLL:
        onScroll(reinterpret_cast<HWND>(lParam), LOWORD(wParam));
        return true;
    case WM_DRAWITEM: {
        const auto &drawn = *reinterpret_cast<const DRAWITEMSTRUCT *>(lParam);
        if (const ControlSpec *entry = specOf(int(drawn.CtlID)))
            m_painter.drawItem(drawn, *entry);
        result = TRUE;
        return true;
    }
    case WM_MEASUREITEM: {
        // Sent while a list is made: its closed field fits its box, its rows are fixed.
        auto &measured = *reinterpret_cast<MEASUREITEMSTRUCT *>(lParam);
        const ControlSpec *entry = specOf(int(measured.CtlID));
        if (measured.CtlType == ODT_COMBOBOX && entry)
            measured.itemHeight =
                UINT(measured.itemID == UINT(-1)
                         ? scaled(entry->box, m_painter.dpi()).height - m_painter.scale(6)
                         : m_painter.listItemHeight());
        result = TRUE;
        return true;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
        result = reinterpret_cast<LRESULT>(m_painter.faceBrush());
        return true;
    }
    default:
        return false;
    }
}

void Win32Window::onCommand(int id, int code)
{
    // A second click within the double-click time comes as BN_DOUBLECLICKED alone: it is a
    // click like the first.
    const ControlSpec *entry = specOf(id);
    if (entry && entry->kind == ControlKind::Button &&
        (code == BN_CLICKED || code == BN_DOUBLECLICKED))
        m_form.click(entry->id);
}

void Win32Window::onScroll(HWND bar, int code)
{
    const ControlSpec *entry = specOf(GetDlgCtrlID(bar));
    const std::optional<ScrollStep> step = scrollStep(code);
    if (!entry || entry->kind != ControlKind::ScrollBar || !step)
        return;
    int track = 0;
    if (*step == ScrollStep::Track) {
        SCROLLINFO info{sizeof(info), SIF_TRACKPOS, 0, 0, 0, 0, 0};
        GetScrollInfo(bar, SB_CTL, &info);
        track = info.nTrackPos;
    }
    m_form.scroll(entry->id, *step, track);
}

} // namespace qmr
