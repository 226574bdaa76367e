#pragma once

#include "form/formrenderer.h"
#include "form/tfrmmodule.h"
#include "windowpainter.h"

#include <windows.h>

#include <functional>
#include <map>
#include <string>

namespace qmr {

// The one window of the program on Windows: plain Win32 controls, owner-drawn, made from the
// form's inventory and worked by the form. It draws and carries the user's input to the form;
// what an input does is the form's. Every control keeps what it shows where Windows keeps it
// (window texts, list selections, scroll positions, the check state), so screen readers and
// test drivers read it; owner drawing only paints.
class Win32Window : public FormRenderer
{
public:
    static constexpr UINT_PTR TickTimerId = 1;

    // Shows a message box with the error's text; tests put a recorder in its place so
    // nothing blocks.
    using ErrorBox = std::function<void(HWND owner, const std::wstring &text)>;

    Win32Window(Link &link, Clock &clock, SettingsStore &store, const LanguageTable &languages,
                HINSTANCE instance);
    ~Win32Window() override;
    Win32Window(const Win32Window &) = delete;
    Win32Window &operator=(const Win32Window &) = delete;

    TfrmModule &form() { return m_form; }
    HWND handle() const { return m_window; }
    // The native control; the window itself for Control::frmModule.
    HWND item(Control id) const;
    void setErrorBox(ErrorBox box) { m_errorBox = std::move(box); }
    // The DPI the window is laid out for: its monitor's.
    int dpi() const { return m_painter.dpi(); }
    const WindowPainter &painter() const { return m_painter; }

    // Shows the window as the program was asked to start, but never maximised: the window
    // has one size. Then the form shows its language.
    void show(int showCommand);
    // Shows the window and runs the event loop until it is closed.
    int run(int showCommand);
    // The keys a plain window does not handle by itself: Tab and Shift+Tab walk the tab
    // order, Enter goes to the form. True when the message was used up.
    bool preTranslate(const MSG &message);

    // FormRenderer: the controls made from the inventory and placed by their parents; what
    // they show where Windows keeps it (window texts, the tooltip, CB_ selections, SBM_
    // positions, BM_ checks); the focus of this thread; a Win32 timer, the cursor, Beep, the
    // message queue, MessageBox and DestroyWindow.
    void createControl(const ControlSpec &entry, const std::vector<std::string> &items) override;
    void setTabOrder(std::span<const Control> order) override;
    void setText(Control id, const std::string &text) override;
    std::string text(Control id) const override;
    void setDetail(const std::string &text) override;
    int selection(Control list) const override;
    void select(Control list, int index) override;
    int position(Control bar) const override;
    void setPosition(Control bar, int position) override;
    bool checked(Control box) const override;
    void setChecked(Control box, bool checked) override;
    void setEnabled(Control id, bool enabled) override;
    void setLamp(LampColour colour) override;
    void setScript(Script script) override;
    Control focus() const override;
    void setFocus(Control id) override;
    bool isActive() const override;
    void setTickRunning(bool running) override;
    void setWaitCursor(bool on) override;
    void beep(int frequencyHz, int durationMs) override;
    void pumpEvents() override;
    void showError(const std::string &text) override;
    void closeWindow() override;

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK lampProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static void registerClasses(HINSTANCE instance);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    // The messages of the controls: clicks, scroll steps, owner drawing.
    bool handleControls(UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result);

    void createWindow();
    // Where a control lies within the native window that holds it.
    HWND hostOf(const ControlSpec &entry) const;
    RECT boxOf(const ControlSpec &entry) const;
    // The native window's box: a drop-down list's reaches down over the list it opens.
    RECT nativeBox(const ControlSpec &entry) const;
    void place(const ControlSpec &entry);
    // Sizes the frame so the client area is the form's at the DPI in use.
    void fitClientArea();
    // The window moved to a monitor of another DPI: the suggested frame, every control placed
    // and every font made again for the new DPI.
    void onDpiChanged(int dpi, const RECT &suggested);
    void addTooltip(HWND line);
    void prepare(const ControlSpec &entry, HWND control, const std::vector<std::string> &items);
    void fitList(const ControlSpec &entry);
    void applyFonts();
    void onCommand(int id, int code);
    void onScroll(HWND bar, int code);

    WindowPainter m_painter;
    ErrorBox m_errorBox;
    HINSTANCE m_instance;
    HWND m_window = nullptr;
    HWND m_tooltip = nullptr;
    HICON m_bigIcon = nullptr;
    HICON m_smallIcon = nullptr;
    std::map<Control, HWND> m_controls;
    bool m_waitCursor = false;
    // Last: it works the window through this renderer, so it goes before the window does.
    TfrmModule m_form;
};

} // namespace qmr
