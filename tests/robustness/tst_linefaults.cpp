// Every operation against a module whose line misbehaves, in process on the fake clock:
// each fault of the module model crossed with each operation, a port that vanishes in the
// middle of an exchange, and a port that does not open.

#include "operations/processmode.h"
#include "operations/quicksettings.h"
#include "operations/scan.h"
#include "operations/setbaudrate.h"
#include "operations/setmode.h"
#include "operations/setmoduleid.h"
#include "rig.h"

#include <QTest>
#include <stdexcept>

using namespace qmr;

Q_DECLARE_METATYPE(qmr::FaultConfig)

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

const QList<Op> AllOps = {Op::Scan,    Op::Process, Op::SetId, Op::SetBaudRate,
                          Op::SetMode, Op::Factory, Op::One};

const char *opName(Op op)
{
    switch (op) {
    case Op::Scan:
        return "scan";
    case Op::Process:
        return "process";
    case Op::SetId:
        return "setId";
    case Op::SetBaudRate:
        return "setBaudRate";
    case Op::SetMode:
        return "setMode";
    case Op::Factory:
        return "factory";
    case Op::One:
        return "one";
    }
    return "?";
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
constexpr quint32 HangLimitMs = 30 * 60 * 1000;

struct Hang : std::runtime_error
{
    Hang() : std::runtime_error("fake time ran past the hang limit") {}
};

void armHangGuard(Rig &rig)
{
    const quint32 start = rig.clock.milliseconds();
    rig.clock.setOnAdvance([start](quint32 now) {
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
        return RunScan(rig.ctx) == ScanOutcome::Ok;
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

const QList<Control> AllControls = {Control::btnExit, Control::btnScan,   Control::btnFactory,
                                    Control::btnOne,  Control::btnID,     Control::btnBaudRate,
                                    Control::btnMode, Control::gbDefault, Control::btnEng,
                                    Control::btnGB,   Control::btnBIG5};

// The failure outcome every operation shares: red lamp, the low beep last, the port given
// back, nothing left busy or disabled, and no success text.
void verifyFailureOutcome(const Rig &rig, Op op)
{
    QVERIFY(!rig.link.isOpen());
    QVERIFY(!rig.memory.isOpen());
    QCOMPARE(rig.memory.closeCount(), rig.memory.opens().size());
    QCOMPARE(rig.view.lamp, LampColour::Red);
    QVERIFY(!rig.view.beeps.isEmpty());
    QCOMPARE(rig.view.beeps.last(), qMakePair(300, 300));
    QVERIFY(!rig.view.busy);
    QVERIFY(rig.view.windowEnabled);
    QVERIFY(!rig.view.waitCursor);
    QVERIFY(!rig.ctx.ProcessActive);
    QVERIFY(!rig.ctx.ProcessRunning);
    for (Control c : AllControls)
        QVERIFY2(rig.view.enabled.value(c, true), qPrintable(controlName(c)));
    QCOMPARE(rig.view.caption, rig.view.text(TextRow::ProcessModule));

    const QStringList okTexts = {
        rig.view.text(TextRow::GetModuleInfoOk), rig.view.text(TextRow::SetModuleIdOk),
        rig.view.text(TextRow::SetModuleBaudRateOk), rig.view.text(TextRow::SetModuleModeOk),
        rig.view.text(TextRow::SetFactoryDefaultOk)};
    for (const QString &shown : rig.view.messages())
        for (const QString &ok : okTexts)
            QVERIFY2(!shown.startsWith(ok), qPrintable(shown));

    switch (op) {
    case Op::Scan:
        QVERIFY(!rig.ctx.ScanOk);
        QVERIFY2(rig.view.message == rig.view.text(TextRow::ModuleNotFind) ||
                     rig.view.message.startsWith(rig.view.text(TextRow::GetModuleInfoError)),
                 qPrintable(rig.view.message));
        break;
    case Op::Process:
        // Process mode reports a failed poll by lamp and beep only.
        break;
    default:
        QCOMPARE(rig.view.message, rig.view.text(errorRow(op)));
        break;
    }
}

void addFaultRows(const QString &name, const FaultConfig &faults, bool pollRunsOn = false)
{
    for (Op op : AllOps)
        QTest::newRow(qPrintable(name + QLatin1Char('/') + QLatin1String(opName(op))))
            << int(op) << faults << (pollRunsOn && op == Op::Process);
}

} // namespace

class TestLineFaults : public QObject
{
    Q_OBJECT

private slots:
    void faultMatrix_data();
    void faultMatrix();
    void portVanishes_data();
    void portVanishes();
    void vanishedDeviceStaysUnusable();
    void refusedOpen_data();
    void refusedOpen();
};

void TestLineFaults::faultMatrix_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<FaultConfig>("faults");
    // The poll does not test the reply's length: process mode rightly keeps polling.
    QTest::addColumn<bool>("pollRunsOn");

    FaultConfig f;
    f.silent = true;
    addFaultRows("silent", f);
    f = {};
    f.wrongCheck = true;
    addFaultRows("wrongCheck", f);
    f = {};
    f.lowerCaseCheck = true;
    addFaultRows("lowerCaseCheck", f);
    f = {};
    f.lengthDelta = 1;
    addFaultRows("longer", f, true);
    f.lengthDelta = -1;
    addFaultRows("shorter", f, true);
    f.lengthDelta = -12;
    addFaultRows("textless", f, true);
    f = {};
    f.leadingGarbage = true;
    addFaultRows("leadingGarbage", f);
    f = {};
    f.delayMs = 2000;
    addFaultRows("delayed", f);
    f = {};
    f.floodBytes = 1100;
    addFaultRows("flood1100", f);
    f.floodBytes = 4000;
    addFaultRows("flood4000", f);
    f = {};
    f.endless = true;
    addFaultRows("endless", f);
    f = {};
    f.dropEvery = 2;
    addFaultRows("dropEvery2", f);
}

void TestLineFaults::faultMatrix()
{
    QFETCH(int, op);
    QFETCH(FaultConfig, faults);
    QFETCH(bool, pollRunsOn);
    const Op operation = Op(op);

    Rig rig;
    if (operation == Op::Scan) {
        rig.addModule(3, rig.module);
        rig.remember(3, rig.module.config().lineIndex);
    } else {
        rig.scanned();
        if (QTest::currentTestFailed())
            return;
    }
    rig.module.faults() = faults;
    rig.view.clearRecords();
    const int opensBefore = int(rig.memory.opens().size());
    armHangGuard(rig);

    bool succeeded = false;
    try {
        succeeded = runOp(rig, operation);
    } catch (const Hang &) {
        QFAIL("the operation did not end");
    }
    rig.clock.setOnAdvance(nullptr);

    if (pollRunsOn) {
        // Only the cancel click ended it: a user stop with the port given back.
        QVERIFY(succeeded);
        QVERIFY(!rig.link.isOpen());
        QVERIFY(!rig.view.busy);
        QCOMPARE(rig.view.lamp, LampColour::Yellow);
        return;
    }
    QVERIFY2(!succeeded, "a faulty line was reported as success");
    QVERIFY(rig.memory.opens().size() > opensBefore);
    verifyFailureOutcome(rig, operation);
}

void TestLineFaults::portVanishes_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<QByteArray>("command"); // the port vanishes once this command is sent
    QTest::addColumn<int>("occurrence");     // ... for the nth time

    QTest::newRow("scan/first reader") << int(Op::Scan) << QByteArray("A00M") << 1;
    QTest::newRow("scan/version") << int(Op::Scan) << QByteArray("A00V") << 1;
    QTest::newRow("scan/second reader") << int(Op::Scan) << QByteArray("A00N") << 1;
    QTest::newRow("process/first poll") << int(Op::Process) << QByteArray("A01F") << 1;
    QTest::newRow("process/tenth cycle") << int(Op::Process) << QByteArray("A05F") << 10;
    QTest::newRow("setId/first id") << int(Op::SetId) << QByteArray("A00C2025001001") << 1;
    QTest::newRow("setId/second reader") << int(Op::SetId) << QByteArray("A00N") << 1;
    QTest::newRow("setBaudRate/rate") << int(Op::SetBaudRate) << QByteArray("A00E5") << 1;
    QTest::newRow("setMode/mode") << int(Op::SetMode) << QByteArray("A00A001") << 1;
    QTest::newRow("factory/rate") << int(Op::Factory) << QByteArray("A00E5") << 1;
    QTest::newRow("one/mode") << int(Op::One) << QByteArray("A00A101") << 1;
}

void TestLineFaults::portVanishes()
{
    QFETCH(int, op);
    QFETCH(QByteArray, command);
    QFETCH(int, occurrence);
    const Op operation = Op(op);

    Rig rig;
    if (operation == Op::Scan) {
        rig.addModule(3, rig.module);
        rig.remember(3, rig.module.config().lineIndex);
    } else {
        rig.scanned();
        if (QTest::currentTestFailed())
            return;
    }
    // The adapter is pulled while the command's frame is on its way: from then on every
    // read and write on it fails.
    int seen = 0;
    rig.port.onCommand = [&](const QByteArray &sent) {
        if (sent == command && ++seen == occurrence)
            rig.memory.vanish(Rig::device(3));
    };
    armHangGuard(rig);
    bool succeeded = false;
    try {
        succeeded = runOp(rig, operation);
    } catch (const Hang &) {
        QFAIL("the operation did not end");
    }
    rig.clock.setOnAdvance(nullptr);
    rig.port.onCommand = nullptr;
    QVERIFY(seen >= occurrence); // retries go to the vanished port too
    QVERIFY(!succeeded);
    verifyFailureOutcome(rig, operation);

    // The program stays usable: the adapter comes back under another COM number and the
    // next scan finds the module there; the operation then works again.
    rig.addModule(4, rig.module);
    rig.view.clearRecords();
    QCOMPARE(RunScan(rig.ctx), ScanOutcome::Ok);
    QCOMPARE(rig.settings.ScanCommNo, 4);
    QVERIFY(rig.ctx.ScanOk);
    QVERIFY(!rig.link.isOpen());
    if (operation != Op::Scan && operation != Op::Process)
        QVERIFY(runOp(rig, operation));
}

void TestLineFaults::vanishedDeviceStaysUnusable()
{
    // A port that is gone is not found again: the scan skips it and says so.
    Rig rig;
    rig.scanned();
    rig.memory.vanish(Rig::device(3));
    rig.view.clearRecords();
    QCOMPARE(RunScan(rig.ctx), ScanOutcome::NotFound);
    QCOMPARE(rig.view.message, rig.view.text(TextRow::ModuleNotFind));
    QVERIFY(!rig.ctx.ScanOk);
    QCOMPARE(RunSetModuleId(rig.ctx), SettingOutcome::NoScan);
    QCOMPARE(RunProcessMode(rig.ctx), ProcessOutcome::NoScan);
    QVERIFY(!rig.link.isOpen());
}

void TestLineFaults::refusedOpen_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<int>("error");
    for (Op op : {Op::Process, Op::SetId, Op::SetBaudRate, Op::SetMode, Op::Factory, Op::One}) {
        QTest::newRow(qPrintable(QStringLiteral("%1/denied").arg(opName(op))))
            << int(op) << int(PortError::PermissionDenied);
        QTest::newRow(qPrintable(QStringLiteral("%1/busy").arg(opName(op))))
            << int(op) << int(PortError::Busy);
    }
}

void TestLineFaults::refusedOpen()
{
    // The module was found; then another program takes the port, or its rights change.
    QFETCH(int, op);
    QFETCH(int, error);
    const Op operation = Op(op);
    Rig rig;
    rig.scanned();
    if (QTest::currentTestFailed())
        return;
    rig.memory.refuseOpen(Rig::device(3), PortError(error));
    const int commandsBefore = int(rig.module.commands().size());

    QVERIFY(!runOp(rig, operation));
    QCOMPARE(rig.module.commands().size(), commandsBefore);
    QCOMPARE(rig.link.lastOpenError(), PortError(error));
    // The message line's detail names the COM number, the device and why it did not open.
    QVERIFY2(rig.view.detail.contains(QLatin1String("COM3")), qPrintable(rig.view.detail));
    QVERIFY2(rig.view.detail.contains(Rig::device(3)), qPrintable(rig.view.detail));
    QVERIFY2(rig.view.detail.contains(QLatin1String("open refused")), qPrintable(rig.view.detail));
    if (operation == Op::Process) {
        QCOMPARE(rig.view.message, rig.view.text(TextRow::OpenCom) + QStringLiteral(" : 3 ") +
                                       rig.view.text(TextRow::Error));
    }
    verifyFailureOutcome(rig, operation);
}

QTEST_GUILESS_MAIN(TestLineFaults)
#include "tst_linefaults.moc"
