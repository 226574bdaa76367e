#pragma once

#include "form/formrenderer.h"
#include "operations/modulecontext.h"
#include "operations/moduleview.h"
#include "settings/settings.h"
#include "texts/languagetable.h"

#include <map>
#include <string>
#include <string_view>

namespace qmr {

// How the user moved a scroll bar, for toolkits that report steps rather than positions.
enum class ScrollStep
{
    LineLeft,
    LineRight,
    PageLeft,
    PageRight,
    Home,
    End,
    Track, // dragged to the given position
};

// The program's name outside its window, also the title of its message boxes.
inline constexpr std::string_view ProgramName = "TAVEX QLN-72RT Module Config";
// The text shown for the exception being handled (inside a catch block): its message, or
// "Unknown error" for anything that is no std::exception (and when none is being handled).
std::string currentExceptionText();

// The one window's behaviour, written once for every front end: start-up, what each user event
// does, the busy state and its blink, the enabling rules, language switching, focus, closing,
// and recovering from a failed handler. The operations report into it as their ModuleView; it
// shows everything through the renderer. One instance lives for the whole run.
class TfrmModule : public ModuleView
{
public:
    TfrmModule(Link &link, Clock &clock, SettingsStore &store, const LanguageTable &languages,
               FormRenderer &renderer);
    TfrmModule(const TfrmModule &) = delete;
    TfrmModule &operator=(const TfrmModule &) = delete;

    ModuleContext &context() { return m_context; }
    Settings &settings() { return m_settings; }
    FormRenderer &renderer() { return m_renderer; }

    // Start-up: the controls are made and given their start state, then FormCreate runs.
    void create();

    // The user's events, as each toolkit delivers them.
    void FormShow();
    // A button pressed: by the mouse (a quick second click is a click too), Space or Enter.
    // Ignored for a disabled control or while the window is disabled.
    void click(Control id);
    // Enter: presses the focused button, or else the default button btnScan. A front end does
    // not report the Enter that an open drop-down list takes to close itself.
    void enter();
    // A scroll bar the toolkit moved by itself: the position it shows now.
    void positionChanged(Control bar);
    // A scroll bar step reported by a toolkit that leaves the moving to the program.
    void scroll(Control bar, ScrollStep step, int trackPosition = 0);
    // Every TickIntervalMs while the blink clock runs.
    void tick();
    // The window became active or inactive on the desktop.
    void activationChanged(bool active);
    // Title bar, system menu, keyboard or window manager asks to close: true only after Exit.
    bool closeRequested() const { return m_exitRequested; }

    // The window's handlers, named after their control and event.
    void FormCreate();
    void ApplyLanguage();
    void SetBusy(bool on) override;
    void tmrBusyTimer();
    void sbIDChange();
    void sbID2Change();

    // The state the form keeps for itself.
    bool isEnabled(Control id) const;
    bool windowEnabled() const { return m_windowEnabled; }
    bool tickRunning() const { return m_tickRunning; }
    int blinkPhase() const { return m_blinkPhase; }

    // ModuleView
    std::string text(TextRow row) const override;
    void setMessage(const std::string &text) override;
    void setMessageDetail(const std::string &text) override;
    void setSerialText(const std::string &text) override;
    void setVersionText(const std::string &text) override;
    std::string id1Text() const override;
    void setId1Text(const std::string &text) override;
    std::string id2Text() const override;
    void setId2Text(const std::string &text) override;
    int id1Position() const override;
    void setId1Position(int position) override;
    int id2Position() const override;
    void setId2Position(int position) override;
    int baudRateIndex() const override;
    void selectBaudRate(int index) override;
    int modeIndex() const override;
    void selectMode(int index) override;
    int rs485Index() const override;
    void selectRs485(int index) override;
    bool lockChecked() const override;
    void setReader1Data(const std::string &text) override;
    void setReader2Data(const std::string &text) override;
    std::string processCaption() const override;
    void setProcessCaption(const std::string &text) override;
    void setControlEnabled(Control control, bool enabled) override;
    void setLamp(LampColour colour) override;
    void beep(int frequencyHz, int durationMs) override;
    void setWindowEnabled(bool enabled) override;
    void setWaitCursor(bool on) override;
    void processMessages() override;
    void showError(const std::string &text) override;

private:
    void createControls();
    void runClickHandler(Control id);
    void selectLanguage(int index);
    void setPosition(Control bar, int position);
    void showPosition(Control bar);
    // What the renderer shows for a control: its own state and that of every parent.
    void showEnabled(Control id);
    // Runs a handler; should an exception escape it, the outermost handler puts the window
    // back into its idle state, so the user is never left with a window that cannot even be
    // closed, and the error is shown. The program goes on with the next event.
    template <typename Handler> void runGuarded(Handler handler);
    void recoverFromFailure();
    // Where the focus goes back to: the control that had it, if it still takes it.
    Control focusTarget(Control remembered) const;

    Settings m_settings;
    ModuleContext m_context;
    const LanguageTable &m_languages;
    FormRenderer &m_renderer;

    std::map<Control, bool> m_enabled; // each control's own state; absent is enabled
    bool m_windowEnabled = true;
    bool m_tickRunning = false;
    int m_blinkPhase = 0; // never reset: a new busy period goes on from the last phase
    bool m_exitRequested = false;
    int m_handlerDepth = 0;
    Control m_focusBeforeDisable = Control::None;
    Control m_focusBeforeDeactivation = Control::None;
};

} // namespace qmr
