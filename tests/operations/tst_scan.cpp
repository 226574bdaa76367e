// The module scan on the fake clock: the remembered port, the sweep over ports and line
// settings, what the view shows, and the ScanResult it hands the front ends.

#include "vocabulary/decimal.h"
#include "link/linedefinition.h"
#include "operations/scan.h"
#include "support/rig.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

using namespace qmr;
using ::testing::ElementsAre;
using ::testing::StartsWith;

namespace {

using Ints = std::vector<int>;
using Texts = std::vector<std::string>;

// The devices opened, as COM numbers (0 for a device the rig does not know).
Ints openedPorts(const Rig &rig)
{
    Ints ports;
    for (const std::string &device : rig.memory.opens()) {
        int com = 0;
        for (int n = 1; n <= 16; ++n) {
            if (device == Rig::device(n))
                com = n;
        }
        ports.push_back(com);
    }
    return ports;
}

Ints selectedBaudRates(const RecordingView &view)
{
    const std::string prefix = "cmbBaudRate: ";
    Ints indexes;
    for (const std::string &entry : view.entries(prefix))
        indexes.push_back(parseInt32(entry.substr(prefix.size())).value_or(-99));
    return indexes;
}

Ints repeated(int value, int times)
{
    return Ints(std::size_t(times), value);
}

Ints range(int first, int last)
{
    Ints values;
    for (int v = first; v <= last; ++v)
        values.push_back(v);
    return values;
}

Ints joined(std::initializer_list<Ints> parts)
{
    Ints all;
    for (const Ints &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

int countOf(const Texts &texts, const std::string &text)
{
    return int(std::count(texts.begin(), texts.end(), text));
}

// Every open was closed again, nothing is left open, and the window is back to normal.
void expectEndedIdle(const Rig &rig)
{
    EXPECT_FALSE(rig.link.isOpen());
    EXPECT_EQ(rig.memory.closeCount(), int(rig.memory.opens().size()));
    EXPECT_FALSE(rig.view.busy);
    EXPECT_FALSE(rig.view.waitCursor);
    EXPECT_TRUE(rig.view.windowEnabled);
}

// The scan settings the rig's store holds (-1 / "?" for a value never written).
struct Stored
{
    std::int32_t commNo;
    std::int32_t baudRateNo;
    std::string baudRate;
};

Stored stored(const Rig &rig)
{
    return {rig.store.intValue(ScanCommNoName).value_or(-1),
            rig.store.intValue(ScanBaudRateNoName).value_or(-1),
            rig.store.textValue(ScanBaudRateName).value_or("?")};
}

void expectScanResult(const ScanResult &actual, const ScanResult &expected)
{
    EXPECT_EQ(actual.outcome, expected.outcome);
    EXPECT_EQ(actual.port, expected.port);
    EXPECT_EQ(actual.device, expected.device);
    EXPECT_EQ(actual.line, expected.line);
    EXPECT_EQ(actual.baudRateNo, expected.baudRateNo);
    EXPECT_EQ(actual.serial, expected.serial);
    EXPECT_EQ(actual.unitSuffix, expected.unitSuffix);
    EXPECT_EQ(actual.version, expected.version);
    EXPECT_EQ(actual.modeIndex, expected.modeIndex);
    EXPECT_EQ(actual.rs485Index, expected.rs485Index);
    EXPECT_EQ(actual.id1, expected.id1);
    EXPECT_EQ(actual.id2, expected.id2);
    EXPECT_EQ(actual.readFirstReader, expected.readFirstReader);
    EXPECT_EQ(actual.readVersion, expected.readVersion);
    EXPECT_EQ(actual.readMode, expected.readMode);
    EXPECT_EQ(actual.readSecondReader, expected.readSecondReader);
    EXPECT_EQ(actual.error, expected.error);
    EXPECT_EQ(actual.ok(), expected.outcome == ScanOutcome::Ok);
}

// What a scan of the rig's default module on the remembered COM3 reports up to and
// including the "A00M" reply.
ScanResult identityOnCom3(ScanOutcome outcome)
{
    ScanResult result;
    result.outcome = outcome;
    result.port = 3;
    result.device = "/dev/ttyQ3";
    result.line = "19200,e,8,1";
    result.baudRateNo = 5;
    result.serial = "20250010";
    result.unitSuffix = 1;
    result.id1 = "01";
    result.readFirstReader = true;
    return result;
}

// The module hears nothing from the first `command` after the given one on.
void silenceEverythingAfter(Rig &rig, const std::string &last)
{
    rig.port.script = [&rig, last, seen = false](const std::string &command) mutable {
        InterceptingPort::Response response;
        if (seen)
            response.action = InterceptingPort::Action::Silence;
        seen = seen || command == last;
        return response;
    };
}

} // namespace

TEST(Scan, RememberedPortRunsEveryStepInOrder)
{
    Rig rig;
    rig.addModule(3, rig.module);
    rig.remember(3, 5);

    const ScanResult result = RunScan(rig.ctx);

    EXPECT_EQ(result.outcome, ScanOutcome::Ok);
    const Texts expected = {
        "cursor: wait",
        "pump",
        "busy: on",
        "message: Scan Module ....",
        "serial: S/N : ________-_",
        "version: VER : __.__-__",
        "pnID: __",
        "pnID2: __",
        "pump",
        "detail: ",
        "cmbBaudRate: 5",
        "detail: ", // the remembered port opened
        "message: Scan COM : #3",
        "cmbBaudRate: 5",
        "serial: S/N : 20250010-1",
        "pnID: 01",
        "sbID: 1",
        "detail: ", // opened again for the information reads
        "version: VER : 03.20-01",
        "cmbMode: 0",
        "cmbRS485: 1",
        "sbID2: 5",
        "pnID2: 05",
        "message: Get Module Info Ok. (COM : #3)",
        "detail: COM3: /dev/ttyQ3",
        "busy: off",
        "lamp: yellow",
        "beep: 1000 300",
        "cursor: normal",
    };
    EXPECT_EQ(rig.view.log, expected);
    EXPECT_THAT(rig.port.sent, ElementsAre("A00M", "A00V", "A00A", "A00N"));
    EXPECT_EQ(rig.sleepsOf(100), 3); // before and after "A00V", before "A00N"
    EXPECT_TRUE(rig.ctx.ScanOk);
    EXPECT_THAT(openedPorts(rig), ElementsAre(3, 3));
    EXPECT_TRUE(rig.store.saves().empty()); // a hit on the remembered port rewrites nothing
    EXPECT_EQ(rig.view.position1, 1);
    EXPECT_EQ(rig.view.position2, 5);
    expectEndedIdle(rig);
}

TEST(Scan, ResultOfAFullSuccessHoldsEveryField)
{
    Rig rig;
    rig.module.config().reader1 = {"17", "31415926", "x"};
    rig.module.config().reader2 = {"42", "27182818", "y"};
    rig.module.config().version = "04.01-07";
    rig.module.config().rs485 = '2';
    rig.addModule(3, rig.module);
    rig.remember(3, 5);

    ScanResult expected = identityOnCom3(ScanOutcome::Ok);
    expected.serial = "31415926";
    expected.unitSuffix = 7;
    expected.id1 = "17";
    expected.version = "04.01-07";
    expected.modeIndex = 0;
    expected.rs485Index = 2;
    expected.id2 = "42";
    expected.readVersion = expected.readMode = expected.readSecondReader = true;
    expectScanResult(RunScan(rig.ctx), expected);
}

TEST(Scan, ResultWhenTheModuleStopsAnsweringAfterFirstReader)
{
    Rig rig;
    rig.addModule(3, rig.module);
    rig.remember(3, 5);
    silenceEverythingAfter(rig, "A00M");

    expectScanResult(RunScan(rig.ctx), identityOnCom3(ScanOutcome::InfoError));
    EXPECT_THAT(rig.port.sent, ElementsAre("A00M", "A00V", "A00V"));
    EXPECT_FALSE(rig.ctx.ScanOk);
}

TEST(Scan, ResultWhenTheModuleStopsAnsweringAfterVersion)
{
    Rig rig;
    rig.addModule(3, rig.module);
    rig.remember(3, 5);
    silenceEverythingAfter(rig, "A00V");

    ScanResult expected = identityOnCom3(ScanOutcome::InfoError);
    expected.version = "03.20-01";
    expected.readVersion = true;
    expectScanResult(RunScan(rig.ctx), expected);
    EXPECT_THAT(rig.port.sent, ElementsAre("A00M", "A00V", "A00A"));
    EXPECT_FALSE(rig.ctx.ScanOk);
}

TEST(Scan, NothingFoundLeavesTheResultEmpty)
{
    Rig rig;
    rig.addEmptyPort(2);
    expectScanResult(RunScan(rig.ctx), ScanResult{});
}

TEST(Scan, RememberedPortUsesTheRememberedText)
{
    // The text and the index disagree: the text opens the port, the index selects the item,
    // and the result names the text's own table index.
    Rig rig;
    rig.module.config().lineIndex = 2;
    rig.addModule(3, rig.module);
    rig.settings.ScanCommNo = 3;
    rig.settings.ScanBaudRate = "9600,n,8,1";
    rig.settings.ScanBaudRateNo = 7;

    const ScanResult result = RunScan(rig.ctx);
    EXPECT_EQ(result.outcome, ScanOutcome::Ok);
    EXPECT_EQ(result.line, "9600,n,8,1");
    EXPECT_EQ(result.baudRateNo, 2);
    EXPECT_THAT(openedPorts(rig), ElementsAre(3, 3));
    EXPECT_THAT(selectedBaudRates(rig.view), ElementsAre(7, 7));
    EXPECT_EQ(rig.settings.ScanBaudRate, "9600,n,8,1");
    EXPECT_EQ(rig.settings.ScanBaudRateNo, 7);
    EXPECT_TRUE(rig.store.saves().empty());

    // A remembered text the port takes but that is not written as in the table.
    Rig loose;
    loose.module.config().lineIndex = 2;
    loose.addModule(3, loose.module);
    loose.settings.ScanCommNo = 3;
    loose.settings.ScanBaudRate = "9600,N,8,1";
    loose.settings.ScanBaudRateNo = 2;
    const ScanResult looseResult = RunScan(loose.ctx);
    EXPECT_EQ(looseResult.outcome, ScanOutcome::Ok);
    EXPECT_EQ(looseResult.line, "9600,N,8,1");
    EXPECT_EQ(looseResult.baudRateNo, -1);
}

TEST(Scan, SweepOrder)
{
    // COM1 opens with nothing on it, COM2 does not exist, COM3 opens and is empty, the
    // module sits on COM4 at "38400,e,8,1"; the remembered COM9 does not exist.
    Rig rig;
    rig.addEmptyPort(1);
    rig.addEmptyPort(3);
    rig.module.config().lineIndex = 7;
    rig.addModule(4, rig.module);
    rig.remember(9, 2);
    rig.view.lock = false;

    const ScanResult result = RunScan(rig.ctx);
    EXPECT_EQ(result.outcome, ScanOutcome::Ok);
    EXPECT_EQ(result.port, 4);
    EXPECT_EQ(result.line, "38400,e,8,1");
    EXPECT_EQ(result.baudRateNo, 7);

    EXPECT_EQ(openedPorts(rig), joined({repeated(1, 12), repeated(3, 12), repeated(4, 8), {4}}));
    EXPECT_EQ(selectedBaudRates(rig.view),
              joined({{2}, range(0, 11), {0}, range(0, 11), range(0, 7), {7}}));
    // No "Scan COM" for the ports that did not open.
    Texts scanning;
    for (const std::string &text : rig.view.messages()) {
        if (text.starts_with("Scan COM"))
            scanning.push_back(text);
    }
    Texts expected(12, "Scan COM : #1");
    expected.insert(expected.end(), 12, "Scan COM : #3");
    expected.insert(expected.end(), 8, "Scan COM : #4");
    EXPECT_EQ(scanning, expected);
    // Two "A00M" per candidate that does not answer, one at the winner.
    EXPECT_EQ(countOf(rig.port.sent, "A00M"), 24 + 24 + 14 + 1);

    EXPECT_EQ(rig.settings.ScanCommNo, 4);
    EXPECT_EQ(rig.settings.ScanBaudRateNo, 7);
    EXPECT_EQ(rig.settings.ScanBaudRate, "38400,e,8,1");
    // Remembered at once, in one save of the three scan values.
    ASSERT_EQ(rig.store.saves().size(), 1u);
    EXPECT_THAT(rig.store.saves()[0], ElementsAre("ScanCommNo", "ScanBaudRateNo", "ScanBaudRate"));
    EXPECT_EQ(stored(rig).commNo, 4);
    EXPECT_EQ(stored(rig).baudRateNo, 7);
    EXPECT_EQ(stored(rig).baudRate, "38400,e,8,1");
    EXPECT_EQ(rig.view.message, "Get Module Info Ok. (COM : #4)");
    EXPECT_EQ(rig.view.baudIndex, 7);
    expectEndedIdle(rig);
}

TEST(Scan, LowerPortWins)
{
    ModuleModel second;
    second.config().reader1.id = "42";
    Rig rig;
    rig.addModule(5, second);
    rig.addModule(6, rig.module);
    rig.addEmptyPort(1);
    rig.settings.ScanCommNo = 0;

    EXPECT_EQ(RunScan(rig.ctx).outcome, ScanOutcome::Ok);
    EXPECT_EQ(rig.settings.ScanCommNo, 5);
    EXPECT_EQ(rig.view.id1, "42");
    const Ints opened = openedPorts(rig);
    EXPECT_EQ(std::count(opened.begin(), opened.end(), 6), 0);
    EXPECT_TRUE(rig.module.commands().empty());
}

TEST(Scan, LockBoxKeepsOneLineSettingPerPort)
{
    Rig rig;
    rig.addEmptyPort(1);
    rig.addEmptyPort(2);
    rig.module.config().lineIndex = 7;
    rig.addModule(4, rig.module);
    rig.settings.ScanCommNo = 0;
    rig.settings.ScanBaudRateNo = 7;
    rig.view.lock = true;

    EXPECT_EQ(RunScan(rig.ctx).outcome, ScanOutcome::Ok);
    EXPECT_THAT(openedPorts(rig), ElementsAre(1, 2, 4, 4));
    EXPECT_THAT(selectedBaudRates(rig.view), ElementsAre(7, 7, 7, 7, 7));
    EXPECT_EQ(countOf(rig.port.sent, "A00M"), 2 + 2 + 1);
}

TEST(Scan, LockBoxWithTheModuleAtAnotherRateFindsNothing)
{
    // One try per port at the locked setting, then "Module Not Find".
    Rig rig;
    rig.addEmptyPort(1);
    rig.addModule(4, rig.module); // at index 5
    rig.settings.ScanBaudRateNo = 7;
    rig.settings.ScanBaudRate = "38400,e,8,1";

    EXPECT_EQ(RunScan(rig.ctx).outcome, ScanOutcome::NotFound);
    EXPECT_THAT(openedPorts(rig), ElementsAre(1, 4));
    EXPECT_EQ(selectedBaudRates(rig.view), joined({repeated(7, 16), {5}}));
    EXPECT_EQ(rig.view.baudIndex, 5);
    EXPECT_EQ(rig.view.message, "Module Not Find");
    EXPECT_EQ(rig.settings.ScanBaudRateNo, 7);
    EXPECT_EQ(rig.settings.ScanBaudRate, "38400,e,8,1");
    EXPECT_TRUE(rig.store.saves().empty());
    EXPECT_EQ(rig.view.lamp, LampColour::Red);
    EXPECT_THAT(rig.view.beeps, ElementsAre(std::pair(300, 300)));
    EXPECT_EQ(rig.view.serial, "S/N : ________-_");
    EXPECT_EQ(rig.view.id1, "__");
    EXPECT_FALSE(rig.ctx.ScanOk);
    expectEndedIdle(rig);
}

TEST(Scan, PortsThatDoNotOpenAreSkipped)
{
    Rig rig;
    rig.memory.addDevice(Rig::device(1));
    rig.memory.refuseOpen(Rig::device(1), PortError::PermissionDenied);
    rig.addModule(2, rig.module);
    rig.view.lock = false;

    EXPECT_EQ(RunScan(rig.ctx).outcome, ScanOutcome::Ok);
    EXPECT_EQ(countOf(rig.view.messages(), "Scan COM : #1"), 0);
    ASSERT_FALSE(openedPorts(rig).empty());
    EXPECT_EQ(openedPorts(rig).front(), 2);
    // COM1 cost one selection and no command; COM2 answered at index 5.
    EXPECT_EQ(selectedBaudRates(rig.view), joined({{0}, range(0, 5), {5}}));
    EXPECT_EQ(countOf(rig.port.sent, "A00M"), 2 * 5 + 1);
    EXPECT_EQ(rig.view.detail, "COM2: /dev/ttyQ2");
}

TEST(Scan, DetailKeepsTheMostTellingReasonWhenNothingIsFound)
{
    // The detail still names the port the user may not open, not the last port that does
    // not exist.
    Rig rig;
    rig.memory.addDevice(Rig::device(3));
    rig.memory.refuseOpen(Rig::device(3), PortError::PermissionDenied);
    EXPECT_EQ(RunScan(rig.ctx).outcome, ScanOutcome::NotFound);
    EXPECT_THAT(rig.view.detail, StartsWith("COM3: /dev/ttyQ3: "));
    EXPECT_TRUE(rig.port.sent.empty());
}

TEST(Scan, PortWhoseLineIsTheServersIsTriedOnceAndSaysSo)
{
    // Raw network ports on COM1 and COM3, the module on COM3 at another line setting than the
    // one tried: an unlocked sweep tries each port at one line only and names why.
    Rig rig;
    rig.addEmptyPort(1);
    rig.module.config().lineIndex = 7;
    rig.addModule(3, rig.module);
    rig.port.fixed = true;
    rig.view.lock = false;
    EXPECT_EQ(RunScan(rig.ctx).outcome, ScanOutcome::NotFound);
    EXPECT_EQ(openedPorts(rig), (Ints{1, 3}));
    EXPECT_EQ(countOf(rig.port.sent, "A00M"), 2 * ScanSearchAttempts);
    EXPECT_THAT(rig.view.detail, StartsWith("COM3: /dev/ttyQ3: the line setting is the server's"));
}

TEST(Scan, FirstReaderReplyOfWrongLengthDoesNotCount)
{
    for (int lengthDelta : {-1, 1}) {
        SCOPED_TRACE("reply length 16 + " + std::to_string(lengthDelta));
        ModuleModel odd;
        odd.faults().lengthDelta = lengthDelta;
        Rig rig;
        rig.addModule(2, odd);
        rig.addModule(6, rig.module);
        rig.remember(2, 5); // the remembered port answers with the wrong length, 3 times

        EXPECT_EQ(RunScan(rig.ctx).outcome, ScanOutcome::Ok);
        EXPECT_EQ(odd.commands(), Texts(3 + 2, "A00M"));
        EXPECT_EQ(rig.settings.ScanCommNo, 6);
        EXPECT_EQ(rig.store.saves().size(), 1u);
    }
}

// A read of the module information that fails after the "A00M" answer.
struct InfoFailure
{
    const char *name;
    std::string silenced; // the command the module never hears
    int silencedTimes;    // how many times (0: always)
    bool reopenFails;     // the port does not open again for the information reads
    ScanOutcome outcome;
    Texts commands;
    std::string version; // the version panel afterwards
    int mode;
    int rs485;
    std::string id2;
    int position2;
};

void PrintTo(const InfoFailure &row, std::ostream *os)
{
    *os << row.name;
}

class ScanInformationFailure : public ::testing::TestWithParam<InfoFailure>
{
};

TEST_P(ScanInformationFailure, ShowsWhatWasReadAndEndsAsItShould)
{
    const InfoFailure &row = GetParam();
    Rig rig;
    rig.module.config().rs485 = '0';
    rig.module.config().reader2.id = "07";
    rig.addModule(3, rig.module);
    rig.remember(3, 5);
    rig.view.mode = 1;
    rig.view.rs485 = 2;
    rig.view.position2 = 9;
    int silencedSoFar = 0;
    rig.port.script = [&](const std::string &command) {
        InterceptingPort::Response response;
        if (command == row.silenced &&
            (row.silencedTimes == 0 || silencedSoFar++ < row.silencedTimes))
            response.action = InterceptingPort::Action::Silence;
        return response;
    };
    int opens = 0;
    rig.port.refuse = [&](const std::string &) { return row.reopenFails && ++opens == 2; };

    EXPECT_EQ(RunScan(rig.ctx).outcome, row.outcome);
    EXPECT_EQ(rig.port.sent, row.commands);
    EXPECT_EQ(rig.view.version, row.version);
    EXPECT_EQ(rig.view.mode, row.mode);
    EXPECT_EQ(rig.view.rs485, row.rs485);
    EXPECT_EQ(rig.view.id2, row.id2);
    EXPECT_EQ(rig.view.position2, row.position2);
    // The identity from "A00M" is shown whatever failed later.
    EXPECT_EQ(rig.view.serial, "S/N : 20250010-1");
    EXPECT_EQ(rig.view.id1, "01");
    EXPECT_EQ(rig.view.baudIndex, 5);
    if (row.outcome == ScanOutcome::InfoError) {
        EXPECT_EQ(rig.view.message, "Get Module Info Error. (COM : #3)");
        EXPECT_EQ(rig.view.lamp, LampColour::Red);
        EXPECT_THAT(rig.view.beeps, ElementsAre(std::pair(300, 300)));
        EXPECT_FALSE(rig.ctx.ScanOk);
    } else {
        EXPECT_EQ(rig.view.message, "Get Module Info Ok. (COM : #3)");
        EXPECT_TRUE(rig.ctx.ScanOk);
    }
    if (row.reopenFails) {
        EXPECT_EQ(rig.view.detail, "COM3: /dev/ttyQ3: held by another program");
    }
    expectEndedIdle(rig);
}

const std::string Placeholder = "VER : __.__-__";
const std::string Version = "VER : 03.20-01";

INSTANTIATE_TEST_SUITE_P(Scan, ScanInformationFailure,
                         ::testing::Values(InfoFailure{"VersionFailsTwice",
                                                       "A00V",
                                                       0,
                                                       false,
                                                       ScanOutcome::InfoError,
                                                       {"A00M", "A00V", "A00V"},
                                                       Placeholder,
                                                       1,
                                                       2,
                                                       "__",
                                                       9},
                                           InfoFailure{"VersionFailsOnce",
                                                       "A00V",
                                                       1,
                                                       false,
                                                       ScanOutcome::Ok,
                                                       {"A00M", "A00V", "A00V", "A00A", "A00N"},
                                                       Version,
                                                       0,
                                                       0,
                                                       "07",
                                                       7},
                                           InfoFailure{"ModeFails",
                                                       "A00A",
                                                       0,
                                                       false,
                                                       ScanOutcome::InfoError,
                                                       {"A00M", "A00V", "A00A"},
                                                       Version,
                                                       1,
                                                       2,
                                                       "__",
                                                       9},
                                           InfoFailure{"SecondReaderFails",
                                                       "A00N",
                                                       0,
                                                       false,
                                                       ScanOutcome::InfoError,
                                                       {"A00M", "A00V", "A00A", "A00N"},
                                                       Version,
                                                       0,
                                                       0,
                                                       "__",
                                                       9},
                                           InfoFailure{"ReopenFails",
                                                       "",
                                                       0,
                                                       true,
                                                       ScanOutcome::InfoError,
                                                       {"A00M"},
                                                       Placeholder,
                                                       1,
                                                       2,
                                                       "__",
                                                       9}),
                         [](const ::testing::TestParamInfo<InfoFailure> &info) {
                             return std::string(info.param.name);
                         });

TEST(Scan, ReplyFieldsShown)
{
    struct Row
    {
        const char *name;
        std::string serial;
        char mode, rs485;
        std::string serialText;
        int modeIndex, rs485Index;
        std::string id2;
    };
    const Row rows[] = {
        {"unit digit 0", "12345670", '0', '1', "S/N : 12345670-1", 0, 1, "05"},
        {"unit digit 9", "12345679", '0', '2', "S/N : 12345679-10", 0, 2, "05"},
        {"one reader", "12345674", '1', '0', "S/N : 12345674-5", 1, 0, "__"},
        {"mode X", "12345674", 'X', '0', "S/N : 12345674-5", 1, 0, "__"},
        {"RS-485 3 unchanged", "12345674", '0', '3', "S/N : 12345674-5", 0, 2, "05"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig;
        rig.module.config().reader1.serial = row.serial;
        rig.module.config().mode = row.mode;
        rig.module.config().rs485 = row.rs485;
        rig.addModule(3, rig.module);
        rig.remember(3, 5);
        rig.view.rs485 = 2;

        const ScanResult result = RunScan(rig.ctx);
        EXPECT_EQ(result.outcome, ScanOutcome::Ok);
        EXPECT_EQ(rig.view.serial, row.serialText);
        EXPECT_EQ(rig.view.mode, row.modeIndex);
        EXPECT_EQ(rig.view.rs485, row.rs485Index);
        EXPECT_EQ(rig.view.id2, row.id2);
        EXPECT_EQ(rig.view.position2, 5); // set from the reply in either mode
        // The result holds the fields as sent, whatever the panels show.
        EXPECT_EQ(result.modeIndex, row.modeIndex);
        EXPECT_EQ(result.rs485Index, row.rs485 == '3' ? -1 : row.rs485Index);
        EXPECT_EQ(result.id2, "05");
    }
}

// A reply field that holds no number abandons the scan with the conversion error.
struct NonNumeric
{
    const char *name;
    std::string id1, serial, id2;
    std::string error;
    Texts commands;
    ScanResult result; // the fields read before the conversion failed
};

void PrintTo(const NonNumeric &row, std::ostream *os)
{
    *os << row.name;
}

class ScanNonNumericField : public ::testing::TestWithParam<NonNumeric>
{
};

TEST_P(ScanNonNumericField, EndsAsAnInformationErrorWithTheConversionText)
{
    const NonNumeric &row = GetParam();
    Rig rig;
    rig.module.config().reader1.id = row.id1;
    rig.module.config().reader1.serial = row.serial;
    rig.module.config().reader2.id = row.id2;
    rig.addModule(3, rig.module);
    rig.remember(3, 5);

    expectScanResult(RunScan(rig.ctx), row.result);
    EXPECT_THAT(rig.view.errors, ElementsAre(row.error));
    EXPECT_EQ(rig.port.sent, row.commands);
    EXPECT_EQ(rig.view.message, "Get Module Info Error. (COM : #3)");
    EXPECT_EQ(rig.view.lamp, LampColour::Red);
    EXPECT_THAT(rig.view.beeps, ElementsAre(std::pair(300, 300)));
    EXPECT_FALSE(rig.ctx.ScanOk);
    // The message box comes last, over a window that is already back to normal.
    ASSERT_FALSE(rig.view.log.empty());
    EXPECT_EQ(rig.view.log.back(), "error: " + row.error);
    expectEndedIdle(rig);
}

NonNumeric nonNumericFirstId()
{
    ScanResult result = identityOnCom3(ScanOutcome::InfoError);
    result.id1 = "x1";
    result.error = "'x1' is not a valid integer value";
    return {"FirstId", "x1", "20250010", "05", result.error, {"A00M"}, result};
}

NonNumeric nonNumericUnitDigit()
{
    ScanResult result = identityOnCom3(ScanOutcome::InfoError);
    result.serial = "2025001Z";
    result.unitSuffix = -1;
    result.error = "'Z' is not a valid integer value";
    return {"UnitDigit", "01", "2025001Z", "05", result.error, {"A00M"}, result};
}

NonNumeric nonNumericSecondId()
{
    ScanResult result = identityOnCom3(ScanOutcome::InfoError);
    result.version = "03.20-01";
    result.modeIndex = 0;
    result.rs485Index = 1;
    result.id2 = "a5";
    result.readVersion = result.readMode = result.readSecondReader = true;
    result.error = "'a5' is not a valid integer value";
    return {"SecondId", "01", "20250010", "a5", result.error, {"A00M", "A00V", "A00A", "A00N"},
            result};
}

INSTANTIATE_TEST_SUITE_P(Scan, ScanNonNumericField,
                         ::testing::Values(nonNumericFirstId(), nonNumericUnitDigit(),
                                           nonNumericSecondId()),
                         [](const ::testing::TestParamInfo<NonNumeric> &info) {
                             return std::string(info.param.name);
                         });

TEST(Scan, StoredIndexOutsideTableStandsForTheDefault)
{
    struct Row
    {
        int stored, moduleLine;
        ScanOutcome outcome;
        int afterwards;
    };
    const Row rows[] = {
        {12, 5, ScanOutcome::Ok, 5},
        {-1, 5, ScanOutcome::Ok, 5},
        {12, 7, ScanOutcome::NotFound, 12},
        {-1, 7, ScanOutcome::NotFound, -1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE("stored " + std::to_string(row.stored) + ", module at " +
                     std::to_string(row.moduleLine));
        Rig rig;
        rig.addEmptyPort(1);
        rig.module.config().lineIndex = row.moduleLine;
        rig.addModule(2, rig.module);
        rig.settings.ScanBaudRateNo = row.stored;
        rig.view.lock = true;

        EXPECT_EQ(RunScan(rig.ctx).outcome, row.outcome);
        for (const MemoryPort::Written &write : rig.memory.writes())
            EXPECT_EQ(write.line, (LineSettings{19200, 'e', 8, 1}));
        for (int index : selectedBaudRates(rig.view))
            EXPECT_EQ(index, 5);
        EXPECT_EQ(rig.settings.ScanBaudRateNo, row.afterwards);
    }
}

TEST(Scan, StoredIndexOutsideTableInRememberedPort)
{
    Rig rig;
    rig.addModule(2, rig.module);
    rig.settings.ScanCommNo = 2;
    rig.settings.ScanBaudRateNo = 12;

    EXPECT_EQ(RunScan(rig.ctx).outcome, ScanOutcome::Ok);
    EXPECT_THAT(selectedBaudRates(rig.view), ElementsAre(5, 5));
    EXPECT_EQ(rig.settings.ScanBaudRateNo, 12); // stays as read: no sweep replaced it
}

TEST(Scan, FullSweepFindsNothing)
{
    Rig rig;
    for (int com = 1; com <= 16; ++com)
        rig.addEmptyPort(com);
    rig.settings.ScanCommNo = 0;
    rig.settings.ScanBaudRate = "4800,n,8,1";
    rig.settings.ScanBaudRateNo = 0;
    rig.view.lock = false;
    rig.view.mode = 1;

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunScan(rig.ctx).outcome, ScanOutcome::NotFound);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    RecordProperty("sweep_ms", int(elapsed.count())); // 192 candidates on the fake clock

    EXPECT_EQ(rig.memory.opens().size(), 192u);
    EXPECT_EQ(rig.port.sent, Texts(384, "A00M"));
    EXPECT_EQ(rig.view.message, "Module Not Find");
    EXPECT_EQ(rig.view.baudIndex, 5);
    EXPECT_EQ(rig.settings.ScanCommNo, 0);
    EXPECT_EQ(rig.settings.ScanBaudRate, "4800,n,8,1");
    EXPECT_EQ(rig.settings.ScanBaudRateNo, 0);
    EXPECT_TRUE(rig.store.saves().empty());
    EXPECT_EQ(rig.view.version, "VER : __.__-__");
    EXPECT_EQ(rig.view.id2, "__");
    EXPECT_EQ(rig.view.mode, 1);
    EXPECT_EQ(rig.sleepsOf(100), 0);
    expectEndedIdle(rig);
}

TEST(Scan, ChineseTexts)
{
    Rig rig;
    rig.view.languageIndex = 1;
    rig.addModule(3, rig.module);
    rig.remember(3, 5);
    EXPECT_EQ(RunScan(rig.ctx).outcome, ScanOutcome::Ok);
    EXPECT_THAT(rig.view.messages(),
                ElementsAre("扫描模组 ....", "扫描串口 : #3", "读取模组资讯完成. (串口 : #3)"));
    EXPECT_EQ(rig.view.serial, "序号 : 20250010-1");
    EXPECT_EQ(rig.view.version, "版本 : 03.20-01");

    Rig traditional;
    traditional.view.languageIndex = 2;
    traditional.addModule(3, traditional.module);
    traditional.remember(3, 5);
    traditional.port.script = [](const std::string &command) {
        InterceptingPort::Response response;
        if (command == "A00N")
            response.action = InterceptingPort::Action::Silence;
        return response;
    };
    EXPECT_EQ(RunScan(traditional.ctx).outcome, ScanOutcome::InfoError);
    EXPECT_EQ(traditional.view.message, "讀取模組資訊錯誤. (串口 : #3)");

    Rig missing;
    missing.view.languageIndex = 1;
    EXPECT_EQ(RunScan(missing.ctx).outcome, ScanOutcome::NotFound);
    EXPECT_EQ(missing.view.message, "模组没有连线");
}
