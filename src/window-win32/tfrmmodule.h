#pragma once

#include "controlids.h"
#include "operations/modulecontext.h"
#include "operations/moduleview.h"
#include "settings/settings.h"
#include "texts/languagetable.h"

#include <windows.h>

#include <array>
#include <functional>
#include <map>
#include <string>

namespace qmr {

// The one window of the program on Windows: plain Win32 controls at the pixel boxes of the
// window's layout, over the same operations as the Qt window on Linux. Every control keeps
// what it shows where Windows keeps it (window texts, list selections, scroll positions, the
// check state), so screen readers and test drivers read it; owner drawing only paints.
class TfrmModule : public ModuleView
{
public:
    static constexpr int ClientWidth = 560;
    static constexpr int ClientHeight = 425;
    static constexpr int BlinkIntervalMs = 200;
    static constexpr UINT_PTR BusyTimerId = 1;

    // Shows a message box with the error's text; tests put a recorder in its place so
    // nothing blocks.
    using ErrorBox = std::function<void(HWND owner, const std::wstring &text)>;

    TfrmModule(Link &link, Clock &clock, SettingsStore &store, const LanguageTable &languages,
               HINSTANCE instance);
    ~TfrmModule() override;
    TfrmModule(const TfrmModule &) = delete;
    TfrmModule &operator=(const TfrmModule &) = delete;

    HWND handle() const { return m_window; }
    ModuleContext &context() { return m_context; }
    Settings &settings() { return m_settings; }
    void setErrorBox(ErrorBox box) { m_errorBox = std::move(box); }

    // Shows the window (FormShow applies the language) and runs the event loop until Exit.
    int run(int showCommand);
    // The keyboard rules of the window that a plain window does not have: Tab and Shift+Tab
    // walk the tab order, Enter presses the focused button or else btnScan. True when the
    // message was used up.
    bool preTranslate(const MSG &message);

    // Event handlers, named after their control and event.
    void FormCreate();
    void FormShow();
    void ApplyLanguage();
    void SetBusy(bool on);
    void tmrBusyTimer();
    void sbIDChange();
    void sbID2Change();
    void btnScanClick();
    void btnProcessClick();
    void btnIDClick();
    void btnBaudRateClick();
    void btnModeClick();
    void btnFactoryClick();
    void btnOneClick();
    void btnEngClick();
    void btnGBClick();
    void btnBIG5Click();
    void btnExitClick();

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
    void setBusy(bool on) override;
    void setWindowEnabled(bool enabled) override;
    void setWaitCursor(bool on) override;
    void processMessages() override;
    void showError(const std::string &text) override;

    // The name of the program outside the window, also the title of its message boxes.
    static constexpr wchar_t ProgramName[] = L"TAVEX QLN-72RT Module Config";

private:
    // The fonts of the window; the Chinese texts need a face that has their characters.
    struct Fonts
    {
        HFONT base = nullptr;        // 16 px bold: most captions
        HFONT label = nullptr;       // 13 px regular: the captions beside the fields, btnEng
        HFONT page = nullptr;        // 16 px regular: the tab of the quick-setting page
        HFONT footer = nullptr;      // 11 px regular: pnTAVEX
        HFONT headline = nullptr;    // 26 px bold: the headline of the quick-setting pictures
        HFONT pictureLine = nullptr; // 15 px bold: their two lines
        HFONT mark = nullptr;        // 16 px regular CJK: the language buttons' characters
    };

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK lampProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static void registerClasses(HINSTANCE instance);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);

    void createWindow();
    void createControls();
    HWND create(const wchar_t *className, ids::ControlId id, DWORD style, int x, int y, int width,
                int height, HWND parent = nullptr, DWORD exStyle = 0);
    HWND control(ids::ControlId id) const;
    void makeFonts(bool chinese);
    void freeFonts();
    void applyFonts();
    void fitLists();
    void setCaption(ids::ControlId id, const std::string &utf8);
    void setCaption(ids::ControlId id, const std::wstring &text);
    std::string caption(ids::ControlId id) const;
    // A row of the language table in the current language, for the W functions.
    const std::wstring &wideText(TextRow row) const;

    void onCommand(int id, int code, HWND source);
    void onScroll(HWND bar, int code);
    void onDrawItem(const DRAWITEMSTRUCT &item);
    void onMeasureItem(MEASUREITEMSTRUCT &item);
    void drawPanel(const DRAWITEMSTRUCT &item);
    void drawButton(const DRAWITEMSTRUCT &item);
    void drawListItem(const DRAWITEMSTRUCT &item);
    void placePage();

    void setScrollPosition(ids::ControlId bar, int position);
    int scrollPosition(ids::ControlId bar) const;
    int selection(ids::ControlId list) const;
    void select(ids::ControlId list, int index);
    void setLanguage(int index);
    void refreshQuickButtons();

    // Runs a click handler. Should an exception escape it, the window is put back into its
    // idle state (only by the outermost handler: a click during process mode leaves the
    // loop to go on) and the message is shown; the program goes on with the next event.
    void runGuarded(void (TfrmModule::*handler)());
    void recoverFromFailure();

    Settings m_settings;
    ModuleContext m_context;
    const LanguageTable &m_languages;
    // The table in UTF-16, converted once: the captions come from here.
    std::array<std::wstring, LanguageTable::Rows * LanguageTable::Languages> m_wideTexts;
    ErrorBox m_errorBox;
    HINSTANCE m_instance;
    HWND m_window = nullptr;
    HWND m_tooltip = nullptr;
    HICON m_bigIcon = nullptr;
    HICON m_smallIcon = nullptr;
    HBRUSH m_highlightBrush = nullptr;
    HBRUSH m_captionBrush = nullptr;
    HBRUSH m_purpleBrush = nullptr;
    HBRUSH m_faceBrush = nullptr;
    Fonts m_fonts;
    bool m_chineseFonts = false;
    std::map<int, HWND> m_controls;

    int m_blinkPhase = 0; // never reset: a new busy period goes on from the last phase
    bool m_exitRequested = false;
    bool m_waitCursor = false;
    int m_handlerDepth = 0;
    bool m_groupEnabled = true;   // gbDefault, which holds btnFactory and btnOne
    bool m_factoryEnabled = true; // btnFactory's own state
    bool m_oneEnabled = true;     // btnOne's own state
    HWND m_focusBeforeDisable = nullptr;
};

} // namespace qmr
