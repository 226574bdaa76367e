// The native window in the test program's own process, on the emulated module of the test
// rig (fake clock, in-memory ports): what the outside driver cannot reach, such as the blink
// ticks one by one, the recovery after an exception and the saves the window makes.

#include "support/rig.h"
#include "texts/languagetable.h"
#include "window-win32/tfrmmodule.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace qmr {
namespace {

class NativeWindowTest : public ::testing::Test
{
protected:
    void open()
    {
        m_window = std::make_unique<TfrmModule>(m_rig.link, m_rig.clock, m_rig.store, m_languages,
                                                GetModuleHandleW(nullptr));
        m_window->setErrorBox([this](HWND, const std::wstring &text) { m_errors.push_back(text); });
        m_rig.link.setMessagePump([this] { m_window->processMessages(); });
        m_window->FormShow();
    }

    HWND window() const { return m_window->handle(); }
    HWND item(int id) const
    {
        return id == ids::shComm ? GetDlgItem(item(ids::pnMsg), id) : GetDlgItem(window(), id);
    }
    std::wstring textOf(int id) const { return textOfWindow(item(id)); }
    static std::wstring textOfWindow(HWND handle)
    {
        wchar_t text[256] = {};
        GetWindowTextW(handle, text, 256);
        return text;
    }
    void click(int id)
    {
        SendMessageW(window(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(item(id)));
    }
    void tick() { SendMessageW(window(), WM_TIMER, TfrmModule::BusyTimerId, 0); }
    bool timerRunning() const
    {
        // KillTimer fails for a timer that does not run; one that did is started again.
        if (!KillTimer(window(), TfrmModule::BusyTimerId))
            return false;
        SetTimer(window(), TfrmModule::BusyTimerId, TfrmModule::BlinkIntervalMs, nullptr);
        return true;
    }
    int selection(int id) const { return int(SendMessageW(item(id), CB_GETCURSEL, 0, 0)); }

    Rig m_rig;
    LanguageTable m_languages;
    std::unique_ptr<TfrmModule> m_window;
    std::vector<std::wstring> m_errors;
};

TEST_F(NativeWindowTest, StartsWithTheDefaultsAndTheEnglishCaptions)
{
    open();
    EXPECT_EQ(textOfWindow(window()), L"TAVEX QLN-72RT Module Config V3.20-01");
    EXPECT_EQ(textOf(ids::pnMsg), L"Start Scan Module!");
    EXPECT_EQ(textOf(ids::pnSerial), L"S/N : ________-_");
    EXPECT_EQ(textOf(ids::pnVersion), L"VER : __.__-__");
    EXPECT_EQ(textOf(ids::pnID), L"__");
    EXPECT_EQ(textOf(ids::pnID2), L"__");
    EXPECT_EQ(textOf(ids::shComm), L"red");
    EXPECT_EQ(selection(ids::cmbBaudRate), 5);
    EXPECT_EQ(selection(ids::cmbMode), 0);
    EXPECT_EQ(selection(ids::cmbRS485), 1);
    EXPECT_TRUE(m_window->lockChecked());
    EXPECT_EQ(m_window->id1Position(), 1);
    // Nothing is sent and no port is opened at start.
    EXPECT_TRUE(m_rig.port.sent.empty());
    EXPECT_FALSE(m_rig.link.isOpen());
}

TEST_F(NativeWindowTest, TheRememberedLineSelectsItsItemAndAnUnknownOneTheDefault)
{
    for (const auto &[stored, shown] : {std::pair{11, 11}, {0, 0}, {42, 5}, {-1, 5}}) {
        SCOPED_TRACE(stored);
        m_rig.store.setValue(ScanBaudRateNoName, std::int32_t(stored));
        open();
        EXPECT_EQ(m_window->baudRateIndex(), shown);
        m_window.reset();
    }
}

TEST_F(NativeWindowTest, TheIdScrollBarsStayInRangeAndShowTwoDigits)
{
    open();
    m_window->setId1Position(7);
    EXPECT_EQ(textOf(ids::pnID), L"07");
    m_window->setId1Position(0);
    EXPECT_EQ(m_window->id1Position(), 1);
    EXPECT_EQ(textOf(ids::pnID), L"01");
    m_window->setId2Position(150);
    EXPECT_EQ(m_window->id2Position(), 99);
    EXPECT_EQ(textOf(ids::pnID2), L"99");
    // The bar's own steps: small 1, large 10, stopping at the ends.
    SendMessageW(window(), WM_HSCROLL, SB_PAGERIGHT, reinterpret_cast<LPARAM>(item(ids::sbID)));
    EXPECT_EQ(textOf(ids::pnID), L"11");
    SendMessageW(window(), WM_HSCROLL, SB_LINELEFT, reinterpret_cast<LPARAM>(item(ids::sbID)));
    EXPECT_EQ(textOf(ids::pnID), L"10");
    SendMessageW(window(), WM_HSCROLL, SB_PAGERIGHT, reinterpret_cast<LPARAM>(item(ids::sbID2)));
    EXPECT_EQ(m_window->id2Position(), 99);
    // Setting the position the bar already has runs no change handler.
    m_window->setId1Text("xx");
    m_window->setId1Position(10);
    EXPECT_EQ(m_window->id1Text(), "xx");
}

TEST_F(NativeWindowTest, BusyBlinksRedThenYellowAndTheNextPeriodGoesOnFromThere)
{
    open();
    m_window->setBusy(true);
    EXPECT_FALSE(IsWindowEnabled(window()));
    EXPECT_TRUE(timerRunning());
    std::vector<std::wstring> colours;
    for (int i = 0; i < 3; ++i) {
        tick();
        colours.push_back(textOf(ids::shComm));
    }
    EXPECT_EQ(colours, (std::vector<std::wstring>{L"red", L"yellow", L"red"}));
    m_window->setBusy(false);
    EXPECT_TRUE(IsWindowEnabled(window()));
    EXPECT_FALSE(timerRunning());
    EXPECT_EQ(textOf(ids::shComm), L"red");

    m_window->setBusy(true);
    tick();
    EXPECT_EQ(textOf(ids::shComm), L"yellow");
    m_window->setBusy(false);
}

TEST_F(NativeWindowTest, LanguageButtonsSwitchAtOnceAndAreSaved)
{
    open();
    m_window->setId1Text("05");
    click(ids::btnGB);
    EXPECT_EQ(textOfWindow(window()), L"TAVEX QLN-72RT 转换模组设定程式 V3.20-01");
    EXPECT_EQ(textOf(ids::pnMsg), L"请先扫描模组!");
    EXPECT_EQ(textOf(ids::btnFactory), L"(出厂预设)");
    EXPECT_EQ(textOf(ids::tsDefault), L"预设");
    EXPECT_EQ(m_rig.store.textValue(LanguageFlagName), "ChineseGB");
    EXPECT_EQ(textOf(ids::pnID), L"05");
    EXPECT_EQ(textOf(ids::btnEng), L"English");
    wchar_t item0[32] = {};
    SendMessageW(item(ids::cmbMode), CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(item0));
    EXPECT_STREQ(item0, L"Two Reader");

    click(ids::btnBIG5);
    EXPECT_EQ(textOf(ids::btnExit), L"結束");
    EXPECT_EQ(m_rig.store.textValue(LanguageFlagName), "ChineseBIG5");

    // The current language clicked again is saved and applied again.
    click(ids::btnEng);
    m_window->setMessage("something else");
    m_rig.store.clearRecords();
    click(ids::btnEng);
    EXPECT_EQ(textOf(ids::pnMsg), L"Start Scan Module!");
    EXPECT_EQ(m_rig.store.saves().size(), 1u);
    EXPECT_EQ(m_rig.store.textValue(LanguageFlagName), "English");
}

TEST_F(NativeWindowTest, OnlyExitClosesTheWindowAndNothingIsSavedOnTheWay)
{
    open();
    EXPECT_EQ(GetMenuState(GetSystemMenu(window(), FALSE), SC_CLOSE, MF_BYCOMMAND), UINT(-1));
    SendMessageW(window(), WM_CLOSE, 0, 0);
    SendMessageW(window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(IsWindow(window()));
    m_rig.store.clearRecords();
    const HWND handle = window();
    click(ids::btnExit);
    EXPECT_FALSE(IsWindow(handle));
    MSG message;
    EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_TRUE(m_rig.store.saves().empty());
}

TEST_F(NativeWindowTest, EnterPressesScanUnlessAButtonHasTheFocus)
{
    m_rig.addModule(3, m_rig.module);
    open();
    ShowWindow(window(), SW_SHOW);
    SetFocus(item(ids::cmbMode));
    MSG enter{item(ids::cmbMode), WM_KEYDOWN, VK_RETURN, 1, 0, {}};
    EXPECT_TRUE(m_window->preTranslate(enter));
    EXPECT_EQ(textOf(ids::pnMsg).rfind(L"Get Module Info Ok", 0), 0u) << textOf(ids::pnMsg);

    SetFocus(item(ids::btnBIG5));
    enter.hwnd = item(ids::btnBIG5);
    EXPECT_TRUE(m_window->preTranslate(enter));
    EXPECT_EQ(textOf(ids::btnExit), L"結束");
}

TEST_F(NativeWindowTest, AnExceptionInAHandlerIsShownAndTheWindowIsIdleAgain)
{
    m_rig.addModule(3, m_rig.module);
    open();
    click(ids::btnScan);
    ASSERT_EQ(textOf(ids::pnMsg).rfind(L"Get Module Info Ok", 0), 0u) << textOf(ids::pnMsg);

    // Process mode opens the port and fails inside its loop's handler.
    m_rig.port.refuse = [](const std::string &) -> bool {
        throw std::runtime_error("the port driver failed");
    };
    click(ids::btnProcess);
    ASSERT_EQ(m_errors.size(), 1u);
    EXPECT_EQ(m_errors[0], L"the port driver failed");
    EXPECT_TRUE(IsWindowEnabled(window()));
    EXPECT_FALSE(timerRunning());
    EXPECT_FALSE(m_rig.link.isOpen());
    EXPECT_FALSE(m_window->context().ProcessActive);
    EXPECT_EQ(textOf(ids::btnProcess), L"Process Module");
    for (int id : {ids::btnExit, ids::btnScan, ids::btnFactory, ids::btnOne, ids::btnID,
                   ids::btnBaudRate, ids::btnMode, ids::btnEng, ids::btnGB, ids::btnBIG5})
        EXPECT_TRUE(IsWindowEnabled(item(id))) << id;

    // The next click works as usual.
    m_rig.port.refuse = nullptr;
    click(ids::btnScan);
    EXPECT_EQ(textOf(ids::pnMsg).rfind(L"Get Module Info Ok", 0), 0u);
}

TEST_F(NativeWindowTest, ProcessModeDisablesTheOtherButtonsAndTheGroupHoldsItsButtons)
{
    open();
    m_window->setControlEnabled(Control::gbDefault, false);
    EXPECT_FALSE(IsWindowEnabled(item(ids::btnFactory)));
    EXPECT_FALSE(IsWindowEnabled(item(ids::btnOne)));
    m_window->setControlEnabled(Control::btnFactory, false);
    m_window->setControlEnabled(Control::gbDefault, true);
    EXPECT_FALSE(IsWindowEnabled(item(ids::btnFactory)));
    EXPECT_TRUE(IsWindowEnabled(item(ids::btnOne)));
    // A click on a disabled button does nothing.
    m_window->setControlEnabled(Control::btnGB, false);
    click(ids::btnGB);
    EXPECT_EQ(textOf(ids::btnExit), L"Exit");
}

} // namespace
} // namespace qmr
