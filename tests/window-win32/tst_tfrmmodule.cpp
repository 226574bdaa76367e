// The native window in the test program's own process, on the emulated module of the test
// rig (fake clock, in-memory ports): what the Win32 renderer adds to the form. The native
// controls it makes, the Win32 messages it turns into the form's events (a double click, a
// reactivation, a scroll step, a tick, a close request, Enter), the focus it takes and gives
// back, and how the window is shown; its layout and fonts at the monitor's DPI, and every
// caption whole in each language.

#include "support/rig.h"
#include "texts/languagetable.h"
#include "window-win32/dpiscale.h"
#include "window-win32/win32window.h"
#include "window-win32/wintext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace qmr {
namespace {

class NativeWindowTest : public ::testing::Test
{
protected:
    void open()
    {
        m_window = std::make_unique<Win32Window>(m_rig.link, m_rig.clock, m_rig.store, m_languages,
                                                 GetModuleHandleW(nullptr));
        m_window->setErrorBox([this](HWND, const std::wstring &text) { m_errors.push_back(text); });
        m_rig.link.setMessagePump([this] { m_window->pumpEvents(); });
    }
    // Shown and made the active window, as after a start from the desktop.
    void openShown()
    {
        open();
        m_window->show(SW_SHOWNORMAL);
        SetActiveWindow(window());
    }

    HWND window() const { return m_window->handle(); }
    HWND item(Control id) const { return m_window->item(id); }
    std::string textOf(Control id) const { return narrow(windowText(item(id))); }
    void command(Control id, int code)
    {
        SendMessageW(window(), WM_COMMAND, MAKEWPARAM(int(id), code),
                     reinterpret_cast<LPARAM>(item(id)));
    }
    void scroll(Control bar, int code)
    {
        SendMessageW(window(), WM_HSCROLL, MAKEWPARAM(code, 0),
                     reinterpret_cast<LPARAM>(item(bar)));
    }
    // The mouse messages of a click on a button, queued as the system queues them.
    void postClick(Control id, UINT down)
    {
        const LPARAM inside = MAKELPARAM(10, 10);
        PostMessageW(item(id), down, MK_LBUTTON, inside);
        PostMessageW(item(id), WM_LBUTTONUP, 0, inside);
    }
    bool timerRunning() const
    {
        // KillTimer fails for a timer that does not run; one that did is started again.
        if (!KillTimer(window(), Win32Window::TickTimerId))
            return false;
        SetTimer(window(), Win32Window::TickTimerId, TickIntervalMs, nullptr);
        return true;
    }
    // A control's box within the control the inventory puts it in.
    RECT boxIn(HWND control, Control parent) const
    {
        RECT box{};
        GetWindowRect(control, &box);
        MapWindowPoints(nullptr, parent == Control::None ? window() : item(parent),
                        reinterpret_cast<POINT *>(&box), 2);
        return box;
    }

    // What Windows sends when the window has moved to a monitor of another DPI: the DPI and
    // a frame around the client area scaled to it.
    void changeDpi(int dpi)
    {
        RECT frame{0, 0, MulDiv(FormWidth, dpi, 96), MulDiv(FormHeight, dpi, 96)};
        AdjustWindowRectEx(&frame, DWORD(GetWindowLongPtrW(window(), GWL_STYLE)), FALSE,
                           DWORD(GetWindowLongPtrW(window(), GWL_EXSTYLE)));
        RECT now{};
        GetWindowRect(window(), &now);
        OffsetRect(&frame, now.left - frame.left, now.top - frame.top);
        SendMessageW(window(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&frame));
        ASSERT_EQ(m_window->dpi(), dpi);
    }
    // Every control at its box scaled to the window's DPI, the client area too.
    void expectLayoutAtDpi()
    {
        const int dpi = m_window->dpi();
        SCOPED_TRACE("at " + std::to_string(dpi) + " DPI");
        for (const ControlSpec &entry : formInventory()) {
            if (entry.kind == ControlKind::Page)
                continue;
            SCOPED_TRACE(std::string(entry.name));
            const RECT box = boxIn(item(entry.id), entry.parent);
            const Box wanted = scaled(entry.box, dpi);
            EXPECT_EQ(box.left, wanted.x);
            EXPECT_EQ(box.top, wanted.y);
            EXPECT_EQ(box.right - box.left, wanted.width);
            EXPECT_EQ(box.bottom - box.top, wanted.height);
        }
        RECT client{};
        GetClientRect(window(), &client);
        EXPECT_EQ(client.right, MulDiv(FormWidth, dpi, 96));
        EXPECT_EQ(client.bottom, MulDiv(FormHeight, dpi, 96));
    }
    // The character height of the font a control holds.
    int fontHeight(Control id) const
    {
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(item(id), WM_GETFONT, 0, 0)), sizeof(font),
                   &font);
        return -font.lfHeight;
    }
    // The face of the font a control holds.
    std::wstring faceOf(Control id) const
    {
        HDC dc = GetDC(item(id));
        HGDIOBJ previous =
            SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(item(id), WM_GETFONT, 0, 0)));
        wchar_t face[LF_FACESIZE] = {};
        GetTextFaceW(dc, LF_FACESIZE, face);
        SelectObject(dc, previous);
        ReleaseDC(item(id), dc);
        return face;
    }
    // Each caption's text, measured in the font it is drawn in, fits the room it is drawn in:
    // inside the bevel, beside the icon, clear of the lamp. The message line wraps, so its
    // wrapped text must fit; the system draws the labels in their boxes, the group's title
    // on its frame and the page's caption on a tab of the page control.
    void expectCaptionsWhole(const std::string &language)
    {
        const WindowPainter &painter = m_window->painter();
        for (const ControlSpec &entry : formInventory()) {
            HWND control = entry.kind == ControlKind::Page ? item(entry.parent) : item(entry.id);
            const std::wstring text = windowText(item(entry.id));
            if (text.empty() || entry.kind == ControlKind::Lamp)
                continue;
            SCOPED_TRACE(language + " at " + std::to_string(m_window->dpi()) + " DPI, " +
                         std::string(entry.name) + " \"" + narrow(text) + "\"");
            RECT client{};
            GetClientRect(control, &client);
            RECT room = painter.captionRoom(entry, client);
            if (entry.kind == ControlKind::GroupBox || entry.kind == ControlKind::Page)
                InflateRect(&room, -painter.scale(8), 0); // the frame's corners, the tab's edges
            // The font the text is drawn in: the painter's, or the one a system-drawn control
            // holds (the tabs are the page control's).
            const HFONT font =
                entry.kind == ControlKind::Page
                    ? reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0))
                    : painter.captionFont(entry);
            EXPECT_EQ(font, entry.kind == ControlKind::Page
                                ? font
                                : reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
            HDC dc = GetDC(control);
            HGDIOBJ previous = SelectObject(dc, font);
            // Every character in the face, none shown as an empty box.
            std::vector<WORD> glyphs(text.size());
            GetGlyphIndicesW(dc, text.c_str(), int(text.size()), glyphs.data(),
                             GGI_MARK_NONEXISTING_GLYPHS);
            EXPECT_EQ(std::count(glyphs.begin(), glyphs.end(), WORD(0xFFFF)), 0);
            SIZE extent{};
            GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &extent);
            RECT wrapped = room;
            DrawTextW(dc, text.c_str(), int(text.size()), &wrapped,
                      DT_CENTER | DT_WORDBREAK | DT_NOPREFIX | DT_CALCRECT);
            SelectObject(dc, previous);
            ReleaseDC(control, dc);
            if (entry.id == Control::pnMsg)
                extent = {wrapped.right - wrapped.left, wrapped.bottom - wrapped.top};
            EXPECT_LE(extent.cx, room.right - room.left);
            if (entry.kind != ControlKind::GroupBox && entry.kind != ControlKind::Page) {
                EXPECT_LE(extent.cy, room.bottom - room.top);
            }
        }
    }

    Rig m_rig;
    LanguageTable m_languages;
    std::unique_ptr<Win32Window> m_window;
    std::vector<std::wstring> m_errors;
};

TEST_F(NativeWindowTest, EveryControlIsMadeAtItsBoxWithItsStartText)
{
    open();
    for (const ControlSpec &entry : formInventory()) {
        SCOPED_TRACE(std::string(entry.name));
        HWND control = item(entry.id);
        ASSERT_TRUE(control);
        // A driver or a screen reader finds it by its ID in the window or in the panel
        // holding it.
        EXPECT_EQ(GetDlgItem(GetParent(control), int(entry.id)), control);
        EXPECT_EQ(GetAncestor(control, GA_ROOT), window());
        if (entry.kind == ControlKind::Page) {
            // The page lies inside its page control, below the tabs.
            const RECT box = boxIn(control, entry.parent);
            RECT tabs{};
            GetClientRect(item(entry.parent), &tabs);
            EXPECT_GT(box.top, 0);
            EXPECT_LE(box.bottom, tabs.bottom);
            EXPECT_LE(box.right, tabs.right);
        }
        if (entry.caption.translated || !entry.caption.before.empty()) {
            EXPECT_EQ(textOf(entry.id),
                      captionText(entry.caption, m_languages.text(entry.caption.row, 0)));
        }
        EXPECT_EQ(SendMessageW(control, CB_GETCOUNT, 0, 0),
                  entry.kind == ControlKind::List ? LRESULT(listItems(entry.id).size()) : 0);
    }
    // At 96 DPI the boxes are the inventory's; on a monitor of another DPI, scaled to it.
    EXPECT_EQ(m_window->dpi(), windowDpi(window()));
    // The DPI the test script set for the display, when it says so.
    if (const char *wanted = std::getenv("QMR_TEST_DPI")) {
        EXPECT_EQ(m_window->dpi(), std::atoi(wanted));
    }
    expectLayoutAtDpi();
}

TEST_F(NativeWindowTest, AMoveToAMonitorOfAnotherDpiScalesTheLayoutAndTheFonts)
{
    openShown();
    const int start = m_window->dpi();
    changeDpi(192);
    expectLayoutAtDpi();
    RECT client{};
    GetClientRect(window(), &client);
    EXPECT_EQ(client.right, 1120);
    EXPECT_EQ(client.bottom, 850);
    const RECT message = boxIn(item(Control::pnMsg), Control::None);
    EXPECT_EQ(message.left, 16);
    EXPECT_EQ(message.right - message.left, 690);
    EXPECT_EQ(fontHeight(Control::btnScan), 32);
    EXPECT_EQ(fontHeight(Control::lblID), 26);
    EXPECT_EQ(fontHeight(Control::pnTAVEX), 22);
    // The page and the tall buttons on it follow their page control's new tabs.
    const RECT page = boxIn(item(Control::tsDefault), Control::None);
    const RECT factory = boxIn(item(Control::btnFactory), Control::None);
    EXPECT_EQ(factory.left, page.left + 8);
    EXPECT_EQ(factory.top, page.top + 12);
    // A language switch keeps the fonts at the DPI.
    command(Control::btnBIG5, BN_CLICKED);
    EXPECT_EQ(textOf(Control::btnExit), "結束");
    EXPECT_EQ(fontHeight(Control::btnScan), 32);
    changeDpi(start);
    expectLayoutAtDpi();
    EXPECT_EQ(fontHeight(Control::btnScan), MulDiv(16, start, 96));
}

TEST_F(NativeWindowTest, EveryCaptionIsWholeInEachLanguageAtEachDpi)
{
    openShown();
    const int start = m_window->dpi();
    std::map<std::string, std::wstring> faces;
    for (int dpi : {96, 120, 144, 192}) {
        changeDpi(dpi);
        for (const auto &[button, language] :
             {std::pair{Control::btnEng, "English"}, std::pair{Control::btnGB, "Simplified"},
              std::pair{Control::btnBIG5, "Traditional"}}) {
            command(button, BN_CLICKED);
            expectCaptionsWhole(language);
            faces[language] = faceOf(Control::btnExit);
        }
    }
    changeDpi(start);
    // Each Chinese script in a face of its own, so Traditional captions do not take the
    // mainland shapes of the characters.
    EXPECT_NE(faces["Simplified"], faces["Traditional"]);
    EXPECT_NE(faces["Simplified"], faces["English"]);
}

TEST_F(NativeWindowTest, AQuickSecondClickOnProcessModuleStopsIt)
{
    m_rig.addModule(3, m_rig.module);
    openShown();
    command(Control::btnScan, BN_CLICKED);
    ASSERT_EQ(textOf(Control::pnMsg).rfind("Get Module Info Ok", 0), 0u) << textOf(Control::pnMsg);
    m_rig.port.sent.clear();
    // Should the second click be lost, the module stops answering after a while: the mode
    // then ends as a failure instead of running on.
    m_rig.port.script = [this](const std::string &) {
        return InterceptingPort::Response{m_rig.port.sent.size() > 20
                                              ? InterceptingPort::Action::Silence
                                              : InterceptingPort::Action::Pass,
                                          {}};
    };

    // The first click starts the mode and runs it; the second arrives while it polls, within
    // the double-click time, so the button reports it as a double click.
    postClick(Control::btnProcess, WM_LBUTTONDOWN);
    postClick(Control::btnProcess, WM_LBUTTONDBLCLK);
    m_window->pumpEvents();

    // What the stop does is the form's (tst_form): here only that the double click reaches it.
    EXPECT_FALSE(m_rig.port.sent.empty()); // the mode ran
    EXPECT_LE(m_rig.port.sent.size(), 20u);
    EXPECT_FALSE(m_window->form().context().ProcessActive);
    EXPECT_EQ(textOf(Control::shComm), "yellow"); // the user's stop, not a failure
}

TEST_F(NativeWindowTest, ReactivationGivesTheFocusBackToTheControlThatHadIt)
{
    openShown();
    SetFocus(item(Control::sbID));
    HWND other = CreateWindowExW(0, L"STATIC", L"another program", WS_POPUP | WS_VISIBLE, 0, 0, 50,
                                 50, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetActiveWindow(other);
    ASSERT_NE(GetActiveWindow(), window());
    SetActiveWindow(window());
    EXPECT_EQ(GetFocus(), item(Control::sbID));
    DestroyWindow(other);
}

TEST_F(NativeWindowTest, ADisabledWindowLeavesNoControlFocused)
{
    openShown();
    for (Control focused : {Control::sbID, Control::cmbMode, Control::btnID}) {
        SCOPED_TRACE(int(focused));
        SetFocus(item(focused));
        ASSERT_EQ(m_window->focus(), focused);
        m_window->form().setWindowEnabled(false);
        EXPECT_FALSE(IsWindowEnabled(window()));
        // No key reaches a scroll bar or a list while an operation reads them.
        EXPECT_FALSE(IsChild(window(), GetFocus()));
        EXPECT_EQ(m_window->focus(), Control::None);
        m_window->form().setWindowEnabled(true);
        EXPECT_EQ(GetFocus(), item(focused));
    }
}

TEST_F(NativeWindowTest, AMaximisedStartShowsTheWindowAtItsOneSize)
{
    open();
    RECT before{};
    GetWindowRect(window(), &before);
    m_window->show(SW_SHOWMAXIMIZED);
    EXPECT_TRUE(IsWindowVisible(window()));
    EXPECT_FALSE(IsZoomed(window()));
    RECT after{};
    GetWindowRect(window(), &after);
    EXPECT_TRUE(EqualRect(&before, &after));
}

TEST_F(NativeWindowTest, ScrollStepsTicksAndEnterReachTheForm)
{
    openShown();
    scroll(Control::sbID, SB_PAGERIGHT);
    EXPECT_EQ(textOf(Control::pnID), "11");
    scroll(Control::sbID, SB_RIGHT);
    scroll(Control::sbID, SB_LINELEFT);
    EXPECT_EQ(textOf(Control::pnID), "98");
    scroll(Control::sbID, SB_ENDSCROLL);
    EXPECT_EQ(m_window->position(Control::sbID), 98);

    // The blink clock runs as a Win32 timer while the form is busy; its ticks blink the lamp.
    m_window->form().SetBusy(true);
    EXPECT_TRUE(timerRunning());
    std::set<std::string> colours;
    for (int tick = 0; tick < 2; ++tick) {
        SendMessageW(window(), WM_TIMER, Win32Window::TickTimerId, 0);
        colours.insert(textOf(Control::shComm));
    }
    EXPECT_EQ(colours, (std::set<std::string>{"red", "yellow"}));
    m_window->form().SetBusy(false);
    EXPECT_FALSE(timerRunning());

    // Enter closes an open drop-down list; otherwise the form has it.
    SetFocus(item(Control::cmbMode));
    SendMessageW(item(Control::cmbMode), CB_SHOWDROPDOWN, TRUE, 0);
    MSG enter{item(Control::cmbMode), WM_KEYDOWN, VK_RETURN, 1, 0, {}};
    EXPECT_FALSE(m_window->preTranslate(enter));
    SendMessageW(item(Control::cmbMode), CB_SHOWDROPDOWN, FALSE, 0);
    SetFocus(item(Control::btnBIG5));
    enter.hwnd = item(Control::btnBIG5);
    EXPECT_TRUE(m_window->preTranslate(enter));
    EXPECT_EQ(textOf(Control::btnExit), "結束");
    EXPECT_EQ(textOf(Control::tsDefault), "預設");
}

TEST_F(NativeWindowTest, OnlyExitDestroysTheWindowAndEndsTheEventLoop)
{
    open();
    EXPECT_EQ(GetMenuState(GetSystemMenu(window(), FALSE), SC_CLOSE, MF_BYCOMMAND), UINT(-1));
    SendMessageW(window(), WM_CLOSE, 0, 0);
    SendMessageW(window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    const HWND handle = window();
    ASSERT_TRUE(IsWindow(handle));
    // A failing handler's error goes to the error box, in UTF-16.
    m_window->showError("端口");
    EXPECT_EQ(m_errors, std::vector<std::wstring>{L"端口"});
    command(Control::btnExit, BN_CLICKED);
    EXPECT_FALSE(IsWindow(handle));
    MSG message;
    EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

} // namespace
} // namespace qmr
