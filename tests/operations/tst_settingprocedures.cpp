#include "link/linedefinition.h"
#include "operations/quicksettings.h"
#include "operations/setbaudrate.h"
#include "operations/setmode.h"
#include "operations/setmoduleid.h"
#include "rig.h"

#include <QTest>

using namespace qmr;

namespace {

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

void addProcedureRows()
{
    QTest::addColumn<int>("procedure");
    QTest::addColumn<QStringList>("errorMessages");
    QTest::newRow("Set Module ID")
        << int(Procedure::Id) << QStringList{"Set Module ID = 01", "Set Module ID Error"};
    QTest::newRow("Set Module Baud Rate")
        << int(Procedure::BaudRate)
        << QStringList{"Set Module BaudRate = 19200,e,8,1", "Set Module BaudRate Error"};
    QTest::newRow("Set Module Mode")
        << int(Procedure::Mode) << QStringList{"Set Module Mode Error"};
    QTest::newRow("Factory Default")
        << int(Procedure::Factory)
        << QStringList{"Set Factory Default", "Set Factory Default Error"};
    QTest::newRow("One Reader") << int(Procedure::One)
                                << QStringList{"Set Factory Default", "Set Factory Default Error"};
}

ScriptedPort::Response silence(bool yes)
{
    ScriptedPort::Response response;
    if (yes)
        response.action = ScriptedPort::Action::Silence;
    return response;
}

void verifyClosedAndEnabled(const Rig &rig)
{
    QVERIFY(!rig.link.isOpen());
    QCOMPARE(rig.memory.closeCount(), rig.memory.opens().size());
    QVERIFY(rig.view.windowEnabled);
    QVERIFY(!rig.view.waitCursor);
}

const QByteArray Serial1 = "20250010";
const QByteArray Serial2 = "20250021";

} // namespace

class TestSettingProcedures : public QObject
{
    Q_OBJECT

private slots:
    void setModuleId_data();
    void setModuleId();
    void secondAttemptStartsAgain();
    void secondReaderReplyOfWrongLength();
    void underscoreIdSentAsIs();
    void openFailure_data();
    void openFailure();
    void refusedWithoutScan_data();
    void refusedWithoutScan();
    void rateCommand_data();
    void rateCommand();
    void rateChangeThenSetModuleId();
    void rateCommandFailsTwice();
    void rateWithoutSelection_data();
    void rateWithoutSelection();
    void setMode_data();
    void setMode();
    void setModeWithoutRs485Selection();
    void quickSetting_data();
    void quickSetting();
    void quickSettingFailureKeepsControls();
};

void TestSettingProcedures::setModuleId_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QList<QByteArray>>("commands");
    QTest::addColumn<QByteArray>("id2");
    QTest::newRow("two readers") << 0
                                 << QList<QByteArray>{"A00M", "A00C" + Serial1 + "12", "A00N",
                                                      "A00C" + Serial2 + "34"}
                                 << QByteArray("34");
    QTest::newRow("one reader") << 1 << QList<QByteArray>{"A00M", "A00C" + Serial1 + "12", "A00N"}
                                << QByteArray("05");
}

void TestSettingProcedures::setModuleId()
{
    QFETCH(int, mode);
    QFETCH(QList<QByteArray>, commands);
    QFETCH(QByteArray, id2);

    Rig rig;
    rig.scanned();
    rig.view.setId1Position(12);
    rig.view.setId2Position(34);
    rig.view.mode = mode;
    rig.view.log.clear();

    QCOMPARE(RunSetModuleId(rig.ctx), SettingOutcome::Ok);
    QCOMPARE(rig.port.sent, commands);
    QCOMPARE(rig.sleepsOf(100), 4); // the pause after "A00N" also in one-reader mode
    QCOMPARE(rig.view.log,
             (QStringList{"cursor: wait", "window: off", "pump", "message: Set Module ID = 12",
                          "lamp: yellow", "message: Set Module ID Ok", "beep: 1000 300",
                          "window: on", "cursor: normal"}));
    QCOMPARE(rig.module.config().reader1.id, QByteArray("12"));
    QCOMPARE(rig.module.config().reader2.id, id2);
    // The panels, the scan settings and ScanOk stay as they were.
    QCOMPARE(rig.view.id1, QStringLiteral("12"));
    QCOMPARE(rig.settings.ScanCommNo, 3);
    QVERIFY(rig.ctx.ScanOk);
    verifyClosedAndEnabled(rig);
}

void TestSettingProcedures::secondAttemptStartsAgain()
{
    Rig rig;
    rig.scanned();
    rig.view.setId1Position(12);
    bool first = true;
    rig.port.script = [&](const QByteArray &command) {
        const bool drop = command == "A00N" && first;
        if (drop)
            first = false;
        return silence(drop);
    };
    QCOMPARE(RunSetModuleId(rig.ctx), SettingOutcome::Ok);
    const QByteArray id1 = "A00C" + Serial1 + "12";
    QCOMPARE(rig.port.sent, (QList<QByteArray>{"A00M", id1, "A00N", "A00M", id1, "A00N",
                                               "A00C" + Serial2 + "05"}));
    QCOMPARE(rig.sleepsOf(100), 7);
    QCOMPARE(rig.memory.opens().size(), 3); // the scan's two, one for both attempts
}

void TestSettingProcedures::secondReaderReplyOfWrongLength()
{
    // One-reader mode still needs a 16-byte "A00N"; ID 1 is set by then and stays set.
    Rig rig;
    rig.scanned();
    rig.view.mode = 1;
    rig.view.setId1Position(12);
    rig.port.script = [](const QByteArray &command) {
        ScriptedPort::Response response;
        if (command == "A00N") {
            response.action = ScriptedPort::Action::Reply;
            response.replyText = "N05:2025002"; // 15 bytes
        }
        return response;
    };
    QCOMPARE(RunSetModuleId(rig.ctx), SettingOutcome::Error);
    const QByteArray id1 = "A00C" + Serial1 + "12";
    QCOMPARE(rig.port.sent, (QList<QByteArray>{"A00M", id1, "A00N", "A00M", id1, "A00N"}));
    QCOMPARE(rig.module.config().reader1.id, QByteArray("12"));
    QCOMPARE(rig.view.message, QStringLiteral("Set Module ID Error"));
    QCOMPARE(rig.view.lamp, LampColour::Red);
    QCOMPARE(rig.view.beeps, (QList<QPair<int, int>>{{300, 300}}));
    verifyClosedAndEnabled(rig);
}

void TestSettingProcedures::underscoreIdSentAsIs()
{
    Rig rig;
    rig.module.config().mode = '1';
    rig.scanned();
    QCOMPARE(rig.view.id2, QStringLiteral("__"));
    rig.view.mode = 0;
    QCOMPARE(RunSetModuleId(rig.ctx), SettingOutcome::Error); // the module refuses "__"
    const QByteArray id1 = "A00C" + Serial1 + "01";
    const QByteArray id2 = "A00C" + Serial2 + "__";
    QCOMPARE(rig.port.sent,
             (QList<QByteArray>{"A00M", id1, "A00N", id2, "A00M", id1, "A00N", id2}));
    QCOMPARE(rig.module.config().reader2.id, QByteArray("05"));
}

void TestSettingProcedures::openFailure_data()
{
    addProcedureRows();
}

void TestSettingProcedures::openFailure()
{
    QFETCH(int, procedure);
    QFETCH(QStringList, errorMessages);
    Rig rig;
    rig.scanned();
    const qsizetype closes = rig.memory.closeCount();
    rig.memory.refuseOpen(Rig::device(3), PortError::Busy);

    QCOMPARE(run(Procedure(procedure), rig.ctx), SettingOutcome::Error);
    QVERIFY(rig.clock.sleeps().isEmpty()); // no pause before failing
    QVERIFY(rig.port.sent.isEmpty());
    QCOMPARE(rig.memory.closeCount(), closes);
    QCOMPARE(rig.view.messages(), errorMessages);
    QCOMPARE(rig.view.detail, QStringLiteral("COM3: /dev/ttyQ3: open refused"));
    QCOMPARE(rig.view.lamp, LampColour::Red);
    QCOMPARE(rig.view.beeps, (QList<QPair<int, int>>{{300, 300}}));
    QVERIFY(rig.view.windowEnabled);
    QVERIFY(!rig.view.waitCursor);
}

void TestSettingProcedures::refusedWithoutScan_data()
{
    addProcedureRows();
}

void TestSettingProcedures::refusedWithoutScan()
{
    QFETCH(int, procedure);
    Rig rig;
    rig.addModule(3, rig.module);
    rig.remember(3, 5);
    rig.view.position1 = 30;
    rig.view.baudIndex = 2;

    QCOMPARE(run(Procedure(procedure), rig.ctx), SettingOutcome::NoScan);
    QCOMPARE(rig.view.log, (QStringList{"cursor: wait", "window: off", "pump", "lamp: red",
                                        "message: Start Scan Module!", "beep: 300 300",
                                        "window: on", "cursor: normal"}));
    QVERIFY(rig.memory.opens().isEmpty());
    QCOMPARE(rig.view.position1, 30);
    QCOMPARE(rig.view.baudIndex, 2);
}

void TestSettingProcedures::rateCommand_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("command");
    QTest::newRow("5") << 5 << QByteArray("A00E5");
    QTest::newRow("9") << 9 << QByteArray("A00E9");
    QTest::newRow("10") << 10 << QByteArray("A00EA");
    QTest::newRow("11") << 11 << QByteArray("A00EB");
    QTest::newRow("0") << 0 << QByteArray("A00E0");
}

void TestSettingProcedures::rateCommand()
{
    QFETCH(int, index);
    QFETCH(QByteArray, command);
    Rig rig;
    rig.scanned();
    rig.view.baudIndex = index;

    QCOMPARE(RunSetModuleBaudRate(rig.ctx), SettingOutcome::Ok);
    QCOMPARE(rig.port.sent, (QList<QByteArray>{"A00M", command}));
    QCOMPARE(rig.view.messages(),
             (QStringList{QStringLiteral("Set Module BaudRate = ") + BaudRateTable[index],
                          QStringLiteral("Set Module BaudRate Ok")}));
    QCOMPARE(rig.settings.ScanBaudRateNo, index);
    QCOMPARE(rig.settings.ScanBaudRate, QString::fromLatin1(BaudRateTable[index]));
    QCOMPARE(rig.settings.ScanCommNo, 3);
    QVERIFY(rig.store.saves.isEmpty());
    QCOMPARE(rig.module.config().lineIndex, index);
    QCOMPARE(rig.memory.writes().last().line, (LineSettings{19200, 'e', 8, 1})); // old rate
    verifyClosedAndEnabled(rig);
}

void TestSettingProcedures::rateChangeThenSetModuleId()
{
    Rig rig;
    rig.scanned();
    rig.view.baudIndex = 10;
    QCOMPARE(RunSetModuleBaudRate(rig.ctx), SettingOutcome::Ok);
    rig.view.setId1Position(21);
    rig.port.sent.clear();

    QCOMPARE(RunSetModuleId(rig.ctx), SettingOutcome::Ok);
    QCOMPARE(rig.port.sent.size(), 4);
    QCOMPARE(rig.memory.writes().last().line, (LineSettings{115200, 'n', 8, 1}));
    QCOMPARE(rig.module.config().reader1.id, QByteArray("21"));
    QCOMPARE(rig.view.message, QStringLiteral("Set Module ID Ok"));
}

void TestSettingProcedures::rateCommandFailsTwice()
{
    Rig rig;
    rig.scanned();
    rig.view.baudIndex = 9;
    rig.port.script = [](const QByteArray &command) { return silence(command.startsWith("A00E")); };

    QCOMPARE(RunSetModuleBaudRate(rig.ctx), SettingOutcome::Error);
    QCOMPARE(rig.port.sent, (QList<QByteArray>{"A00M", "A00E9", "A00M", "A00E9"}));
    QCOMPARE(rig.settings.ScanBaudRateNo, 5);
    QCOMPARE(rig.settings.ScanBaudRate, QStringLiteral("19200,e,8,1"));
    QCOMPARE(rig.view.message, QStringLiteral("Set Module BaudRate Error"));
    verifyClosedAndEnabled(rig);
}

void TestSettingProcedures::rateWithoutSelection_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("no selection") << -1;
    QTest::newRow("past the table") << 12;
}

void TestSettingProcedures::rateWithoutSelection()
{
    QFETCH(int, index);
    Rig rig;
    rig.scanned();
    rig.view.baudIndex = index;

    QCOMPARE(RunSetModuleBaudRate(rig.ctx), SettingOutcome::Error);
    QVERIFY(rig.port.sent.isEmpty());
    QCOMPARE(rig.view.messages(),
             (QStringList{"Set Module BaudRate = ", "Set Module BaudRate Error"}));
    QCOMPARE(rig.settings.ScanBaudRateNo, 5);
    QCOMPARE(rig.settings.ScanBaudRate, QStringLiteral("19200,e,8,1"));
    verifyClosedAndEnabled(rig);
}

void TestSettingProcedures::setMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("rs485");
    QTest::addColumn<QByteArray>("command");
    QTest::newRow("two readers, RS485 40") << 0 << 2 << QByteArray("A00A002");
    QTest::newRow("one reader, RS485 24") << 1 << 0 << QByteArray("A00A100");
    QTest::newRow("two readers, RS485 24") << 0 << 0 << QByteArray("A00A000");
    QTest::newRow("one reader, RS485 40") << 1 << 2 << QByteArray("A00A102");
}

void TestSettingProcedures::setMode()
{
    QFETCH(int, mode);
    QFETCH(int, rs485);
    QFETCH(QByteArray, command);
    Rig rig;
    rig.scanned();
    const QString id2 = rig.view.id2;
    rig.view.mode = mode;
    rig.view.rs485 = rs485;

    QCOMPARE(RunSetModuleMode(rig.ctx), SettingOutcome::Ok);
    QCOMPARE(rig.port.sent, (QList<QByteArray>{"A00M", command}));
    QCOMPARE(rig.view.messages(), QStringList{"Set Module Mode Ok"}); // no progress text
    QCOMPARE(rig.module.config().mode, command.at(4));
    QCOMPARE(rig.module.config().rs485, command.at(6));
    QCOMPARE(rig.view.id2, id2);
    QCOMPARE(rig.sleepsOf(100), 2);
    verifyClosedAndEnabled(rig);
}

void TestSettingProcedures::setModeWithoutRs485Selection()
{
    for (int rs485 : {-1, 3}) {
        Rig rig;
        rig.scanned();
        rig.view.rs485 = rs485;
        QCOMPARE(RunSetModuleMode(rig.ctx), SettingOutcome::Error);
        QVERIFY(rig.port.sent.isEmpty());
        QCOMPARE(rig.view.message, QStringLiteral("Set Module Mode Error"));
        QCOMPARE(rig.module.config().rs485, '1');
        verifyClosedAndEnabled(rig);
    }
}

void TestSettingProcedures::quickSetting_data()
{
    QTest::addColumn<int>("procedure");
    QTest::addColumn<QByteArray>("modeCommand");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("id2");
    QTest::addColumn<QStringList>("controls");

    QTest::newRow("Factory Default")
        << int(Procedure::Factory) << QByteArray("A00A001") << 0 << "05"
        << QStringList{"sbID: 1",
                       "sbID2: 1",
                       "sbID2: 5",
                       "cmbBaudRate: 5",
                       "cmbMode: 0",
                       "cmbRS485: 1",
                       "message: Set Factory Default"};
    QTest::newRow("One Reader") << int(Procedure::One) << QByteArray("A00A101") << 1 << "__"
                                << QStringList{"sbID: 1",
                                               "cmbBaudRate: 5",
                                               "cmbMode: 1",
                                               "cmbRS485: 1",
                                               "sbID2: 5",
                                               "pnID2: __",
                                               "message: Set Factory Default"};
}

void TestSettingProcedures::quickSetting()
{
    QFETCH(int, procedure);
    QFETCH(QByteArray, modeCommand);
    QFETCH(int, mode);
    QFETCH(QString, id2);
    QFETCH(QStringList, controls);

    Rig rig;
    rig.module.config().reader1.id = "33";
    rig.module.config().reader2.id = "44";
    rig.module.config().rs485 = '2';
    rig.scanned();
    // sbID2 already at 5 while its panel shows "__".
    rig.view.setId1Position(30);
    rig.view.setId2Position(5);
    rig.view.id2 = QStringLiteral("__");
    rig.view.baudIndex = 2;
    rig.view.mode = 1 - mode;
    rig.view.rs485 = 0;
    rig.view.log.clear();
    const Settings before = rig.settings;

    QCOMPARE(run(Procedure(procedure), rig.ctx), SettingOutcome::Ok);
    QCOMPARE(rig.port.sent, (QList<QByteArray>{"A00M", "A00C" + Serial1 + "01", "A00N",
                                               "A00C" + Serial2 + "05", modeCommand, "A00E5"}));
    QCOMPARE(rig.sleepsOf(100), 6);
    QCOMPARE(rig.view.log.mid(3, controls.size()), controls);
    QCOMPARE(rig.view.message, QStringLiteral("Set Factory Default Ok"));

    QCOMPARE(rig.view.id1, QStringLiteral("01"));
    QCOMPARE(rig.view.id2, id2);
    QCOMPARE(rig.view.position2, 5);
    QCOMPARE(rig.view.baudIndex, 5);
    QCOMPARE(rig.view.mode, mode);
    QCOMPARE(rig.view.rs485, 1);

    const ModuleConfig &module = rig.module.config();
    QCOMPARE(module.reader1.id, QByteArray("01"));
    QCOMPARE(module.reader2.id, QByteArray("05")); // also in one-reader mode
    QCOMPARE(module.mode, modeCommand.at(4));
    QCOMPARE(module.rs485, '1');
    QCOMPARE(module.lineIndex, 5);

    QCOMPARE(rig.settings.ScanBaudRateNo, before.ScanBaudRateNo);
    QCOMPARE(rig.settings.ScanBaudRate, before.ScanBaudRate);
    QVERIFY(rig.store.saves.isEmpty());
    verifyClosedAndEnabled(rig);
}

void TestSettingProcedures::quickSettingFailureKeepsControls()
{
    // The module runs at another rate: the quick setting changes IDs and mode, then the
    // rate command gets no reply; nothing is undone, on screen or in the module.
    Rig rig;
    rig.module.config().lineIndex = 9;
    rig.scanned();
    rig.view.mode = 0;
    rig.view.baudIndex = 9;
    rig.port.script = [](const QByteArray &command) { return silence(command == "A00E5"); };

    QCOMPARE(RunQuickSetting(rig.ctx, QuickSetting::OneReader), SettingOutcome::Error);
    QCOMPARE(rig.port.sent.size(), 12);
    QCOMPARE(rig.port.sent.mid(6, 1), QList<QByteArray>{"A00M"}); // the second attempt
    QCOMPARE(rig.view.message, QStringLiteral("Set Factory Default Error"));
    QCOMPARE(rig.view.baudIndex, 5);
    QCOMPARE(rig.view.mode, 1);
    QCOMPARE(rig.view.id2, QStringLiteral("__"));
    QCOMPARE(rig.module.config().mode, '1');
    QCOMPARE(rig.module.config().lineIndex, 9);
    QCOMPARE(rig.settings.ScanBaudRateNo, 9);
    verifyClosedAndEnabled(rig);
}

QTEST_APPLESS_MAIN(TestSettingProcedures)
#include "tst_settingprocedures.moc"
