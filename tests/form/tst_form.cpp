// The window's behaviour, written once in the form, against a renderer that records what it is
// told and plays the toolkit where the form asks it something (texts, selections, positions,
// the focus): start-up, each event to its operation, busy state and blink, languages and their
// save, focus, quick second clicks, closing, and recovery after an exception.

#include "form/tfrmmodule.h"
#include "support/rig.h"
#include "texts/languagetable.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace qmr {
namespace {

class RecordingRenderer : public FormRenderer
{
public:
    std::vector<Control> created;
    std::vector<Control> tabs;
    std::map<Control, std::string> texts;
    std::map<Control, std::vector<std::string>> items;
    std::map<Control, int> selections, positions;
    std::map<Control, bool> enabled;
    bool lockChecked = false;
    std::string detail;
    std::vector<LampColour> lamps;
    Script script = Script::Latin;
    Control focused = Control::None;
    bool active = true;
    bool ticking = false;
    bool waitCursor = false;
    std::vector<std::pair<int, int>> beeps;
    std::vector<std::string> errors;
    int closes = 0;
    std::function<void()> onPump;
    std::function<void()> onBeep;

    void createControl(const ControlSpec &entry, const std::vector<std::string> &list) override
    {
        created.push_back(entry.id);
        if (!list.empty())
            items[entry.id] = list;
    }
    void setTabOrder(std::span<const Control> order) override
    {
        tabs.assign(order.begin(), order.end());
    }
    void setText(Control id, const std::string &text) override { texts[id] = text; }
    std::string text(Control id) const override
    {
        const auto found = texts.find(id);
        return found == texts.end() ? std::string() : found->second;
    }
    void setDetail(const std::string &text) override { detail = text; }
    int selection(Control list) const override
    {
        const auto found = selections.find(list);
        return found == selections.end() ? -1 : found->second;
    }
    void select(Control list, int index) override { selections[list] = index; }
    int position(Control bar) const override { return positions.at(bar); }
    void setPosition(Control bar, int position) override { positions[bar] = position; }
    bool checked(Control) const override { return lockChecked; }
    void setChecked(Control, bool on) override { lockChecked = on; }
    void setEnabled(Control id, bool on) override { enabled[id] = on; }
    bool shownEnabled(Control id) const
    {
        const auto found = enabled.find(id);
        return found == enabled.end() || found->second;
    }
    bool throwOnLamp = false;
    void setLamp(LampColour colour) override
    {
        if (std::exchange(throwOnLamp, false))
            throw std::runtime_error("the lamp broke");
        lamps.push_back(colour);
    }
    void setScript(Script chosen) override { script = chosen; }
    Control focus() const override { return active ? focused : Control::None; }
    void setFocus(Control id) override { focused = id; }
    bool isActive() const override { return active; }
    void setTickRunning(bool running) override { ticking = running; }
    void setWaitCursor(bool on) override { waitCursor = on; }
    void beep(int frequencyHz, int durationMs) override
    {
        beeps.emplace_back(frequencyHz, durationMs);
        if (onBeep)
            std::exchange(onBeep, nullptr)();
    }
    void pumpEvents() override
    {
        if (onPump)
            onPump();
    }
    void showError(const std::string &text) override { errors.push_back(text); }
    void closeWindow() override { ++closes; }
};

class FormTest : public ::testing::Test
{
protected:
    FormTest()
    {
        m_rig.addModule(3, m_rig.module);
        m_rig.store.setValue(ScanCommNoName, std::int32_t(3));
        m_rig.store.setValue(ScanBaudRateName, std::string("19200,e,8,1"));
        m_rig.store.setValue(ScanBaudRateNoName, std::int32_t(5));
    }

    TfrmModule &open()
    {
        m_form =
            std::make_unique<TfrmModule>(m_rig.link, m_rig.clock, m_rig.store, m_languages, m_view);
        m_rig.link.setMessagePump([this] { m_form->processMessages(); });
        m_form->create();
        m_form->FormShow();
        m_view.focused = Control::btnScan;
        return *m_form;
    }
    const std::string &shown(Control id) { return m_view.texts[id]; }
    void scan()
    {
        m_form->click(Control::btnScan);
        ASSERT_EQ(shown(Control::pnMsg), "Get Module Info Ok. (COM : #3)");
    }

    Rig m_rig;
    LanguageTable m_languages;
    RecordingRenderer m_view;
    std::unique_ptr<TfrmModule> m_form;
};

TEST_F(FormTest, StartsWithEveryControlItsCaptionsAndTheRememberedLine)
{
    m_rig.store.setValue(ScanBaudRateNoName, std::int32_t(11));
    open();
    EXPECT_EQ(m_view.created.size(), formInventory().size());
    EXPECT_EQ(m_view.created.front(), Control::pnMsg);
    EXPECT_EQ(m_view.tabs.front(), Control::btnScan);
    EXPECT_EQ(m_view.tabs.back(), Control::chkLock);
    EXPECT_EQ(shown(Control::frmModule), "TAVEX QLN-72RT Module Config V3.20-01");
    EXPECT_EQ(shown(Control::pnMsg), "Start Scan Module!");
    EXPECT_EQ(shown(Control::pnSerial), "S/N : ________-_");
    EXPECT_EQ(shown(Control::btnFactory), "(Factory Default)");
    EXPECT_EQ(shown(Control::btnGB), "簡体");
    EXPECT_EQ(shown(Control::pnID), "__");
    EXPECT_EQ(m_view.positions[Control::sbID], 1);
    EXPECT_EQ(m_view.items[Control::cmbRS485],
              (std::vector<std::string>{"RS485 24", "RS485 32", "RS485 40"}));
    EXPECT_EQ(m_view.selections[Control::cmbBaudRate], 11);
    EXPECT_EQ(m_view.selections[Control::cmbMode], 0);
    EXPECT_EQ(m_view.selections[Control::cmbRS485], 1);
    EXPECT_TRUE(m_view.lockChecked);
    EXPECT_EQ(m_view.lamps, std::vector{LampColour::Red});
    EXPECT_EQ(m_view.script, Script::Latin);
    EXPECT_TRUE(m_rig.port.sent.empty());
    EXPECT_FALSE(m_form->closeRequested());
}

TEST_F(FormTest, AnUnknownRememberedLineSelectsTheDefaultAndChineseStartsInChinese)
{
    m_rig.store.setValue(ScanBaudRateNoName, std::int32_t(42));
    m_rig.store.setValue(LanguageFlagName, std::string("ChineseBIG5"));
    open();
    EXPECT_EQ(m_view.selections[Control::cmbBaudRate], 5);
    EXPECT_EQ(m_view.script, Script::TraditionalChinese);
    EXPECT_EQ(shown(Control::pnMsg), "請先掃描模組!");
    EXPECT_EQ(shown(Control::btnOne), "(單一讀卡機)");
}

TEST_F(FormTest, EachButtonRunsItsOperation)
{
    open();
    // Without a scan every operation but the scan refuses, sending nothing.
    for (Control id : {Control::btnProcess, Control::btnID, Control::btnBaudRate, Control::btnMode,
                       Control::btnFactory, Control::btnOne}) {
        m_view.texts[Control::pnMsg].clear();
        m_form->click(id);
        EXPECT_EQ(shown(Control::pnMsg), "Start Scan Module!") << controlName(id);
    }
    EXPECT_TRUE(m_rig.port.sent.empty());
    scan();
    EXPECT_EQ(shown(Control::pnVersion), "VER : 03.20-01");
    const std::vector<std::pair<Control, std::string>> outcomes = {
        {Control::btnID, "Set Module ID Ok"},
        {Control::btnMode, "Set Module Mode Ok"},
        {Control::btnFactory, "Set Factory Default Ok"},
        {Control::btnOne, "Set Factory Default Ok"},
        {Control::btnBaudRate, "Set Module BaudRate Ok"},
    };
    for (const auto &[id, message] : outcomes) {
        m_form->click(id);
        EXPECT_EQ(shown(Control::pnMsg), message) << controlName(id);
    }
    // Labels, panels and lists are no buttons; a click on them does nothing.
    m_rig.port.sent.clear();
    m_form->click(Control::pnMsg);
    m_form->click(Control::cmbMode);
    EXPECT_TRUE(m_rig.port.sent.empty());
}

TEST_F(FormTest, ClicksReachOnlyEnabledControlsOfAnEnabledWindow)
{
    open();
    m_form->setControlEnabled(Control::btnScan, false);
    m_form->click(Control::btnScan);
    EXPECT_TRUE(m_rig.port.sent.empty());
    m_form->setControlEnabled(Control::btnScan, true);
    m_form->setWindowEnabled(false);
    m_form->click(Control::btnScan);
    m_form->enter();
    EXPECT_TRUE(m_rig.port.sent.empty());
    m_form->setWindowEnabled(true);
    // The tall buttons lie in the quick-setting group: off with it, back with it only when
    // they are themselves enabled.
    m_form->setControlEnabled(Control::btnOne, false);
    m_form->setControlEnabled(Control::gbDefault, false);
    EXPECT_FALSE(m_view.shownEnabled(Control::btnFactory));
    EXPECT_FALSE(m_view.shownEnabled(Control::pcDefault));
    EXPECT_FALSE(m_form->isEnabled(Control::btnFactory));
    m_form->setControlEnabled(Control::gbDefault, true);
    EXPECT_TRUE(m_view.shownEnabled(Control::btnFactory));
    EXPECT_FALSE(m_view.shownEnabled(Control::btnOne));
}

TEST_F(FormTest, BusyBlinksRedThenYellowAndTheNextPeriodGoesOnFromThere)
{
    open();
    m_view.lamps.clear();
    m_form->SetBusy(true);
    EXPECT_TRUE(m_view.ticking);
    EXPECT_FALSE(m_form->windowEnabled());
    EXPECT_FALSE(m_view.shownEnabled(Control::frmModule));
    for (int i = 0; i < 3; ++i)
        m_form->tick();
    EXPECT_EQ(m_view.lamps, (std::vector{LampColour::Red, LampColour::Yellow, LampColour::Red}));
    m_form->SetBusy(false);
    EXPECT_FALSE(m_view.ticking);
    EXPECT_TRUE(m_view.shownEnabled(Control::frmModule));
    // A tick already on its way when the clock stopped paints nothing.
    m_form->tick();
    EXPECT_EQ(m_view.lamps.size(), 3u);
    m_form->SetBusy(true);
    m_form->tick();
    EXPECT_EQ(m_view.lamps.back(), LampColour::Yellow);
}

TEST_F(FormTest, LanguageButtonsSwitchSaveAndLeaveTheValuesAlone)
{
    open();
    scan();
    m_form->setId1Position(5);
    m_form->click(Control::btnGB);
    EXPECT_EQ(m_view.script, Script::SimplifiedChinese);
    EXPECT_EQ(shown(Control::frmModule), "TAVEX QLN-72RT 转换模组设定程式 V3.20-01");
    EXPECT_EQ(shown(Control::pnMsg), "请先扫描模组!");
    EXPECT_EQ(shown(Control::pnSerial), "序号 : ________-_");
    EXPECT_EQ(shown(Control::btnExit), "结束");
    EXPECT_EQ(shown(Control::btnEng), "English");
    EXPECT_EQ(shown(Control::pnID), "05");
    EXPECT_EQ(m_rig.store.textValue(LanguageFlagName), "ChineseGB");
    // The scan still counts: an operation works without a new one.
    m_form->click(Control::btnMode);
    EXPECT_EQ(shown(Control::pnMsg), "设定模组模式完成");
    // A click on the language in use applies and saves again; so does a quick second click.
    m_form->click(Control::btnBIG5);
    m_rig.store.clearRecords();
    m_form->click(Control::btnEng);
    m_form->click(Control::btnEng);
    EXPECT_EQ(m_rig.store.saves().size(), 2u);
    EXPECT_EQ(shown(Control::pnMsg), "Start Scan Module!");
    EXPECT_EQ(m_view.script, Script::Latin);
}

TEST_F(FormTest, ASecondClickOnProcessModuleStopsIt)
{
    open();
    scan();
    int pumps = 0;
    // The second click of a quick double click arrives while the loop waits for a reply.
    m_view.onPump = [&] {
        if (++pumps == 3)
            m_form->click(Control::btnProcess);
    };
    m_form->click(Control::btnProcess);
    EXPECT_EQ(shown(Control::btnProcess), "Process Module");
    EXPECT_EQ(m_view.lamps.back(), LampColour::Yellow);
    EXPECT_EQ(m_view.beeps.back(), std::pair(1000, 300));
    EXPECT_FALSE(m_form->context().ProcessActive);
    EXPECT_FALSE(m_rig.link.isOpen());
    EXPECT_TRUE(m_form->isEnabled(Control::btnExit));
}

TEST_F(FormTest, ProcessModeLocksTheOtherButtonsButNotTheIdsOrItsOwn)
{
    open();
    scan();
    std::map<Control, bool> during;
    m_view.onPump = [&] {
        for (Control id : {Control::btnExit, Control::btnScan, Control::btnFactory, Control::btnGB,
                           Control::btnProcess, Control::sbID, Control::cmbMode})
            during[id] = m_form->isEnabled(id);
        m_form->click(Control::btnProcess);
    };
    m_form->click(Control::btnProcess);
    EXPECT_FALSE(during[Control::btnExit]);
    EXPECT_FALSE(during[Control::btnScan]);
    EXPECT_FALSE(during[Control::btnFactory]);
    EXPECT_FALSE(during[Control::btnGB]);
    EXPECT_TRUE(during[Control::btnProcess]);
    EXPECT_TRUE(during[Control::sbID]);
    EXPECT_TRUE(during[Control::cmbMode]);
}

TEST_F(FormTest, FocusLeavesEveryControlWhileTheWindowIsDisabledAndComesBack)
{
    open();
    m_view.focused = Control::sbID;
    Control focusDuringScan = Control::btnScan;
    m_view.onPump = [&] { focusDuringScan = m_view.focused; };
    // Enter on a focused scroll bar presses the default button.
    m_form->enter();
    EXPECT_EQ(shown(Control::pnMsg), "Get Module Info Ok. (COM : #3)");
    EXPECT_EQ(focusDuringScan, Control::None);
    EXPECT_EQ(m_view.focused, Control::sbID);
    // A control that was disabled meanwhile gives the focus to the default button.
    m_view.focused = Control::btnID;
    m_form->setWindowEnabled(false);
    m_form->setControlEnabled(Control::btnID, false);
    m_form->setWindowEnabled(true);
    EXPECT_EQ(m_view.focused, Control::btnScan);
}

TEST_F(FormTest, ReactivationGivesTheFocusBackToTheControlThatHadIt)
{
    open();
    m_view.focused = Control::cmbMode;
    m_form->activationChanged(false);
    m_view.active = false;
    m_view.focused = Control::None;
    m_view.active = true;
    m_form->activationChanged(true);
    EXPECT_EQ(m_view.focused, Control::cmbMode);
    // So Enter presses what it pressed before: the focused button, not the scan.
    m_view.focused = Control::btnGB;
    m_form->activationChanged(false);
    m_form->activationChanged(true);
    m_form->enter();
    EXPECT_EQ(m_view.script, Script::SimplifiedChinese);
    EXPECT_TRUE(m_rig.port.sent.empty());
    // Away while an operation had the window disabled: back to the control from before it.
    m_view.focused = Control::sbID;
    m_form->setWindowEnabled(false);
    m_form->activationChanged(false);
    m_view.active = false;
    m_form->setWindowEnabled(true);
    EXPECT_EQ(m_view.focused, Control::None);
    m_view.active = true;
    m_form->activationChanged(true);
    EXPECT_EQ(m_view.focused, Control::sbID);
}

TEST_F(FormTest, ScrollStepsClampAndTheSamePositionRunsNoHandler)
{
    open();
    m_form->scroll(Control::sbID, ScrollStep::PageRight);
    EXPECT_EQ(shown(Control::pnID), "11");
    m_form->scroll(Control::sbID, ScrollStep::LineLeft);
    EXPECT_EQ(shown(Control::pnID), "10");
    m_form->scroll(Control::sbID2, ScrollStep::Track, 150);
    EXPECT_EQ(m_view.positions[Control::sbID2], 99);
    EXPECT_EQ(shown(Control::pnID2), "99");
    m_form->scroll(Control::sbID2, ScrollStep::Home);
    EXPECT_EQ(shown(Control::pnID2), "01");
    m_view.texts[Control::pnID] = "xx";
    m_form->setId1Position(10);
    EXPECT_EQ(shown(Control::pnID), "xx");
    // A toolkit that moved the bar itself reports the new position.
    m_view.positions[Control::sbID] = 42;
    m_form->positionChanged(Control::sbID);
    EXPECT_EQ(shown(Control::pnID), "42");
}

TEST_F(FormTest, OnlyExitClosesAndNothingIsSavedOnTheWay)
{
    open();
    EXPECT_FALSE(m_form->closeRequested());
    m_rig.store.clearRecords();
    m_form->click(Control::btnExit);
    EXPECT_EQ(m_view.closes, 1);
    EXPECT_TRUE(m_form->closeRequested());
    EXPECT_TRUE(m_rig.store.saves().empty());
    EXPECT_TRUE(m_rig.port.sent.empty());
}

TEST_F(FormTest, AnExceptionInAHandlerIsShownAndTheWindowIsIdleAgain)
{
    open();
    scan();
    // Process mode ends with a beep that throws: the window must not stay locked.
    m_view.onPump = [&] {
        m_view.onPump = nullptr;
        m_view.onBeep = [] { throw std::runtime_error("the beeper broke"); };
        m_form->click(Control::btnProcess);
    };
    m_form->click(Control::btnProcess);
    EXPECT_EQ(m_view.errors, std::vector<std::string>{"the beeper broke"});
    EXPECT_TRUE(m_form->windowEnabled());
    EXPECT_FALSE(m_view.ticking);
    EXPECT_FALSE(m_view.waitCursor);
    EXPECT_FALSE(m_rig.link.isOpen());
    EXPECT_FALSE(m_form->context().ProcessActive);
    EXPECT_FALSE(m_form->context().ProcessRunning);
    EXPECT_EQ(shown(Control::btnProcess), "Process Module");
    for (Control id : LockedControls)
        EXPECT_TRUE(m_form->isEnabled(id)) << controlName(id);
    // Anything that is no standard exception is shown as an unknown error; the next
    // operation works.
    m_view.onBeep = [] { throw 42; };
    m_form->click(Control::btnID);
    EXPECT_EQ(m_view.errors.back(), "Unknown error");
    m_form->click(Control::btnID);
    EXPECT_EQ(shown(Control::pnMsg), "Set Module ID Ok");
}

TEST_F(FormTest, AnExceptionInANestedEventLeavesTheRunningLoopToGoOn)
{
    open();
    scan();
    int pumps = 0;
    m_view.onPump = [&] {
        ++pumps;
        if (pumps == 2) {
            m_view.throwOnLamp = true;
            m_form->tick();
        }
        if (pumps == 4)
            m_form->click(Control::btnProcess);
    };
    m_form->click(Control::btnProcess);
    EXPECT_EQ(m_view.errors, std::vector<std::string>{"the lamp broke"});
    EXPECT_GE(pumps, 4);
    EXPECT_EQ(m_view.beeps.back(), std::pair(1000, 300));
    EXPECT_EQ(shown(Control::btnProcess), "Process Module");
}

} // namespace
} // namespace qmr
