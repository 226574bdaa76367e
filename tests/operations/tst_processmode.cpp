// Process mode on the fake clock: the polling cycle, clicks from inside its message
// processing, and the ways it ends.

#include "operations/processmode.h"
#include "operations/setmoduleid.h"
#include "support/rig.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

using namespace qmr;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

using Ints = std::vector<int>;
using Texts = std::vector<std::string>;

// A click on the Process button from inside the running loop's message processing, at the
// given pump calls (counted from the start of the mode).
struct Clicks
{
    Clicks(Rig &rig, Ints at) : m_rig(rig), m_at(std::move(at))
    {
        rig.view.onProcessMessages = [this](int pump) {
            if (std::find(m_at.begin(), m_at.end(), pump) != m_at.end())
                outcomes.push_back(RunProcessMode(m_rig.ctx));
            if (pump > 100000) // a loop that never ends fails the test instead of hanging
                m_rig.ctx.ProcessActive = false;
            if (onPump)
                onPump(pump);
        };
    }
    ~Clicks() { m_rig.view.onProcessMessages = nullptr; }
    Clicks(const Clicks &) = delete;
    Clicks &operator=(const Clicks &) = delete;

    std::vector<ProcessOutcome> outcomes;
    std::function<void(int)> onPump;

private:
    Rig &m_rig;
    Ints m_at;
};

const Texts LockedControls = {"btnExit", "btnScan",     "btnFactory", "btnOne",
                              "btnID",   "btnBaudRate", "btnMode",    "gbDefault",
                              "btnEng",  "btnGB",       "btnBIG5"};

Texts controlEntries(const std::string &state)
{
    Texts entries;
    for (const std::string &name : LockedControls)
        entries.push_back(name + ": " + state);
    return entries;
}

Texts withoutPumps(const Texts &log)
{
    Texts entries;
    std::copy_if(log.begin(), log.end(), std::back_inserter(entries),
                 [](const std::string &entry) { return entry != "pump"; });
    return entries;
}

Texts joined(std::initializer_list<Texts> parts)
{
    Texts all;
    for (const Texts &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

void expectIdleAgain(const Rig &rig)
{
    EXPECT_FALSE(rig.ctx.ProcessActive);
    EXPECT_FALSE(rig.ctx.ProcessRunning);
    EXPECT_FALSE(rig.link.isOpen());
    EXPECT_EQ(rig.memory.closeCount(), int(rig.memory.opens().size()));
    EXPECT_EQ(rig.view.caption, "Process Module");
    for (const std::string &name : LockedControls) {
        SCOPED_TRACE(name);
        const auto it =
            std::find_if(rig.view.enabled.begin(), rig.view.enabled.end(),
                         [&](const auto &entry) { return controlName(entry.first) == name; });
        ASSERT_NE(it, rig.view.enabled.end());
        EXPECT_TRUE(it->second);
    }
    EXPECT_FALSE(rig.view.busy);
    EXPECT_TRUE(rig.view.windowEnabled);
}

InterceptingPort::Response silenceIf(bool yes)
{
    InterceptingPort::Response response;
    if (yes)
        response.action = InterceptingPort::Action::Silence;
    return response;
}

} // namespace

// One run of the mode stopped by a cancel click at a chosen pump call.
struct Cycle
{
    const char *name;
    int mode;
    int cancelAt;
    Texts commands;
    Ints pumpsBefore; // pump calls before each command
    std::string reader2;
};

void PrintTo(const Cycle &row, std::ostream *os)
{
    *os << row.name;
}

class ProcessModeCycle : public ::testing::TestWithParam<Cycle>
{
};

TEST_P(ProcessModeCycle, PollsUntilTheCancelClick)
{
    const Cycle &row = GetParam();
    Rig rig;
    ASSERT_TRUE(rig.scanned());
    rig.view.mode = row.mode;
    const std::size_t opensBefore = rig.memory.opens().size();
    const std::string message = rig.view.message;
    Clicks clicks(rig, {row.cancelAt});
    Ints pumps, sleeps;
    rig.port.onCommand = [&](const std::string &) {
        pumps.push_back(rig.view.pumps);
        sleeps.push_back(rig.sleepsOf(2));
    };

    EXPECT_EQ(RunProcessMode(rig.ctx), ProcessOutcome::UserStop);
    EXPECT_THAT(clicks.outcomes, ElementsAre(ProcessOutcome::CancelClick));
    EXPECT_EQ(rig.port.sent, row.commands);
    EXPECT_EQ(pumps, row.pumpsBefore);
    EXPECT_EQ(sleeps, row.pumpsBefore); // every pump followed by a 2 ms sleep
    EXPECT_EQ(rig.sleepsOf(2), row.pumpsBefore.back());
    EXPECT_EQ(rig.view.reader1, "0000012345");
    EXPECT_EQ(rig.view.reader2, row.reader2);

    const Texts log = withoutPumps(rig.view.log);
    const Texts start = joined({{"btnProcess: Cancel Process Module", "pnQMR1: ", "pnQMR2: "},
                                controlEntries("off"),
                                {"detail: ", "busy: on", "window: on"}});
    ASSERT_GE(log.size(), start.size());
    EXPECT_EQ(Texts(log.begin(), log.begin() + std::ptrdiff_t(start.size())), start);
    const Texts end = joined({{"busy: off", "lamp: yellow", "beep: 1000 300"},
                              controlEntries("on"),
                              {"btnProcess: Process Module"}});
    ASSERT_GE(log.size(), end.size());
    EXPECT_EQ(Texts(log.end() - std::ptrdiff_t(end.size()), log.end()), end);
    EXPECT_EQ(rig.view.message, message); // the mode leaves the message line alone
    EXPECT_EQ(rig.memory.opens().size(), opensBefore + 1);
    expectIdleAgain(rig);
}

INSTANTIATE_TEST_SUITE_P(
    ProcessMode, ProcessModeCycle,
    ::testing::Values(
        Cycle{"TwoReadersCancelInTheFirstPause", 0, 1, {"A01F", "A05F"}, {20, 40}, "0000067890"},
        Cycle{"TwoReadersCancelInTheThirdPause",
              0,
              41,
              {"A01F", "A05F", "A01F", "A05F"},
              {20, 40, 60, 80},
              "0000067890"},
        Cycle{"TwoReadersCancelInTheSecondReadersPause",
              0,
              40,
              {"A01F", "A05F"},
              {20, 40},
              "0000067890"},
        Cycle{"OneReaderCancelInTheFirstPause", 1, 1, {"A01F"}, {20}, ""},
        Cycle{"OneReaderCancelInTheSecondPause", 1, 21, {"A01F", "A01F"}, {20, 40}, ""}),
    [](const ::testing::TestParamInfo<Cycle> &info) { return std::string(info.param.name); });

TEST(ProcessMode, PollReplyLengths)
{
    struct Row
    {
        const char *name;
        std::string replyText;
        std::string reader1;
    };
    const Row rows[] = {
        {"9 bytes: empty data", "F01: ", ""},
        {"8 bytes: unchanged", "F01:", "0000012345"},
        {"10 bytes: one character", "F01: 7", "7"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig;
        ASSERT_TRUE(rig.scanned());
        rig.view.mode = 1;
        Clicks clicks(rig, {21});
        int polls = 0;
        rig.port.script = [&](const std::string &) {
            InterceptingPort::Response response;
            if (++polls == 2) {
                response.action = InterceptingPort::Action::Reply;
                response.replyText = row.replyText;
            }
            return response;
        };
        EXPECT_EQ(RunProcessMode(rig.ctx), ProcessOutcome::UserStop);
        EXPECT_EQ(polls, 2);
        EXPECT_EQ(rig.view.reader1, row.reader1);
    }
}

TEST(ProcessMode, ModeChangedWhileRunningTakesEffectAtOnce)
{
    Rig rig;
    ASSERT_TRUE(rig.scanned());
    rig.view.mode = 1;
    Clicks clicks(rig, {41});
    clicks.onPump = [&](int pump) {
        if (pump == 25)
            rig.view.mode = 0; // read afresh after the next first-reader poll
    };
    EXPECT_EQ(RunProcessMode(rig.ctx), ProcessOutcome::UserStop);
    EXPECT_THAT(rig.port.sent, ElementsAre("A01F", "A01F", "A05F"));
    EXPECT_EQ(rig.view.reader2, "0000067890");
}

TEST(ProcessMode, IdMovedWhileRunningIsPolled)
{
    Rig rig;
    ASSERT_TRUE(rig.scanned());
    Clicks clicks(rig, {});
    clicks.onPump = [&](int pump) {
        if (pump == 5)
            rig.view.setId1Position(7);
    };
    // No reader has ID 07: the first failing poll ends the mode without a retry.
    EXPECT_EQ(RunProcessMode(rig.ctx), ProcessOutcome::Failed);
    EXPECT_THAT(rig.port.sent, ElementsAre("A07F"));
    EXPECT_EQ(rig.view.lamp, LampColour::Red);
    EXPECT_THAT(rig.view.beeps, ElementsAre(std::pair(300, 300)));
    expectIdleAgain(rig);
}

TEST(ProcessMode, UnderscoreIdFails)
{
    // Found in one-reader mode, the list switched to two readers by hand: "__" goes out.
    Rig rig;
    rig.module.config().mode = '1';
    ASSERT_TRUE(rig.scanned());
    EXPECT_EQ(rig.view.id2, "__");
    rig.view.mode = 0;
    Clicks clicks(rig, {});
    EXPECT_EQ(RunProcessMode(rig.ctx), ProcessOutcome::Failed);
    EXPECT_THAT(rig.port.sent, ElementsAre("A01F", "A__F"));
    EXPECT_EQ(rig.view.lamp, LampColour::Red);
    EXPECT_THAT(rig.view.beeps, ElementsAre(std::pair(300, 300)));
    expectIdleAgain(rig);
}

TEST(ProcessMode, FailureAfterCancelIsUserStop)
{
    Rig rig;
    ASSERT_TRUE(rig.scanned());
    Clicks clicks(rig, {1});
    rig.port.script = [](const std::string &command) { return silenceIf(command == "A05F"); };
    EXPECT_EQ(RunProcessMode(rig.ctx), ProcessOutcome::UserStop);
    EXPECT_THAT(rig.port.sent, ElementsAre("A01F", "A05F"));
    EXPECT_EQ(rig.view.lamp, LampColour::Yellow);
    EXPECT_THAT(rig.view.beeps, ElementsAre(std::pair(1000, 300)));
    expectIdleAgain(rig);
}

TEST(ProcessMode, ClickWhileStoppingIgnored)
{
    Rig rig;
    ASSERT_TRUE(rig.scanned());
    const std::size_t opensBefore = rig.memory.opens().size();
    Clicks clicks(rig, {1, 5, 30});
    EXPECT_EQ(RunProcessMode(rig.ctx), ProcessOutcome::UserStop);
    EXPECT_THAT(clicks.outcomes, ElementsAre(ProcessOutcome::CancelClick, ProcessOutcome::Ignored,
                                             ProcessOutcome::Ignored));
    EXPECT_THAT(rig.port.sent, ElementsAre("A01F", "A05F"));
    EXPECT_EQ(rig.memory.opens().size(), opensBefore + 1);
    const Texts log = withoutPumps(rig.view.log);
    EXPECT_EQ(std::count(log.begin(), log.end(), "btnProcess: Cancel Process Module"), 1);
    expectIdleAgain(rig);
}

TEST(ProcessMode, OpenFailure)
{
    Rig rig;
    ASSERT_TRUE(rig.scanned());
    rig.memory.refuseOpen(Rig::device(3), PortError::Busy);
    EXPECT_EQ(RunProcessMode(rig.ctx), ProcessOutcome::OpenFailed);

    const Texts expected = joined({{"btnProcess: Cancel Process Module", "pnQMR1: ", "pnQMR2: "},
                                   controlEntries("off"),
                                   {"detail: COM3: /dev/ttyQ3: open refused", "lamp: red",
                                    "message: Open COM : 3 Error", "beep: 300 300"},
                                   controlEntries("on"),
                                   {"btnProcess: Process Module"}});
    EXPECT_EQ(rig.view.log, expected); // the busy state is not touched
    EXPECT_THAT(rig.port.sent, IsEmpty());
    expectIdleAgain(rig);
}

TEST(ProcessMode, OpeningThePortClearsTheDetailOfAnEarlierFailure)
{
    // A setting procedure could not open the port and left the reason in the tooltip; once
    // the port is back, process mode opens it and the stale reason goes.
    Rig rig;
    ASSERT_TRUE(rig.scanned());
    rig.memory.refuseOpen(Rig::device(3), PortError::PermissionDenied);
    EXPECT_EQ(RunSetModuleId(rig.ctx), SettingOutcome::Error);
    EXPECT_EQ(rig.view.detail, "COM3: /dev/ttyQ3: open refused");

    rig.memory.refuseOpen(Rig::device(3), PortError::NoError);
    rig.view.clearRecords(); // pumps count from the start of the mode
    std::string detailWhilePolling = "?";
    Clicks clicks(rig, {21});
    clicks.onPump = [&](int pump) {
        if (pump == 1)
            detailWhilePolling = rig.view.detail;
    };
    EXPECT_EQ(RunProcessMode(rig.ctx), ProcessOutcome::UserStop);
    EXPECT_EQ(detailWhilePolling, "");
    EXPECT_EQ(rig.view.detail, "");

    // The same after process mode's own failed open.
    rig.memory.refuseOpen(Rig::device(3), PortError::Busy);
    EXPECT_EQ(RunProcessMode(rig.ctx), ProcessOutcome::OpenFailed);
    EXPECT_EQ(rig.view.detail, "COM3: /dev/ttyQ3: open refused");
    rig.memory.refuseOpen(Rig::device(3), PortError::NoError);
    rig.view.clearRecords();
    EXPECT_EQ(RunProcessMode(rig.ctx), ProcessOutcome::UserStop);
    EXPECT_EQ(rig.view.detail, "");
    expectIdleAgain(rig);
}

TEST(ProcessMode, RefusedWithoutScan)
{
    Rig rig;
    rig.addModule(3, rig.module);
    rig.remember(3, 5);
    EXPECT_EQ(RunProcessMode(rig.ctx), ProcessOutcome::NoScan);
    EXPECT_THAT(rig.view.log, ElementsAre("message: Start Scan Module!", "beep: 300 300"));
    EXPECT_THAT(rig.memory.opens(), IsEmpty());
    EXPECT_FALSE(rig.ctx.ProcessActive);
}

// The pause before a poll: every slice ends at its deadline counted from the pause's start, so
// a late wake-up (or slow message processing) shortens what follows instead of lengthening
// the pause, and the window's events run in every slice.
TEST(ProcessMode, PauseSlicesEndAtDeadlinesFromItsStart)
{
    struct Row
    {
        const char *name;
        std::deque<std::int64_t> lateUs;                   // how late each wake-up comes, in turn
        int slowPump;                                      // this pump takes 5 ms (0: none)
        std::vector<std::pair<int, std::int64_t>> pumpsAt; // pump index: microseconds in
        std::int64_t lengthUs;
    };
    std::deque<std::int64_t> lastLate(PollPauseSlices - 1, 0);
    lastLate.push_back(300);
    const std::vector<Row> rows = {
        {"OnTime", {}, 0, {{1, 2000}, {19, 38000}}, 40000},
        {"LateWakeUpShortensTheNextSlice", {0, 700}, 0, {{2, 4700}, {3, 6000}}, 40000},
        {"WakeUpPastTheNextDeadlines", {0, 4500}, 0, {{2, 8500}, {4, 8500}, {5, 10000}}, 40000},
        {"SlowMessagesEatIntoLaterSlices", {}, 5, {{5, 13000}, {6, 13000}, {7, 14000}}, 40000},
        {"OnlyTheLastWakeUpLengthensThePause", lastLate, 0, {{19, 38000}}, 40300},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        FakeClock clock(0xFFFFFFF0u); // the millisecond count wraps inside the pause
        RecordingView view;
        clock.wakeLate(row.lateUs);
        const std::int64_t start = clock.microseconds();
        std::vector<std::int64_t> pumpsAt;
        view.onProcessMessages = [&](int pump) {
            pumpsAt.push_back(clock.microseconds() - start);
            if (pump == row.slowPump)
                clock.advance(5);
        };
        PollPause(clock, view);

        EXPECT_EQ(clock.microseconds() - start, row.lengthUs);
        std::vector<std::int64_t> deadlines;
        for (int k = 1; k <= PollPauseSlices; ++k)
            deadlines.push_back(start + k * PollPauseSliceMs * 1000);
        EXPECT_EQ(clock.wakeDeadlines(), deadlines);
        ASSERT_EQ(pumpsAt.size(), std::size_t(PollPauseSlices));
        EXPECT_EQ(pumpsAt[0], 0);
        for (const auto &[pump, at] : row.pumpsAt)
            EXPECT_EQ(pumpsAt[std::size_t(pump)], at) << "pump " << pump;
    }
}
