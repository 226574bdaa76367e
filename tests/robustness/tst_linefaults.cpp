// Every operation against a module whose line misbehaves, in process on the fake clock:
// each fault of the module model crossed with each operation, a port that vanishes in the
// middle of an exchange, and a port that does not open.

#include "operations/processmode.h"
#include "operations/quicksettings.h"
#include "operations/scan.h"
#include "operations/setbaudrate.h"
#include "operations/setmode.h"
#include "operations/setmoduleid.h"
#include "support/rig.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

using namespace qmr;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

enum class Op
{
    Scan,
    Process,
    SetId,
    SetBaudRate,
    SetMode,
    Factory,
    One,
};

const std::vector<Op> AllOps = {Op::Scan,    Op::Process, Op::SetId, Op::SetBaudRate,
                                Op::SetMode, Op::Factory, Op::One};

std::string opName(Op op)
{
    switch (op) {
    case Op::Scan:
        return "Scan";
    case Op::Process:
        return "Process";
    case Op::SetId:
        return "SetId";
    case Op::SetBaudRate:
        return "SetBaudRate";
    case Op::SetMode:
        return "SetMode";
    case Op::Factory:
        return "Factory";
    case Op::One:
        return "One";
    }
    return "Unknown";
}

// Names the parameters in test output.
void PrintTo(Op op, std::ostream *os)
{
    *os << opName(op);
}

TextRow errorRow(Op op)
{
    switch (op) {
    case Op::SetId:
        return TextRow::SetModuleIdError;
    case Op::SetBaudRate:
        return TextRow::SetModuleBaudRateError;
    case Op::SetMode:
        return TextRow::SetModuleModeError;
    default:
        return TextRow::SetFactoryDefaultError;
    }
}

// A loop that never ends would hang the test; the fake clock stops it this far in.
constexpr std::uint32_t HangLimitMs = 30 * 60 * 1000;

struct Hang : std::runtime_error
{
    Hang() : std::runtime_error("fake time ran past the hang limit") {}
};

void armHangGuard(Rig &rig)
{
    const std::uint32_t start = rig.clock.milliseconds();
    rig.clock.setOnAdvance([start](std::uint32_t now) {
        if (now - start > HangLimitMs)
            throw Hang();
    });
}

// Process mode is stopped by a click this many pump calls in, should it still run.
constexpr int CancelAtPump = 5000;

// Runs one operation to its end; true when it reported success (or, for process mode,
// was still polling when the late cancel click came).
bool runOp(Rig &rig, Op op)
{
    switch (op) {
    case Op::Scan:
        return RunScan(rig.ctx).ok();
    case Op::Process: {
        rig.view.onProcessMessages = [&rig](int pump) {
            if (pump == CancelAtPump)
                RunProcessMode(rig.ctx);
        };
        const ProcessOutcome outcome = RunProcessMode(rig.ctx);
        rig.view.onProcessMessages = nullptr;
        return outcome == ProcessOutcome::UserStop;
    }
    case Op::SetId:
        return RunSetModuleId(rig.ctx) == SettingOutcome::Ok;
    case Op::SetBaudRate:
        return RunSetModuleBaudRate(rig.ctx) == SettingOutcome::Ok;
    case Op::SetMode:
        return RunSetModuleMode(rig.ctx) == SettingOutcome::Ok;
    case Op::Factory:
        return RunQuickSetting(rig.ctx, QuickSetting::FactoryDefault) == SettingOutcome::Ok;
    case Op::One:
        return RunQuickSetting(rig.ctx, QuickSetting::OneReader) == SettingOutcome::Ok;
    }
    return false;
}

// Runs the operation under the hang guard; fails the test when it did not end.
bool runGuarded(Rig &rig, Op op)
{
    armHangGuard(rig);
    bool succeeded = false;
    try {
        succeeded = runOp(rig, op);
    } catch (const Hang &) {
        ADD_FAILURE() << "the operation did not end";
    }
    rig.clock.setOnAdvance(nullptr);
    return succeeded;
}

// The module on COM3, remembered; for every operation but the scan, already scanned.
bool prepare(Rig &rig, Op op)
{
    if (op != Op::Scan)
        return rig.scanned();
    rig.addModule(3, rig.module);
    rig.remember(3, rig.module.config().lineIndex);
    return true;
}

// The failure outcome every operation shares: red lamp, the low beep last, the port given
// back, nothing left busy or disabled, and no success text.
void expectFailureOutcome(const Rig &rig, Op op)
{
    EXPECT_FALSE(rig.link.isOpen());
    EXPECT_FALSE(rig.memory.isOpen());
    EXPECT_EQ(rig.memory.closeCount(), int(rig.memory.opens().size()));
    EXPECT_EQ(rig.view.lamp, LampColour::Red);
    ASSERT_FALSE(rig.view.beeps.empty());
    EXPECT_EQ(rig.view.beeps.back(), std::pair(300, 300));
    EXPECT_FALSE(rig.view.busy);
    EXPECT_TRUE(rig.view.windowEnabled);
    EXPECT_FALSE(rig.view.waitCursor);
    EXPECT_FALSE(rig.ctx.ProcessActive);
    EXPECT_FALSE(rig.ctx.ProcessRunning);
    for (Control c : LockedControls) {
        const auto it = rig.view.enabled.find(c);
        EXPECT_TRUE(it == rig.view.enabled.end() || it->second) << controlName(c);
    }
    EXPECT_EQ(rig.view.caption, rig.view.text(TextRow::ProcessModule));

    const std::vector<std::string> okTexts = {
        rig.view.text(TextRow::GetModuleInfoOk), rig.view.text(TextRow::SetModuleIdOk),
        rig.view.text(TextRow::SetModuleBaudRateOk), rig.view.text(TextRow::SetModuleModeOk),
        rig.view.text(TextRow::SetFactoryDefaultOk)};
    for (const std::string &shown : rig.view.messages()) {
        for (const std::string &ok : okTexts)
            EXPECT_THAT(shown, ::testing::Not(StartsWith(ok)));
    }

    switch (op) {
    case Op::Scan:
        EXPECT_FALSE(rig.ctx.ScanOk);
        EXPECT_TRUE(rig.view.message == rig.view.text(TextRow::ModuleNotFind) ||
                    rig.view.message.starts_with(rig.view.text(TextRow::GetModuleInfoError)))
            << rig.view.message;
        break;
    case Op::Process:
        // Process mode reports a failed poll by lamp and beep only.
        break;
    default:
        EXPECT_EQ(rig.view.message, rig.view.text(errorRow(op)));
        break;
    }
}

// One fault of the module model.
struct Fault
{
    std::string name;
    FaultConfig config;
    // The poll does not test the reply's length: process mode rightly keeps polling.
    bool pollRunsOn = false;
};

void PrintTo(const Fault &fault, std::ostream *os)
{
    *os << fault.name;
}

FaultConfig faultOf(void (*set)(FaultConfig &))
{
    FaultConfig f;
    set(f);
    return f;
}

const std::vector<Fault> Faults = {
    {"Silent", faultOf([](FaultConfig &f) { f.silent = true; })},
    {"WrongCheck", faultOf([](FaultConfig &f) { f.wrongCheck = true; })},
    {"LowerCaseCheck", faultOf([](FaultConfig &f) { f.lowerCaseCheck = true; })},
    {"Longer", faultOf([](FaultConfig &f) { f.lengthDelta = 1; }), true},
    {"Shorter", faultOf([](FaultConfig &f) { f.lengthDelta = -1; }), true},
    {"Textless", faultOf([](FaultConfig &f) { f.lengthDelta = -12; }), true},
    {"LeadingGarbage", faultOf([](FaultConfig &f) { f.leadingGarbage = true; })},
    {"Delayed", faultOf([](FaultConfig &f) { f.delayMs = 2000; })},
    {"Flood1100", faultOf([](FaultConfig &f) { f.floodBytes = 1100; })},
    {"Flood4000", faultOf([](FaultConfig &f) { f.floodBytes = 4000; })},
    {"Endless", faultOf([](FaultConfig &f) { f.endless = true; })},
    {"DropEvery2", faultOf([](FaultConfig &f) { f.dropEvery = 2; })},
};

} // namespace

class LineFault : public ::testing::TestWithParam<std::tuple<Fault, Op>>
{
};

TEST_P(LineFault, OperationFailsCleanly)
{
    const auto &[fault, op] = GetParam();
    Rig rig;
    ASSERT_TRUE(prepare(rig, op));
    rig.module.faults() = fault.config;
    rig.view.clearRecords();
    const std::size_t opensBefore = rig.memory.opens().size();

    const bool succeeded = runGuarded(rig, op);

    if (fault.pollRunsOn && op == Op::Process) {
        // Only the cancel click ended it: a user stop with the port given back.
        EXPECT_TRUE(succeeded);
        EXPECT_FALSE(rig.link.isOpen());
        EXPECT_FALSE(rig.view.busy);
        EXPECT_EQ(rig.view.lamp, LampColour::Yellow);
        return;
    }
    EXPECT_FALSE(succeeded) << "a faulty line was reported as success";
    EXPECT_GT(rig.memory.opens().size(), opensBefore);
    expectFailureOutcome(rig, op);
}

INSTANTIATE_TEST_SUITE_P(LineFaults, LineFault,
                         ::testing::Combine(::testing::ValuesIn(Faults),
                                            ::testing::ValuesIn(AllOps)),
                         [](const ::testing::TestParamInfo<std::tuple<Fault, Op>> &info) {
                             return std::get<0>(info.param).name + "_" +
                                    opName(std::get<1>(info.param));
                         });

// The adapter is pulled while a command's frame is on its way.
struct Vanish
{
    std::string name;
    Op op;
    std::string command; // the port vanishes once this command is sent
    int occurrence;      // ... for the nth time
};

void PrintTo(const Vanish &row, std::ostream *os)
{
    *os << row.name;
}

class PortVanishes : public ::testing::TestWithParam<Vanish>
{
};

TEST_P(PortVanishes, OperationFailsAndTheNextScanFindsTheModuleAgain)
{
    const Vanish &row = GetParam();
    Rig rig;
    ASSERT_TRUE(prepare(rig, row.op));
    // From the command on, every read and write on the device fails.
    int seen = 0;
    rig.port.onCommand = [&](const std::string &sent) {
        if (sent == row.command && ++seen == row.occurrence)
            rig.memory.vanish(Rig::device(3));
    };
    const bool succeeded = runGuarded(rig, row.op);
    rig.port.onCommand = nullptr;
    EXPECT_GE(seen, row.occurrence); // retries go to the vanished port too
    EXPECT_FALSE(succeeded);
    expectFailureOutcome(rig, row.op);

    // The program stays usable: the adapter comes back under another COM number and the
    // next scan finds the module there; the operation then works again.
    rig.addModule(4, rig.module);
    rig.view.clearRecords();
    EXPECT_EQ(RunScan(rig.ctx).outcome, ScanOutcome::Ok);
    EXPECT_EQ(rig.settings.ScanCommNo, 4);
    EXPECT_TRUE(rig.ctx.ScanOk);
    EXPECT_FALSE(rig.link.isOpen());
    if (row.op != Op::Scan && row.op != Op::Process) {
        EXPECT_TRUE(runOp(rig, row.op));
    }
}

INSTANTIATE_TEST_SUITE_P(LineFaults, PortVanishes,
                         ::testing::Values(Vanish{"ScanFirstReader", Op::Scan, "A00M", 1},
                                           Vanish{"ScanVersion", Op::Scan, "A00V", 1},
                                           Vanish{"ScanSecondReader", Op::Scan, "A00N", 1},
                                           Vanish{"ProcessFirstPoll", Op::Process, "A01F", 1},
                                           Vanish{"ProcessTenthCycle", Op::Process, "A05F", 10},
                                           Vanish{"SetIdFirstId", Op::SetId, "A00C2025001001", 1},
                                           Vanish{"SetIdSecondReader", Op::SetId, "A00N", 1},
                                           Vanish{"SetBaudRateRate", Op::SetBaudRate, "A00E5", 1},
                                           Vanish{"SetModeMode", Op::SetMode, "A00A001", 1},
                                           Vanish{"FactoryRate", Op::Factory, "A00E5", 1},
                                           Vanish{"OneMode", Op::One, "A00A101", 1}),
                         [](const ::testing::TestParamInfo<Vanish> &info) {
                             return info.param.name;
                         });

TEST(LineFaults, VanishedDeviceStaysUnusable)
{
    // A port that is gone is not found again: the scan skips it and says so.
    Rig rig;
    ASSERT_TRUE(rig.scanned());
    rig.memory.vanish(Rig::device(3));
    rig.view.clearRecords();
    EXPECT_EQ(RunScan(rig.ctx).outcome, ScanOutcome::NotFound);
    EXPECT_EQ(rig.view.message, rig.view.text(TextRow::ModuleNotFind));
    EXPECT_FALSE(rig.ctx.ScanOk);
    EXPECT_EQ(RunSetModuleId(rig.ctx), SettingOutcome::NoScan);
    EXPECT_EQ(RunProcessMode(rig.ctx), ProcessOutcome::NoScan);
    EXPECT_FALSE(rig.link.isOpen());
}

// The module was found; then another program takes the port, or its rights change.
class RefusedOpen : public ::testing::TestWithParam<std::tuple<Op, PortError>>
{
};

TEST_P(RefusedOpen, SendsNothingAndNamesTheReason)
{
    const auto [op, error] = GetParam();
    Rig rig;
    ASSERT_TRUE(rig.scanned());
    rig.memory.refuseOpen(Rig::device(3), error);
    const std::size_t commandsBefore = rig.module.commands().size();

    EXPECT_FALSE(runOp(rig, op));
    EXPECT_EQ(rig.module.commands().size(), commandsBefore);
    EXPECT_EQ(rig.link.lastOpenError(), error);
    // The message line's detail names the COM number, the device and why it did not open.
    EXPECT_THAT(rig.view.detail, HasSubstr("COM3"));
    EXPECT_THAT(rig.view.detail, HasSubstr(Rig::device(3)));
    EXPECT_THAT(rig.view.detail, HasSubstr("open refused"));
    if (op == Op::Process) {
        EXPECT_EQ(rig.view.message,
                  rig.view.text(TextRow::OpenCom) + " : 3 " + rig.view.text(TextRow::Error));
    }
    expectFailureOutcome(rig, op);
}

INSTANTIATE_TEST_SUITE_P(
    LineFaults, RefusedOpen,
    ::testing::Combine(::testing::Values(Op::Process, Op::SetId, Op::SetBaudRate, Op::SetMode,
                                         Op::Factory, Op::One),
                       ::testing::Values(PortError::PermissionDenied, PortError::Busy)),
    [](const ::testing::TestParamInfo<std::tuple<Op, PortError>> &info) {
        return opName(std::get<0>(info.param)) +
               (std::get<1>(info.param) == PortError::Busy ? "_Busy" : "_Denied");
    });
