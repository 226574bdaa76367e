#include "form/tfrmmodule.h"

#include "link/linedefinition.h"
#include "operations/processmode.h"
#include "operations/quicksettings.h"
#include "operations/scan.h"
#include "operations/setbaudrate.h"
#include "operations/setmode.h"
#include "operations/setmoduleid.h"
#include "settings/settingsstore.h"

#include <algorithm>
#include <cstdio>
#include <exception>

namespace qmr {

namespace {

std::string twoDigits(int value)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%02d", value);
    return digits;
}

} // namespace

std::string currentExceptionText()
{
    const std::exception_ptr current = std::current_exception();
    if (!current)
        return "Unknown error";
    try {
        std::rethrow_exception(current);
    } catch (const std::exception &error) {
        return error.what();
    } catch (...) {
        return "Unknown error";
    }
}

TfrmModule::TfrmModule(Link &link, Clock &clock, SettingsStore &store,
                       const LanguageTable &languages, FormRenderer &renderer)
    : m_context{link, clock, m_settings, store, *this}, m_languages(languages), m_renderer(renderer)
{
}

void TfrmModule::create()
{
    createControls();
    FormCreate();
}

void TfrmModule::createControls()
{
    for (const ControlSpec &entry : formInventory())
        m_renderer.createControl(entry, listItems(entry.id));
    m_renderer.setTabOrder(tabOrder());
    // The start texts in English; the language switch at show time replaces the translated ones.
    for (const ControlSpec &entry : formInventory()) {
        if (!entry.caption.before.empty() || entry.caption.translated)
            m_renderer.setText(entry.id,
                               captionText(entry.caption, m_languages.text(entry.caption.row, 0)));
    }
    for (Control bar : {Control::sbID, Control::sbID2})
        m_renderer.setPosition(bar, MinReaderId);
    m_renderer.setChecked(Control::chkLock, true);
    m_renderer.setLamp(LampColour::Red);
}

void TfrmModule::FormCreate()
{
    LoadSettings(m_context.store, m_settings);
    m_context.ProcessActive = false;
    m_context.ScanOk = false;
    // A stored index the list does not have selects the default line setting.
    m_renderer.select(Control::cmbBaudRate, safeBaudRateNo(m_settings.ScanBaudRateNo));
    m_renderer.select(Control::cmbMode, 0);
    m_renderer.select(Control::cmbRS485, 1);
}

void TfrmModule::FormShow()
{
    runGuarded([this] { ApplyLanguage(); });
}

void TfrmModule::ApplyLanguage()
{
    m_renderer.setScript(scriptOf(m_settings.LanguageIndex));
    for (Control id : translatedCaptions()) {
        const Caption &caption = controlSpec(id).caption;
        m_renderer.setText(id, captionText(caption, text(caption.row)));
    }
}

void TfrmModule::click(Control id)
{
    if (!isButton(id) || !isEnabled(id))
        return;
    runGuarded([this, id] { runClickHandler(id); });
}

void TfrmModule::runClickHandler(Control id)
{
    switch (id) {
    case Control::btnScan:
        RunScan(m_context);
        break;
    case Control::btnProcess:
        // A click while the loop runs is a nested call that only asks the loop to stop.
        RunProcessMode(m_context);
        break;
    case Control::btnID:
        RunSetModuleId(m_context);
        break;
    case Control::btnBaudRate:
        RunSetModuleBaudRate(m_context);
        break;
    case Control::btnMode:
        RunSetModuleMode(m_context);
        break;
    case Control::btnFactory:
        RunQuickSetting(m_context, QuickSetting::FactoryDefault);
        break;
    case Control::btnOne:
        RunQuickSetting(m_context, QuickSetting::OneReader);
        break;
    case Control::btnEng:
        selectLanguage(0);
        break;
    case Control::btnGB:
        selectLanguage(1);
        break;
    case Control::btnBIG5:
        selectLanguage(2);
        break;
    case Control::btnExit:
        // Nothing is saved and nothing is sent on the way out.
        m_exitRequested = true;
        m_renderer.closeWindow();
        break;
    default:
        break;
    }
}

void TfrmModule::selectLanguage(int index)
{
    // Saved and applied also when the language does not change.
    m_settings.selectLanguage(index);
    SaveLanguage(m_context.store, m_settings);
    ApplyLanguage();
}

void TfrmModule::enter()
{
    const Control focused = m_renderer.focus();
    click(isButton(focused) ? focused : DefaultButton);
}

void TfrmModule::positionChanged(Control bar)
{
    runGuarded([this, bar] { showPosition(bar); });
}

void TfrmModule::scroll(Control bar, ScrollStep step, int trackPosition)
{
    if (!isEnabled(bar))
        return;
    int position = m_renderer.position(bar);
    switch (step) {
    case ScrollStep::LineLeft:
        position -= IdSmallStep;
        break;
    case ScrollStep::LineRight:
        position += IdSmallStep;
        break;
    case ScrollStep::PageLeft:
        position -= IdLargeStep;
        break;
    case ScrollStep::PageRight:
        position += IdLargeStep;
        break;
    case ScrollStep::Home:
        position = MinReaderId;
        break;
    case ScrollStep::End:
        position = MaxReaderId;
        break;
    case ScrollStep::Track:
        position = trackPosition;
        break;
    }
    runGuarded([this, bar, position] { setPosition(bar, position); });
}

void TfrmModule::setPosition(Control bar, int position)
{
    position = std::clamp(position, MinReaderId, MaxReaderId);
    if (position == m_renderer.position(bar))
        return; // the same position runs no change handler
    m_renderer.setPosition(bar, position);
    showPosition(bar);
}

void TfrmModule::showPosition(Control bar)
{
    if (bar == Control::sbID)
        sbIDChange();
    else if (bar == Control::sbID2)
        sbID2Change();
}

void TfrmModule::sbIDChange()
{
    m_renderer.setText(Control::pnID, twoDigits(m_renderer.position(Control::sbID)));
}

void TfrmModule::sbID2Change()
{
    m_renderer.setText(Control::pnID2, twoDigits(m_renderer.position(Control::sbID2)));
}

void TfrmModule::tick()
{
    // A tick already queued when the clock stopped paints nothing.
    if (m_tickRunning)
        runGuarded([this] { tmrBusyTimer(); });
}

void TfrmModule::tmrBusyTimer()
{
    if (m_blinkPhase == 1) {
        m_blinkPhase = 0;
        m_renderer.setLamp(LampColour::Yellow);
    } else {
        m_blinkPhase = 1;
        m_renderer.setLamp(LampColour::Red);
    }
}

void TfrmModule::SetBusy(bool on)
{
    if (on) {
        m_tickRunning = true;
        m_renderer.setTickRunning(true);
        setWindowEnabled(false);
    } else {
        setWindowEnabled(true);
        m_tickRunning = false;
        m_renderer.setTickRunning(false);
    }
}

void TfrmModule::activationChanged(bool active)
{
    if (!active) {
        // A disabled window has given its focus away already: it is the one from before.
        const Control focused = m_renderer.focus();
        m_focusBeforeDeactivation =
            focused == Control::None && !m_windowEnabled ? m_focusBeforeDisable : focused;
        return;
    }
    // Back from another window: the control that had the focus gets it again, so Enter does
    // what it would have done before. A disabled window gets it when it is enabled.
    if (m_windowEnabled)
        m_renderer.setFocus(focusTarget(m_focusBeforeDeactivation));
}

Control TfrmModule::focusTarget(Control remembered) const
{
    return remembered != Control::None && isEnabled(remembered) ? remembered : Control::btnScan;
}

void TfrmModule::setWindowEnabled(bool enabled)
{
    if (enabled == m_windowEnabled)
        return;
    if (!enabled) {
        // The focused control loses the focus with the window, so no key can change a scroll
        // bar or a list while the operation reads them.
        const Control focused = m_renderer.focus();
        if (focused != Control::None)
            m_focusBeforeDisable = focused;
        m_windowEnabled = false;
        m_renderer.setEnabled(Control::frmModule, false);
        m_renderer.setFocus(Control::None);
        return;
    }
    m_windowEnabled = true;
    m_renderer.setEnabled(Control::frmModule, true);
    if (m_renderer.isActive())
        m_renderer.setFocus(focusTarget(m_focusBeforeDisable));
}

bool TfrmModule::isEnabled(Control id) const
{
    if (!m_windowEnabled)
        return false;
    for (Control each = id; each != Control::None && each != Control::frmModule;
         each = controlSpec(each).parent) {
        const auto found = m_enabled.find(each);
        if (found != m_enabled.end() && !found->second)
            return false;
    }
    return true;
}

void TfrmModule::setControlEnabled(Control control, bool enabled)
{
    m_enabled[control] = enabled;
    showEnabled(control);
}

void TfrmModule::showEnabled(Control id)
{
    bool shown = true;
    for (Control each = id; each != Control::None; each = controlSpec(each).parent) {
        const auto found = m_enabled.find(each);
        shown = shown && (found == m_enabled.end() || found->second);
    }
    m_renderer.setEnabled(id, shown);
    for (const ControlSpec &entry : formInventory()) {
        if (entry.parent == id)
            showEnabled(entry.id);
    }
}

template <typename Handler> void TfrmModule::runGuarded(Handler handler)
{
    ++m_handlerDepth;
    try {
        handler();
    } catch (...) {
        // A nested handler (a click during process mode) leaves the outer run to go on.
        if (m_handlerDepth == 1)
            recoverFromFailure();
        --m_handlerDepth;
        m_renderer.showError(currentExceptionText());
        return;
    }
    --m_handlerDepth;
}

void TfrmModule::recoverFromFailure()
{
    if (m_context.link.isOpen())
        m_context.link.ComClose();
    m_tickRunning = false;
    m_renderer.setTickRunning(false);
    setWindowEnabled(true);
    setWaitCursor(false);
    // The outermost handler has ended, so no polling loop is left behind.
    if (m_context.ProcessRunning || m_context.ProcessActive) {
        m_context.ProcessActive = false;
        m_context.ProcessRunning = false;
        setProcessCaption(text(TextRow::ProcessModule));
    }
    for (Control control : LockedControls)
        setControlEnabled(control, true);
}

std::string TfrmModule::text(TextRow row) const
{
    return m_languages.text(row, m_settings.LanguageIndex);
}

void TfrmModule::setMessage(const std::string &text)
{
    m_renderer.setText(Control::pnMsg, text);
}

void TfrmModule::setMessageDetail(const std::string &text)
{
    m_renderer.setDetail(text);
}

void TfrmModule::setSerialText(const std::string &text)
{
    m_renderer.setText(Control::pnSerial, text);
}

void TfrmModule::setVersionText(const std::string &text)
{
    m_renderer.setText(Control::pnVersion, text);
}

std::string TfrmModule::id1Text() const
{
    return m_renderer.text(Control::pnID);
}

void TfrmModule::setId1Text(const std::string &text)
{
    m_renderer.setText(Control::pnID, text);
}

std::string TfrmModule::id2Text() const
{
    return m_renderer.text(Control::pnID2);
}

void TfrmModule::setId2Text(const std::string &text)
{
    m_renderer.setText(Control::pnID2, text);
}

int TfrmModule::id1Position() const
{
    return m_renderer.position(Control::sbID);
}

void TfrmModule::setId1Position(int position)
{
    setPosition(Control::sbID, position);
}

int TfrmModule::id2Position() const
{
    return m_renderer.position(Control::sbID2);
}

void TfrmModule::setId2Position(int position)
{
    setPosition(Control::sbID2, position);
}

int TfrmModule::baudRateIndex() const
{
    return m_renderer.selection(Control::cmbBaudRate);
}

void TfrmModule::selectBaudRate(int index)
{
    m_renderer.select(Control::cmbBaudRate, index);
}

int TfrmModule::modeIndex() const
{
    return m_renderer.selection(Control::cmbMode);
}

void TfrmModule::selectMode(int index)
{
    m_renderer.select(Control::cmbMode, index);
}

int TfrmModule::rs485Index() const
{
    return m_renderer.selection(Control::cmbRS485);
}

void TfrmModule::selectRs485(int index)
{
    m_renderer.select(Control::cmbRS485, index);
}

bool TfrmModule::lockChecked() const
{
    return m_renderer.checked(Control::chkLock);
}

void TfrmModule::setReader1Data(const std::string &text)
{
    m_renderer.setText(Control::pnQMR1, text);
}

void TfrmModule::setReader2Data(const std::string &text)
{
    m_renderer.setText(Control::pnQMR2, text);
}

std::string TfrmModule::processCaption() const
{
    return m_renderer.text(Control::btnProcess);
}

void TfrmModule::setProcessCaption(const std::string &text)
{
    m_renderer.setText(Control::btnProcess, text);
}

void TfrmModule::setLamp(LampColour colour)
{
    m_renderer.setLamp(colour);
}

void TfrmModule::beep(int frequencyHz, int durationMs)
{
    m_renderer.beep(frequencyHz, durationMs);
}

void TfrmModule::setWaitCursor(bool on)
{
    m_renderer.setWaitCursor(on);
}

void TfrmModule::processMessages()
{
    m_renderer.pumpEvents();
}

void TfrmModule::showError(const std::string &text)
{
    m_renderer.showError(text);
}

} // namespace qmr
