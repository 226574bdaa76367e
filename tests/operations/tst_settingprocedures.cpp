// The five setting procedures on the fake clock: the commands they send, the shared frame
// (ScanOk check, open, two attempts, outcome), and what they leave on screen and in memory.

#include "link/linedefinition.h"
#include "operations/quicksettings.h"
#include "operations/setbaudrate.h"
#include "operations/setmode.h"
#include "operations/setmoduleid.h"
#include "support/rig.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

using namespace qmr;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

using Texts = std::vector<std::string>;

enum class Procedure
{
    Id,
    BaudRate,
    Mode,
    Factory,
    One
};

SettingOutcome run(Procedure procedure, ModuleContext &ctx)
{
    switch (procedure) {
    case Procedure::Id:
        return RunSetModuleId(ctx);
    case Procedure::BaudRate:
        return RunSetModuleBaudRate(ctx);
    case Procedure::Mode:
        return RunSetModuleMode(ctx);
    case Procedure::Factory:
        return RunQuickSetting(ctx, QuickSetting::FactoryDefault);
    case Procedure::One:
        return RunQuickSetting(ctx, QuickSetting::OneReader);
    }
    return SettingOutcome::Error;
}

InterceptingPort::Response silenceIf(bool yes)
{
    InterceptingPort::Response response;
    if (yes)
        response.action = InterceptingPort::Action::Silence;
    return response;
}

void expectClosedAndEnabled(const Rig &rig)
{
    EXPECT_FALSE(rig.link.isOpen());
    EXPECT_EQ(rig.memory.closeCount(), int(rig.memory.opens().size()));
    EXPECT_TRUE(rig.view.windowEnabled);
    EXPECT_FALSE(rig.view.waitCursor);
}

const std::string Serial1 = "20250010";
const std::string Serial2 = "20250021";

} // namespace

// Each procedure with the messages it shows when the port does not open.
struct ProcedureRow
{
    const char *name;
    Procedure procedure;
    Texts errorMessages;
};

void PrintTo(const ProcedureRow &row, std::ostream *os)
{
    *os << row.name;
}

class EveryProcedure : public ::testing::TestWithParam<ProcedureRow>
{
};

TEST_P(EveryProcedure, OpenFailureFailsAtOnce)
{
    const ProcedureRow &row = GetParam();
    Rig rig;
    ASSERT_TRUE(rig.scanned());
    const int closes = rig.memory.closeCount();
    rig.memory.refuseOpen(Rig::device(3), PortError::Busy);

    EXPECT_EQ(run(row.procedure, rig.ctx), SettingOutcome::Error);
    EXPECT_THAT(rig.clock.sleeps(), IsEmpty()); // no pause before failing
    EXPECT_THAT(rig.port.sent, IsEmpty());
    EXPECT_EQ(rig.memory.closeCount(), closes);
    EXPECT_EQ(rig.view.messages(), row.errorMessages);
    EXPECT_EQ(rig.view.detail, "COM3: /dev/ttyQ3: open refused");
    EXPECT_EQ(rig.view.lamp, LampColour::Red);
    EXPECT_THAT(rig.view.beeps, ElementsAre(std::pair(300, 300)));
    EXPECT_TRUE(rig.view.windowEnabled);
    EXPECT_FALSE(rig.view.waitCursor);
}

TEST_P(EveryProcedure, OpeningThePortClearsTheDetailOfAnEarlierFailure)
{
    // The tooltip named the device and why it did not open; once the port is back, the
    // next procedure opens it and the stale reason must not stay.
    const ProcedureRow &row = GetParam();
    Rig rig;
    ASSERT_TRUE(rig.scanned());
    rig.memory.refuseOpen(Rig::device(3), PortError::PermissionDenied);
    EXPECT_EQ(run(row.procedure, rig.ctx), SettingOutcome::Error);
    EXPECT_EQ(rig.view.detail, "COM3: /dev/ttyQ3: open refused");

    rig.memory.refuseOpen(Rig::device(3), PortError::NoError);
    rig.view.clearRecords();
    EXPECT_EQ(run(row.procedure, rig.ctx), SettingOutcome::Ok);
    EXPECT_EQ(rig.view.detail, "");
    // Cleared when the port opened, before any outcome is shown.
    const Texts details = rig.view.entries("detail: ");
    EXPECT_THAT(details, ElementsAre("detail: "));
    expectClosedAndEnabled(rig);
}

TEST_P(EveryProcedure, RefusedWithoutScan)
{
    const ProcedureRow &row = GetParam();
    Rig rig;
    rig.addModule(3, rig.module);
    rig.remember(3, 5);
    rig.view.position1 = 30;
    rig.view.baudIndex = 2;

    EXPECT_EQ(run(row.procedure, rig.ctx), SettingOutcome::NoScan);
    EXPECT_THAT(rig.view.log, ElementsAre("cursor: wait", "window: off", "pump", "lamp: red",
                                          "message: Start Scan Module!", "beep: 300 300",
                                          "window: on", "cursor: normal"));
    EXPECT_THAT(rig.memory.opens(), IsEmpty());
    EXPECT_EQ(rig.view.position1, 30);
    EXPECT_EQ(rig.view.baudIndex, 2);
}

INSTANTIATE_TEST_SUITE_P(
    SettingProcedures, EveryProcedure,
    ::testing::Values(
        ProcedureRow{"SetModuleId", Procedure::Id, {"Set Module ID = 01", "Set Module ID Error"}},
        ProcedureRow{"SetModuleBaudRate",
                     Procedure::BaudRate,
                     {"Set Module BaudRate = 19200,e,8,1", "Set Module BaudRate Error"}},
        ProcedureRow{"SetModuleMode", Procedure::Mode, {"Set Module Mode Error"}},
        ProcedureRow{"FactoryDefault",
                     Procedure::Factory,
                     {"Set Factory Default", "Set Factory Default Error"}},
        ProcedureRow{
            "OneReader", Procedure::One, {"Set Factory Default", "Set Factory Default Error"}}),
    [](const ::testing::TestParamInfo<ProcedureRow> &info) {
        return std::string(info.param.name);
    });

TEST(SettingProcedures, SetModuleId)
{
    struct Row
    {
        const char *name;
        int mode;
        Texts commands;
        std::string id2;
    };
    const Row rows[] = {
        {"two readers",
         0,
         {"A00M", "A00C" + Serial1 + "12", "A00N", "A00C" + Serial2 + "34"},
         "34"},
        {"one reader", 1, {"A00M", "A00C" + Serial1 + "12", "A00N"}, "05"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig;
        ASSERT_TRUE(rig.scanned());
        rig.view.setId1Position(12);
        rig.view.setId2Position(34);
        rig.view.mode = row.mode;
        rig.view.log.clear();

        EXPECT_EQ(RunSetModuleId(rig.ctx), SettingOutcome::Ok);
        EXPECT_EQ(rig.port.sent, row.commands);
        EXPECT_EQ(rig.sleepsOf(100), 4); // the pause after "A00N" also in one-reader mode
        EXPECT_THAT(rig.view.log, ElementsAre("cursor: wait", "window: off", "pump",
                                              "message: Set Module ID = 12", "detail: ",
                                              "lamp: yellow", "message: Set Module ID Ok",
                                              "beep: 1000 300", "window: on", "cursor: normal"));
        EXPECT_EQ(rig.module.config().reader1.id, "12");
        EXPECT_EQ(rig.module.config().reader2.id, row.id2);
        // The panels, the scan settings and ScanOk stay as they were.
        EXPECT_EQ(rig.view.id1, "12");
        EXPECT_EQ(rig.settings.ScanCommNo, 3);
        EXPECT_TRUE(rig.ctx.ScanOk);
        expectClosedAndEnabled(rig);
    }
}

TEST(SettingProcedures, SecondAttemptStartsAgain)
{
    Rig rig;
    ASSERT_TRUE(rig.scanned());
    rig.view.setId1Position(12);
    bool first = true;
    rig.port.script = [&](const std::string &command) {
        const bool drop = command == "A00N" && first;
        if (drop)
            first = false;
        return silenceIf(drop);
    };
    EXPECT_EQ(RunSetModuleId(rig.ctx), SettingOutcome::Ok);
    const std::string id1 = "A00C" + Serial1 + "12";
    EXPECT_THAT(rig.port.sent,
                ElementsAre("A00M", id1, "A00N", "A00M", id1, "A00N", "A00C" + Serial2 + "05"));
    EXPECT_EQ(rig.sleepsOf(100), 7);
    EXPECT_EQ(rig.memory.opens().size(), 3u); // the scan's two, one for both attempts
}

TEST(SettingProcedures, SecondReaderReplyOfWrongLength)
{
    // One-reader mode still needs a 16-byte "A00N"; ID 1 is set by then and stays set.
    Rig rig;
    ASSERT_TRUE(rig.scanned());
    rig.view.mode = 1;
    rig.view.setId1Position(12);
    rig.port.script = [](const std::string &command) {
        InterceptingPort::Response response;
        if (command == "A00N") {
            response.action = InterceptingPort::Action::Reply;
            response.replyText = "N05:2025002"; // 15 bytes
        }
        return response;
    };
    EXPECT_EQ(RunSetModuleId(rig.ctx), SettingOutcome::Error);
    const std::string id1 = "A00C" + Serial1 + "12";
    EXPECT_THAT(rig.port.sent, ElementsAre("A00M", id1, "A00N", "A00M", id1, "A00N"));
    EXPECT_EQ(rig.module.config().reader1.id, "12");
    EXPECT_EQ(rig.view.message, "Set Module ID Error");
    EXPECT_EQ(rig.view.lamp, LampColour::Red);
    EXPECT_THAT(rig.view.beeps, ElementsAre(std::pair(300, 300)));
    expectClosedAndEnabled(rig);
}

TEST(SettingProcedures, UnderscoreIdSentAsIs)
{
    Rig rig;
    rig.module.config().mode = '1';
    ASSERT_TRUE(rig.scanned());
    EXPECT_EQ(rig.view.id2, "__");
    rig.view.mode = 0;
    EXPECT_EQ(RunSetModuleId(rig.ctx), SettingOutcome::Error); // the module refuses "__"
    const std::string id1 = "A00C" + Serial1 + "01";
    const std::string id2 = "A00C" + Serial2 + "__";
    EXPECT_THAT(rig.port.sent, ElementsAre("A00M", id1, "A00N", id2, "A00M", id1, "A00N", id2));
    EXPECT_EQ(rig.module.config().reader2.id, "05");
}

TEST(SettingProcedures, RateCommand)
{
    const std::pair<int, std::string> rows[] = {
        {5, "A00E5"}, {9, "A00E9"}, {10, "A00EA"}, {11, "A00EB"}, {0, "A00E0"},
    };
    for (const auto &[index, command] : rows) {
        SCOPED_TRACE("line setting " + std::to_string(index));
        Rig rig;
        ASSERT_TRUE(rig.scanned());
        rig.view.baudIndex = index;

        EXPECT_EQ(RunSetModuleBaudRate(rig.ctx), SettingOutcome::Ok);
        EXPECT_THAT(rig.port.sent, ElementsAre("A00M", command));
        EXPECT_THAT(rig.view.messages(),
                    ElementsAre(std::string("Set Module BaudRate = ") + BaudRateTable[index],
                                "Set Module BaudRate Ok"));
        EXPECT_EQ(rig.settings.ScanBaudRateNo, index);
        EXPECT_EQ(rig.settings.ScanBaudRate, BaudRateTable[index]);
        EXPECT_EQ(rig.settings.ScanCommNo, 3);
        EXPECT_THAT(rig.store.saves(), IsEmpty()); // only the in-memory settings follow
        EXPECT_EQ(rig.module.config().lineIndex, index);
        ASSERT_FALSE(rig.memory.writes().empty());
        EXPECT_EQ(rig.memory.writes().back().line, (LineSettings{19200, 'e', 8, 1})); // old rate
        expectClosedAndEnabled(rig);
    }
}

TEST(SettingProcedures, RateChangeThenSetModuleId)
{
    Rig rig;
    ASSERT_TRUE(rig.scanned());
    rig.view.baudIndex = 10;
    EXPECT_EQ(RunSetModuleBaudRate(rig.ctx), SettingOutcome::Ok);
    rig.view.setId1Position(21);
    rig.port.sent.clear();

    EXPECT_EQ(RunSetModuleId(rig.ctx), SettingOutcome::Ok);
    EXPECT_EQ(rig.port.sent.size(), 4u);
    ASSERT_FALSE(rig.memory.writes().empty());
    EXPECT_EQ(rig.memory.writes().back().line, (LineSettings{115200, 'n', 8, 1}));
    EXPECT_EQ(rig.module.config().reader1.id, "21");
    EXPECT_EQ(rig.view.message, "Set Module ID Ok");
}

TEST(SettingProcedures, RateCommandFailsTwice)
{
    Rig rig;
    ASSERT_TRUE(rig.scanned());
    rig.view.baudIndex = 9;
    rig.port.script = [](const std::string &command) {
        return silenceIf(command.starts_with("A00E"));
    };

    EXPECT_EQ(RunSetModuleBaudRate(rig.ctx), SettingOutcome::Error);
    EXPECT_THAT(rig.port.sent, ElementsAre("A00M", "A00E9", "A00M", "A00E9"));
    EXPECT_EQ(rig.settings.ScanBaudRateNo, 5);
    EXPECT_EQ(rig.settings.ScanBaudRate, "19200,e,8,1");
    EXPECT_EQ(rig.view.message, "Set Module BaudRate Error");
    expectClosedAndEnabled(rig);
}

TEST(SettingProcedures, RateWithoutSelectionSendsNothing)
{
    for (int index : {-1, 12}) {
        SCOPED_TRACE("selection " + std::to_string(index));
        Rig rig;
        ASSERT_TRUE(rig.scanned());
        rig.view.baudIndex = index;

        EXPECT_EQ(RunSetModuleBaudRate(rig.ctx), SettingOutcome::Error);
        EXPECT_THAT(rig.port.sent, IsEmpty());
        EXPECT_THAT(rig.view.messages(),
                    ElementsAre("Set Module BaudRate = ", "Set Module BaudRate Error"));
        EXPECT_EQ(rig.settings.ScanBaudRateNo, 5);
        EXPECT_EQ(rig.settings.ScanBaudRate, "19200,e,8,1");
        expectClosedAndEnabled(rig);
    }
}

TEST(SettingProcedures, SetMode)
{
    struct Row
    {
        const char *name;
        int mode, rs485;
        std::string command;
    };
    const Row rows[] = {
        {"two readers, RS485 40", 0, 2, "A00A002"},
        {"one reader, RS485 24", 1, 0, "A00A100"},
        {"two readers, RS485 24", 0, 0, "A00A000"},
        {"one reader, RS485 40", 1, 2, "A00A102"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig;
        ASSERT_TRUE(rig.scanned());
        const std::string id2 = rig.view.id2;
        rig.view.mode = row.mode;
        rig.view.rs485 = row.rs485;

        EXPECT_EQ(RunSetModuleMode(rig.ctx), SettingOutcome::Ok);
        EXPECT_THAT(rig.port.sent, ElementsAre("A00M", row.command));
        EXPECT_THAT(rig.view.messages(), ElementsAre("Set Module Mode Ok")); // no progress text
        EXPECT_EQ(rig.module.config().mode, row.command.at(4));
        EXPECT_EQ(rig.module.config().rs485, row.command.at(6));
        EXPECT_EQ(rig.view.id2, id2);
        EXPECT_EQ(rig.sleepsOf(100), 2);
        expectClosedAndEnabled(rig);
    }
}

TEST(SettingProcedures, SetModeWithoutRs485SelectionSendsNothing)
{
    for (int rs485 : {-1, 3}) {
        SCOPED_TRACE("RS-485 selection " + std::to_string(rs485));
        Rig rig;
        ASSERT_TRUE(rig.scanned());
        rig.view.rs485 = rs485;
        EXPECT_EQ(RunSetModuleMode(rig.ctx), SettingOutcome::Error);
        EXPECT_THAT(rig.port.sent, IsEmpty());
        EXPECT_EQ(rig.view.message, "Set Module Mode Error");
        EXPECT_EQ(rig.module.config().rs485, '1');
        expectClosedAndEnabled(rig);
    }
}

TEST(SettingProcedures, QuickSetting)
{
    struct Row
    {
        const char *name;
        Procedure procedure;
        std::string modeCommand;
        int mode;
        std::string id2;
        Texts controls; // the log after the wait cursor, the disabled window and the pump
    };
    const Row rows[] = {
        {"Factory Default",
         Procedure::Factory,
         "A00A001",
         0,
         "05",
         {"sbID: 1", "sbID2: 1", "sbID2: 5", "cmbBaudRate: 5", "cmbMode: 0", "cmbRS485: 1",
          "message: Set Factory Default"}},
        {"One Reader",
         Procedure::One,
         "A00A101",
         1,
         "__",
         {"sbID: 1", "cmbBaudRate: 5", "cmbMode: 1", "cmbRS485: 1", "sbID2: 5", "pnID2: __",
          "message: Set Factory Default"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig;
        rig.module.config().reader1.id = "33";
        rig.module.config().reader2.id = "44";
        rig.module.config().rs485 = '2';
        ASSERT_TRUE(rig.scanned());
        // sbID2 already at 5 while its panel shows "__".
        rig.view.setId1Position(30);
        rig.view.setId2Position(5);
        rig.view.id2 = "__";
        rig.view.baudIndex = 2;
        rig.view.mode = 1 - row.mode;
        rig.view.rs485 = 0;
        rig.view.log.clear();
        const Settings before = rig.settings;

        EXPECT_EQ(run(row.procedure, rig.ctx), SettingOutcome::Ok);
        EXPECT_THAT(rig.port.sent, ElementsAre("A00M", "A00C" + Serial1 + "01", "A00N",
                                               "A00C" + Serial2 + "05", row.modeCommand, "A00E5"));
        EXPECT_EQ(rig.sleepsOf(100), 6);
        ASSERT_GE(rig.view.log.size(), 3 + row.controls.size());
        EXPECT_EQ(Texts(rig.view.log.begin() + 3,
                        rig.view.log.begin() + 3 + std::ptrdiff_t(row.controls.size())),
                  row.controls);
        EXPECT_EQ(rig.view.message, "Set Factory Default Ok");

        EXPECT_EQ(rig.view.id1, "01");
        EXPECT_EQ(rig.view.id2, row.id2);
        EXPECT_EQ(rig.view.position2, 5);
        EXPECT_EQ(rig.view.baudIndex, 5);
        EXPECT_EQ(rig.view.mode, row.mode);
        EXPECT_EQ(rig.view.rs485, 1);

        const ModuleConfig &module = rig.module.config();
        EXPECT_EQ(module.reader1.id, "01");
        EXPECT_EQ(module.reader2.id, "05"); // also in one-reader mode
        EXPECT_EQ(module.mode, row.modeCommand.at(4));
        EXPECT_EQ(module.rs485, '1');
        EXPECT_EQ(module.lineIndex, 5);

        EXPECT_EQ(rig.settings.ScanBaudRateNo, before.ScanBaudRateNo);
        EXPECT_EQ(rig.settings.ScanBaudRate, before.ScanBaudRate);
        EXPECT_THAT(rig.store.saves(), IsEmpty());
        expectClosedAndEnabled(rig);
    }
}

TEST(SettingProcedures, QuickSettingFailureKeepsControls)
{
    // The module runs at another rate: the quick setting changes IDs and mode, then the
    // rate command gets no reply; nothing is undone, on screen or in the module.
    Rig rig;
    rig.module.config().lineIndex = 9;
    ASSERT_TRUE(rig.scanned());
    rig.view.mode = 0;
    rig.view.baudIndex = 9;
    rig.port.script = [](const std::string &command) { return silenceIf(command == "A00E5"); };

    EXPECT_EQ(RunQuickSetting(rig.ctx, QuickSetting::OneReader), SettingOutcome::Error);
    ASSERT_EQ(rig.port.sent.size(), 12u);
    EXPECT_EQ(rig.port.sent[6], "A00M"); // the second attempt
    EXPECT_EQ(rig.view.message, "Set Factory Default Error");
    EXPECT_EQ(rig.view.baudIndex, 5);
    EXPECT_EQ(rig.view.mode, 1);
    EXPECT_EQ(rig.view.id2, "__");
    EXPECT_EQ(rig.module.config().mode, '1');
    EXPECT_EQ(rig.module.config().lineIndex, 9);
    EXPECT_EQ(rig.settings.ScanBaudRateNo, 9);
    expectClosedAndEnabled(rig);
}

TEST(SettingProcedures, ARawNetworkPortKeepsItsLine)
{
    // On a raw TCP port the line is the server's: a procedure that would move the module off
    // it is refused before anything is sent; one that keeps the line goes on.
    struct Row
    {
        Procedure procedure;
        int rememberedLine;
        bool refused;
    };
    for (const Row &row : {Row{Procedure::BaudRate, 5, true}, Row{Procedure::Factory, 2, true},
                           Row{Procedure::Factory, 5, false}, Row{Procedure::Id, 2, false}}) {
        Rig rig;
        ASSERT_TRUE(rig.scanned());
        rig.map.set(3, "tcp://127.0.0.1:4002"); // no such device in memory: an open fails
        rig.remember(3, row.rememberedLine);
        rig.view.baudIndex = 2;
        const SettingOutcome outcome = run(row.procedure, rig.ctx);
        EXPECT_EQ(outcome == SettingOutcome::LineFixed, row.refused) << int(row.procedure);
        EXPECT_THAT(rig.port.sent, IsEmpty());
        if (row.refused) {
            EXPECT_THAT(rig.view.message, ::testing::HasSubstr("raw TCP port"));
            EXPECT_THAT(rig.clock.sleeps(), IsEmpty());
            EXPECT_EQ(rig.view.lamp, LampColour::Red);
        }
        expectClosedAndEnabled(rig);
    }
}
