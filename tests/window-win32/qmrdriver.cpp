// Drives the running qmrconfig.exe from outside, as a person or a screen reader would: finds
// the window by its class, its controls by their IDs (named as the form's inventory names
// them), reads what they show and works them.
// One step per call, so the test script can check the module and the registry in between:
//   qmrdriver STEP [arguments...]     (output UTF-8 on standard output; exit 1 on failure)

#include "form/inventory.h"
#include "window-win32/controlids.h"
#include "window-win32/dpiscale.h"
#include "window-win32/wintext.h"

#include <windows.h>

#include <commctrl.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace qmr;

std::string utf8(const std::wstring &text)
{
    return narrow(text);
}

void say(const std::string &text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}

int fail(const std::string &why)
{
    say("FAIL: " + why);
    return 1;
}

HWND mainWindow()
{
    return FindWindowW(ids::WindowClass, nullptr);
}

// A control by its name in the form's inventory: its ID within the window, or within the
// control that holds it (the lamp within the message line).
HWND controlNamed(HWND window, std::string_view name)
{
    const Control id = controlByName(name);
    if (id == Control::None || !window)
        return nullptr;
    if (id == Control::frmModule)
        return window;
    if (HWND direct = GetDlgItem(window, int(id)))
        return direct;
    struct Search
    {
        int id;
        HWND found;
    } search{int(id), nullptr};
    EnumChildWindows(
        window,
        [](HWND candidate, LPARAM data) -> BOOL {
            auto *wanted = reinterpret_cast<Search *>(data);
            if (GetDlgCtrlID(candidate) != wanted->id)
                return TRUE;
            wanted->found = candidate;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring textOf(HWND window)
{
    // WM_GETTEXT by message, as a screen reader from another process reads it.
    const auto length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(std::size_t(length) + 1, L'\0');
    const auto copied =
        SendMessageW(window, WM_GETTEXT, WPARAM(length + 1), reinterpret_cast<LPARAM>(text.data()));
    text.resize(std::size_t(copied));
    return text;
}

// The box of a control within the control the inventory puts it in (the lamp within the
// message line, the page control within the group, the tall buttons within the page), or
// within the window.
RECT boxOf(HWND window, const std::string &name)
{
    HWND item = controlNamed(window, name);
    const Control parent = controlSpec(controlByName(name)).parent;
    HWND container = parent == Control::None ? window : controlNamed(window, controlName(parent));
    RECT box{};
    GetWindowRect(item, &box);
    POINT corner{0, 0};
    ClientToScreen(container, &corner);
    OffsetRect(&box, -corner.x, -corner.y);
    return box;
}

// The kind each control must be: its window class and the style bits that make the kind.
struct ExpectedKind
{
    const char *name;
    const wchar_t *className;
    DWORD mask;
    DWORD bits;
};

const ExpectedKind Kinds[] = {
    {"btnScan", L"Button", BS_TYPEMASK, BS_OWNERDRAW},
    {"btnFactory", L"Button", BS_TYPEMASK, BS_OWNERDRAW},
    {"chkLock", L"Button", BS_TYPEMASK, BS_AUTOCHECKBOX},
    {"gbDefault", L"Button", BS_TYPEMASK, BS_GROUPBOX},
    {"sbID", L"ScrollBar", SBS_VERT, SBS_HORZ},
    {"sbID2", L"ScrollBar", SBS_VERT, SBS_HORZ},
    {"cmbBaudRate", L"ComboBox", 3, CBS_DROPDOWNLIST},
    {"cmbMode", L"ComboBox", 3, CBS_DROPDOWNLIST},
    {"cmbRS485", L"ComboBox", 3, CBS_DROPDOWNLIST},
    {"pcDefault", L"SysTabControl32", TCS_BUTTONS | TCS_FLATBUTTONS, TCS_BUTTONS | TCS_FLATBUTTONS},
    {"pnMsg", L"Static", 0, 0},
    {"shComm", ids::LampClass, 0, 0},
    {"pnTAVEX", L"Static", 0, 0},
};

// dpi: the DPI the test set for the display; the boxes are the inventory's scaled to it.
int layout(HWND window, int dpi)
{
    // Not the window's own DPI as read from here: under Wine, GetDpiForWindow on another
    // process's window does not always give it.
    int failures = 0;
    const Box form = scaled(Box{0, 0, FormWidth, FormHeight}, dpi);
    RECT client{};
    GetClientRect(window, &client);
    if (client.right != form.width || client.bottom != form.height)
        failures += fail("client area " + std::to_string(client.right) + "x" +
                         std::to_string(client.bottom));
    const auto style = DWORD(GetWindowLongPtrW(window, GWL_STYLE));
    if ((style & WS_THICKFRAME) || (style & WS_MAXIMIZEBOX) || !(style & WS_MINIMIZEBOX) ||
        !(style & WS_SYSMENU))
        failures += fail("the border: style " + std::to_string(style));
    for (const ControlSpec &entry : formInventory()) {
        // A page fills what its page control leaves below the tabs.
        if (entry.kind == ControlKind::Page)
            continue;
        const std::string name(entry.name);
        const RECT box = boxOf(window, name);
        const Box wanted = scaled(entry.box, dpi);
        if (box.left != wanted.x || box.top != wanted.y || box.right - box.left != wanted.width ||
            box.bottom - box.top != wanted.height)
            failures += fail(name + " at " + std::to_string(box.left) + "," +
                             std::to_string(box.top) + " " + std::to_string(box.right - box.left) +
                             "x" + std::to_string(box.bottom - box.top));
    }
    for (const ExpectedKind &kind : Kinds) {
        HWND item = controlNamed(window, kind.name);
        wchar_t className[64] = {};
        GetClassNameW(item, className, 64);
        const auto itemStyle = DWORD(GetWindowLongPtrW(item, GWL_STYLE));
        if (lstrcmpiW(className, kind.className) != 0 || (itemStyle & kind.mask) != kind.bits)
            failures += fail(std::string(kind.name) + " is a " + utf8(className) + " with style " +
                             std::to_string(itemStyle));
    }
    say(failures ? "layout: " + std::to_string(failures) + " wrong"
                 : "layout: every box right at " + std::to_string(dpi) + " DPI");
    return failures ? 1 : 0;
}

// The focused control of the window's thread, by name.
std::string focusName(HWND window)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) || !info.hwndFocus)
        return "none";
    for (const ControlSpec &entry : formInventory())
        if (controlNamed(window, entry.name) == info.hwndFocus)
            return std::string(entry.name);
    return "other";
}

HWND focused(HWND window)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

// A message box of the program: a dialog of the window's thread.
HWND messageBox(HWND window)
{
    struct Search
    {
        DWORD thread;
        HWND found;
    } search{GetWindowThreadProcessId(window, nullptr), nullptr};
    EnumThreadWindows(
        search.thread,
        [](HWND candidate, LPARAM data) -> BOOL {
            wchar_t className[16] = {};
            GetClassNameW(candidate, className, 16);
            if (lstrcmpW(className, L"#32770") == 0 && IsWindowVisible(candidate)) {
                reinterpret_cast<Search *>(data)->found = candidate;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

const wchar_t *const KeyPath = L"Software\\TAVEX\\QMRConfig";

int registryValue(const std::wstring &name)
{
    BYTE data[512] = {};
    DWORD size = sizeof(data) - 2;
    DWORD type = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, KeyPath, name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type,
                     data, &size) != ERROR_SUCCESS) {
        say("missing");
        return 0;
    }
    if (type == REG_DWORD)
        say(std::to_string(*reinterpret_cast<DWORD *>(data)));
    else
        say(utf8(reinterpret_cast<wchar_t *>(data)));
    return 0;
}

std::wstring wide(const char *text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring result(std::size_t(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, result.data(), size);
    result.resize(std::size_t(size > 0 ? size - 1 : 0));
    return result;
}

int scrollCode(const std::string &name)
{
    static const std::map<std::string, int> codes{
        {"lineleft", SB_LINELEFT},   {"lineright", SB_LINERIGHT}, {"pageleft", SB_PAGELEFT},
        {"pageright", SB_PAGERIGHT}, {"left", SB_LEFT},           {"right", SB_RIGHT}};
    const auto found = codes.find(name);
    return found == codes.end() ? -1 : found->second;
}

int run(const std::vector<std::string> &args)
{
    const std::string &step = args[0];
    const auto arg = [&args](std::size_t i) { return i < args.size() ? args[i] : std::string(); };

    if (step == "regget")
        return registryValue(wide(arg(1).c_str()));
    if (step == "regclear") {
        RegDeleteKeyW(HKEY_CURRENT_USER, KeyPath);
        return 0;
    }
    if (step == "regset") {
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, KeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr);
        LSTATUS status = ERROR_INVALID_PARAMETER;
        if (arg(2) == "dword") {
            const DWORD value = DWORD(std::strtoul(arg(3).c_str(), nullptr, 10));
            status = RegSetValueExW(key, wide(arg(1).c_str()).c_str(), 0, REG_DWORD,
                                    reinterpret_cast<const BYTE *>(&value), sizeof(value));
        } else {
            const std::wstring value = wide(arg(3).c_str());
            status = RegSetValueExW(key, wide(arg(1).c_str()).c_str(), 0, REG_SZ,
                                    reinterpret_cast<const BYTE *>(value.c_str()),
                                    DWORD((value.size() + 1) * sizeof(wchar_t)));
        }
        RegCloseKey(key);
        return status == ERROR_SUCCESS ? 0 : fail("regset " + arg(1));
    }

    // Every other step works on the window; wait for it a little.
    HWND window = nullptr;
    const int waitMs = step == "find" ? std::atoi(arg(1).c_str()) * 1000 : 2000;
    for (int waited = 0; !(window = mainWindow()) && waited < waitMs; waited += 50)
        Sleep(50);
    if (step == "gone")
        return window ? fail("the window is still there") : 0;
    if (!window)
        return fail("no window of class TfrmModule");
    if (step == "find") {
        say(utf8(textOf(window)));
        return 0;
    }
    if (step == "layout")
        return layout(window, arg(1).empty() ? 96 : std::atoi(arg(1).c_str()));
    if (step == "focus") {
        say(focusName(window));
        return 0;
    }
    if (step == "close") {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    }
    if (step == "sysclose") {
        PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    }
    if (step == "altf4") {
        // Alt+F4 as the keyboard sends it: the window turns it into a close request.
        PostMessageW(window, WM_SYSKEYDOWN, VK_F4, LPARAM(1) << 29 | 1);
        PostMessageW(window, WM_SYSKEYUP, VK_F4, LPARAM(0xE0000001));
        return 0;
    }
    if (step == "key") {
        // A key pressed where the focus is.
        const WPARAM key = arg(1) == "return" ? VK_RETURN : arg(1) == "tab" ? VK_TAB : 0;
        HWND target = focused(window);
        PostMessageW(target ? target : window, WM_KEYDOWN, key, 1);
        PostMessageW(target ? target : window, WM_KEYUP, key, 0xC0000001);
        return 0;
    }
    if (step == "messagebox") {
        HWND box = messageBox(window);
        if (!box)
            return fail("no message box");
        std::wstring text;
        for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            wchar_t className[16] = {};
            GetClassNameW(child, className, 16);
            if (lstrcmpiW(className, L"Static") == 0)
                text += textOf(child);
        }
        say(utf8(textOf(box)) + ": " + utf8(text));
        if (arg(1) == "dismiss")
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        return 0;
    }

    HWND item = controlNamed(window, arg(1));
    if (!item)
        return fail("no control " + arg(1));
    if (step == "text") {
        say(utf8(textOf(item)));
        return 0;
    }
    if (step == "wait-text" || step == "wait-not-text") {
        // Until the text holds (or no longer holds) the given part, at most the given seconds.
        const std::wstring part = wide(arg(2).c_str());
        const bool present = step == "wait-text";
        const int limit = std::atoi(arg(3).c_str()) * 1000;
        std::wstring text;
        for (int waited = 0; waited <= limit; waited += 100) {
            text = textOf(item);
            if ((text.find(part) != std::wstring::npos) == present) {
                say(utf8(text));
                return 0;
            }
            Sleep(100);
        }
        return fail(arg(1) + " reads '" + utf8(text) + "'");
    }
    if (step == "wait-any") {
        // Until the text holds one of the given parts, at most the given seconds: the end of
        // an operation, whichever way it went.
        const int limit = std::atoi(arg(2).c_str()) * 1000;
        std::wstring text;
        for (int waited = 0; waited <= limit; waited += 100) {
            text = textOf(item);
            for (std::size_t i = 3; i < args.size(); ++i)
                if (text.find(wide(args[i].c_str())) != std::wstring::npos) {
                    say(utf8(text));
                    return 0;
                }
            Sleep(100);
        }
        return fail(arg(1) + " reads '" + utf8(text) + "'");
    }
    if (step == "rect") {
        const RECT box = boxOf(window, arg(1));
        say(std::to_string(box.left) + " " + std::to_string(box.top) + " " +
            std::to_string(box.right - box.left) + " " + std::to_string(box.bottom - box.top));
        return 0;
    }
    if (step == "centre") {
        // The middle of the control on the screen, for a real mouse (xdotool on the display).
        RECT box{};
        GetWindowRect(item, &box);
        say(std::to_string((box.left + box.right) / 2) + " " +
            std::to_string((box.top + box.bottom) / 2));
        return 0;
    }
    if (step == "click") {
        // Posted, as a mouse click would be queued: process mode runs inside the click.
        PostMessageW(item, BM_CLICK, 0, 0);
        return 0;
    }
    if (step == "enabled") {
        say(IsWindowEnabled(item) ? "1" : "0");
        return 0;
    }
    if (step == "check") {
        say(std::to_string(SendMessageW(item, BM_GETCHECK, 0, 0)));
        return 0;
    }
    if (step == "pos") {
        say(std::to_string(SendMessageW(item, SBM_GETPOS, 0, 0)));
        return 0;
    }
    if (step == "range") {
        int low = 0;
        int high = 0;
        SendMessageW(item, SBM_GETRANGE, reinterpret_cast<WPARAM>(&low),
                     reinterpret_cast<LPARAM>(&high));
        say(std::to_string(low) + " " + std::to_string(high));
        return 0;
    }
    if (step == "scroll") {
        const int code = scrollCode(arg(2));
        if (code < 0)
            return fail("no scroll step " + arg(2));
        SendMessageW(window, WM_HSCROLL, MAKEWPARAM(code, 0), reinterpret_cast<LPARAM>(item));
        return 0;
    }
    if (step == "cursel") {
        const auto index = SendMessageW(item, CB_GETCURSEL, 0, 0);
        say(std::to_string(index));
        return 0;
    }
    if (step == "items") {
        std::string all;
        const auto count = SendMessageW(item, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            std::wstring text(std::size_t(SendMessageW(item, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
            SendMessageW(item, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
            text.resize(text.size() - 1);
            all += (i ? "|" : "") + utf8(text);
        }
        say(all);
        return 0;
    }
    if (step == "select") {
        // As the user picks an item: the selection, then the notification to the window.
        SendMessageW(item, CB_SETCURSEL, WPARAM(std::atoi(arg(2).c_str())), 0);
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(item), CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(item));
        return 0;
    }
    if (step == "pixel") {
        // The colour on screen at x, y of the control.
        POINT point{std::atoi(arg(2).c_str()), std::atoi(arg(3).c_str())};
        ClientToScreen(item, &point);
        HDC screen = GetDC(nullptr);
        const COLORREF colour = GetPixel(screen, point.x, point.y);
        ReleaseDC(nullptr, screen);
        char hex[8];
        std::snprintf(hex, sizeof(hex), "%02x%02x%02x", GetRValue(colour), GetGValue(colour),
                      GetBValue(colour));
        say(hex);
        return 0;
    }
    if (step == "arrow-point") {
        // The screen point in the middle of a horizontal scroll bar's left or right arrow, for
        // a real mouse (xdotool) to hold it.
        RECT box{};
        GetWindowRect(item, &box);
        const int arrow = GetSystemMetrics(SM_CXHSCROLL);
        const int x = arg(2) == "left" ? box.left + arrow / 2 : box.right - 1 - arrow / 2;
        say(std::to_string(x) + " " + std::to_string((box.top + box.bottom) / 2));
        return 0;
    }
    return fail("no step " + step);
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(utf8(argv[i]));
    if (args.empty())
        return fail("usage: qmrdriver STEP [arguments...]");
    const int status = run(args);
    std::fflush(stdout);
    return status;
}
