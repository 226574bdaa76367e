#include "link/linedefinition.h"
#include "operations/scan.h"
#include "rig.h"

#include <QElapsedTimer>
#include <QTest>

using namespace qmr;

namespace {

// The devices opened, as COM numbers.
QList<int> openedPorts(const Rig &rig)
{
    QList<int> ports;
    for (const QString &device : rig.memory.opens())
        ports.append(device.mid(QStringLiteral("/dev/ttyQ").size()).toInt());
    return ports;
}

QList<int> selectedBaudRates(const RecordingView &view)
{
    QList<int> indexes;
    for (const QString &entry : view.entries(QStringLiteral("cmbBaudRate: ")))
        indexes.append(entry.mid(13).toInt());
    return indexes;
}

QList<int> repeated(int value, int times)
{
    return QList<int>(times, value);
}

QList<int> range(int first, int last)
{
    QList<int> values;
    for (int v = first; v <= last; ++v)
        values.append(v);
    return values;
}

// Every open was closed again and nothing is left open.
void verifyPortClosed(const Rig &rig)
{
    QVERIFY(!rig.link.isOpen());
    QCOMPARE(rig.memory.closeCount(), rig.memory.opens().size());
}

void verifyEndedIdle(const Rig &rig)
{
    verifyPortClosed(rig);
    QVERIFY(!rig.view.busy);
    QVERIFY(!rig.view.waitCursor);
    QVERIFY(rig.view.windowEnabled);
}

} // namespace

class TestScan : public QObject
{
    Q_OBJECT

private slots:
    void rememberedPortRunsEveryStepInOrder();
    void rememberedPortUsesTheRememberedText();
    void sweepOrder();
    void lowerPortWins();
    void lockBoxKeepsOneLineSettingPerPort();
    void portsThatDoNotOpen();
    void firstReaderReplyOfWrongLength_data();
    void firstReaderReplyOfWrongLength();
    void informationReadFailures_data();
    void informationReadFailures();
    void replyFieldsShown_data();
    void replyFieldsShown();
    void nonIntegerField_data();
    void nonIntegerField();
    void storedIndexOutsideTable_data();
    void storedIndexOutsideTable();
    void storedIndexOutsideTableInRememberedPort();
    void fullSweepFindsNothing();
    void chineseTexts();
};

void TestScan::rememberedPortRunsEveryStepInOrder()
{
    Rig rig;
    rig.addModule(3, rig.module);
    rig.remember(3, 5);

    QCOMPARE(RunScan(rig.ctx), ScanOutcome::Ok);

    const QStringList expected = {
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
        "message: Scan COM : #3",
        "cmbBaudRate: 5",
        "serial: S/N : 20250010-1",
        "pnID: 01",
        "sbID: 1",
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
    QCOMPARE(rig.view.log, expected);
    QCOMPARE(rig.port.sent, (QList<QByteArray>{"A00M", "A00V", "A00A", "A00N"}));
    QCOMPARE(rig.sleepsOf(100), 3); // before and after "A00V", before "A00N"
    QVERIFY(rig.ctx.ScanOk);
    QCOMPARE(openedPorts(rig), (QList<int>{3, 3}));
    QVERIFY(rig.store.saves.isEmpty()); // a hit on the remembered port rewrites nothing
    QCOMPARE(rig.view.position1, 1);
    QCOMPARE(rig.view.position2, 5);
    verifyEndedIdle(rig);
}

void TestScan::rememberedPortUsesTheRememberedText()
{
    // The text and the index disagree: the text opens the port, the index selects the item.
    Rig rig;
    rig.module.config().lineIndex = 2;
    rig.addModule(3, rig.module);
    rig.settings.ScanCommNo = 3;
    rig.settings.ScanBaudRate = QStringLiteral("9600,n,8,1");
    rig.settings.ScanBaudRateNo = 7;

    QCOMPARE(RunScan(rig.ctx), ScanOutcome::Ok);
    QCOMPARE(openedPorts(rig), (QList<int>{3, 3}));
    QCOMPARE(selectedBaudRates(rig.view), (QList<int>{7, 7}));
    QCOMPARE(rig.settings.ScanBaudRate, QStringLiteral("9600,n,8,1"));
    QCOMPARE(rig.settings.ScanBaudRateNo, 7);
    QVERIFY(rig.store.saves.isEmpty());
}

void TestScan::sweepOrder()
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

    QCOMPARE(RunScan(rig.ctx), ScanOutcome::Ok);

    QCOMPARE(openedPorts(rig), repeated(1, 12) + repeated(3, 12) + repeated(4, 8) + QList<int>{4});
    QCOMPARE(selectedBaudRates(rig.view), QList<int>{2} + range(0, 11) + QList<int>{0} +
                                              range(0, 11) + range(0, 7) + QList<int>{7});
    // No "Scan COM" for the ports that did not open.
    QStringList scanning;
    for (const QString &text : rig.view.messages())
        if (text.startsWith(QLatin1String("Scan COM")))
            scanning.append(text);
    QStringList expected;
    for (int i = 0; i < 12; ++i)
        expected.append(QStringLiteral("Scan COM : #1"));
    for (int i = 0; i < 12; ++i)
        expected.append(QStringLiteral("Scan COM : #3"));
    for (int i = 0; i < 8; ++i)
        expected.append(QStringLiteral("Scan COM : #4"));
    QCOMPARE(scanning, expected);
    // Two "A00M" per candidate that does not answer, one at the winner.
    QCOMPARE(rig.port.sent.count("A00M"), 24 + 24 + 14 + 1);

    QCOMPARE(rig.settings.ScanCommNo, 4);
    QCOMPARE(rig.settings.ScanBaudRateNo, 7);
    QCOMPARE(rig.settings.ScanBaudRate, QStringLiteral("38400,e,8,1"));
    QCOMPARE(rig.store.saves.size(), 1);
    QCOMPARE(rig.store.saves[0].ScanCommNo, 4);
    QCOMPARE(rig.store.saves[0].ScanBaudRateNo, 7);
    QCOMPARE(rig.store.saves[0].ScanBaudRate, QStringLiteral("38400,e,8,1"));
    QCOMPARE(rig.view.message, QStringLiteral("Get Module Info Ok. (COM : #4)"));
    QCOMPARE(rig.view.baudIndex, 7);
    verifyEndedIdle(rig);
}

void TestScan::lowerPortWins()
{
    ModuleModel second;
    second.config().reader1.id = "42";
    Rig rig;
    rig.addModule(5, second);
    rig.addModule(6, rig.module);
    rig.addEmptyPort(1);
    rig.settings.ScanCommNo = 0;

    QCOMPARE(RunScan(rig.ctx), ScanOutcome::Ok);
    QCOMPARE(rig.settings.ScanCommNo, 5);
    QCOMPARE(rig.view.id1, QStringLiteral("42"));
    QVERIFY(!openedPorts(rig).contains(6));
    QVERIFY(rig.module.commands().isEmpty());
}

void TestScan::lockBoxKeepsOneLineSettingPerPort()
{
    Rig rig;
    rig.addEmptyPort(1);
    rig.addEmptyPort(2);
    rig.module.config().lineIndex = 7;
    rig.addModule(4, rig.module);
    rig.settings.ScanCommNo = 0;
    rig.settings.ScanBaudRateNo = 7;
    rig.view.lock = true;

    QCOMPARE(RunScan(rig.ctx), ScanOutcome::Ok);
    QCOMPARE(openedPorts(rig), (QList<int>{1, 2, 4, 4}));
    QCOMPARE(selectedBaudRates(rig.view), (QList<int>{7, 7, 7, 7, 7}));
    QCOMPARE(rig.port.sent.count("A00M"), 2 + 2 + 1);

    // The same with the module at another rate: one try per port, then "Module Not Find".
    Rig other;
    other.addEmptyPort(1);
    other.addModule(4, other.module); // at index 5
    other.settings.ScanBaudRateNo = 7;
    other.settings.ScanBaudRate = QStringLiteral("38400,e,8,1");
    QCOMPARE(RunScan(other.ctx), ScanOutcome::NotFound);
    QCOMPARE(openedPorts(other), (QList<int>{1, 4}));
    QCOMPARE(selectedBaudRates(other.view), repeated(7, 16) + QList<int>{5});
    QCOMPARE(other.view.baudIndex, 5);
    QCOMPARE(other.view.message, QStringLiteral("Module Not Find"));
    QCOMPARE(other.settings.ScanBaudRateNo, 7);
    QCOMPARE(other.settings.ScanBaudRate, QStringLiteral("38400,e,8,1"));
    QVERIFY(other.store.saves.isEmpty());
    QCOMPARE(other.view.lamp, LampColour::Red);
    QCOMPARE(other.view.beeps, (QList<QPair<int, int>>{{300, 300}}));
    QCOMPARE(other.view.serial, QStringLiteral("S/N : ________-_"));
    QCOMPARE(other.view.id1, QStringLiteral("__"));
    QVERIFY(!other.ctx.ScanOk);
    verifyEndedIdle(other);
}

void TestScan::portsThatDoNotOpen()
{
    Rig rig;
    rig.memory.addDevice(Rig::device(1));
    rig.memory.refuseOpen(Rig::device(1), PortError::PermissionDenied);
    rig.addModule(2, rig.module);
    rig.view.lock = false;

    QCOMPARE(RunScan(rig.ctx), ScanOutcome::Ok);
    QVERIFY(!rig.view.messages().contains(QStringLiteral("Scan COM : #1")));
    QCOMPARE(openedPorts(rig).first(), 2);
    // COM1 cost one selection and no command; COM2 answered at index 5.
    QCOMPARE(selectedBaudRates(rig.view), QList<int>{0} + range(0, 5) + QList<int>{5});
    QCOMPARE(rig.port.sent.count("A00M"), 2 * 5 + 1);
    QCOMPARE(rig.view.detail, QStringLiteral("COM2: /dev/ttyQ2"));

    // Nothing found: the detail still names the port the user may not open, not the last
    // port that does not exist.
    Rig refused;
    refused.memory.addDevice(Rig::device(3));
    refused.memory.refuseOpen(Rig::device(3), PortError::PermissionDenied);
    QCOMPARE(RunScan(refused.ctx), ScanOutcome::NotFound);
    QVERIFY(refused.view.detail.startsWith(QLatin1String("COM3: /dev/ttyQ3: ")));
    QVERIFY(refused.port.sent.isEmpty());
}

void TestScan::firstReaderReplyOfWrongLength_data()
{
    QTest::addColumn<int>("lengthDelta");
    QTest::newRow("15 bytes") << -1;
    QTest::newRow("17 bytes") << 1;
}

void TestScan::firstReaderReplyOfWrongLength()
{
    QFETCH(int, lengthDelta);
    ModuleModel odd;
    odd.faults().lengthDelta = lengthDelta;
    Rig rig;
    rig.addModule(2, odd);
    rig.addModule(6, rig.module);
    rig.remember(2, 5); // the remembered port answers with the wrong length, 3 times

    QCOMPARE(RunScan(rig.ctx), ScanOutcome::Ok);
    QCOMPARE(odd.commands(), QList<QByteArray>(3 + 2, "A00M"));
    QCOMPARE(rig.settings.ScanCommNo, 6);
    QCOMPARE(rig.store.saves.size(), 1);
}

void TestScan::informationReadFailures_data()
{
    QTest::addColumn<QByteArray>("silenced"); // commands the module never hears
    QTest::addColumn<int>("silencedTimes");   // how many of them (0: all)
    QTest::addColumn<bool>("reopenFails");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QList<QByteArray>>("commands");
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("rs485");
    QTest::addColumn<QString>("id2");
    QTest::addColumn<int>("position2");

    const QString placeholder = QStringLiteral("VER : __.__-__");
    const QString version = QStringLiteral("VER : 03.20-01");
    QTest::newRow("A00V fails twice")
        << QByteArray("A00V") << 0 << false << int(ScanOutcome::InfoError)
        << QList<QByteArray>{"A00M", "A00V", "A00V"} << placeholder << 1 << 2 << "__" << 9;
    QTest::newRow("A00V fails once") << QByteArray("A00V") << 1 << false << int(ScanOutcome::Ok)
                                     << QList<QByteArray>{"A00M", "A00V", "A00V", "A00A", "A00N"}
                                     << version << 0 << 0 << "07" << 7;
    QTest::newRow("A00A fails") << QByteArray("A00A") << 0 << false << int(ScanOutcome::InfoError)
                                << QList<QByteArray>{"A00M", "A00V", "A00A"} << version << 1 << 2
                                << "__" << 9;
    QTest::newRow("A00N fails") << QByteArray("A00N") << 0 << false << int(ScanOutcome::InfoError)
                                << QList<QByteArray>{"A00M", "A00V", "A00A", "A00N"} << version << 0
                                << 0 << "__" << 9;
    QTest::newRow("reopen fails") << QByteArray() << 0 << true << int(ScanOutcome::InfoError)
                                  << QList<QByteArray>{"A00M"} << placeholder << 1 << 2 << "__"
                                  << 9;
}

void TestScan::informationReadFailures()
{
    QFETCH(QByteArray, silenced);
    QFETCH(int, silencedTimes);
    QFETCH(bool, reopenFails);
    QFETCH(int, outcome);
    QFETCH(QList<QByteArray>, commands);
    QFETCH(QString, version);
    QFETCH(int, mode);
    QFETCH(int, rs485);
    QFETCH(QString, id2);
    QFETCH(int, position2);

    Rig rig;
    rig.module.config().rs485 = '0';
    rig.module.config().reader2.id = "07";
    rig.addModule(3, rig.module);
    rig.remember(3, 5);
    rig.view.mode = 1;
    rig.view.rs485 = 2;
    rig.view.position2 = 9;
    int silencedSoFar = 0;
    rig.port.script = [&](const QByteArray &command) {
        ScriptedPort::Response response;
        if (command == silenced && (silencedTimes == 0 || silencedSoFar++ < silencedTimes))
            response.action = ScriptedPort::Action::Silence;
        return response;
    };
    int opens = 0;
    rig.port.refuse = [&](const QString &) { return reopenFails && ++opens == 2; };

    QCOMPARE(int(RunScan(rig.ctx)), outcome);
    QCOMPARE(rig.port.sent, commands);
    QCOMPARE(rig.view.version, version);
    QCOMPARE(rig.view.mode, mode);
    QCOMPARE(rig.view.rs485, rs485);
    QCOMPARE(rig.view.id2, id2);
    QCOMPARE(rig.view.position2, position2);
    // The identity from "A00M" is shown whatever failed later.
    QCOMPARE(rig.view.serial, QStringLiteral("S/N : 20250010-1"));
    QCOMPARE(rig.view.id1, QStringLiteral("01"));
    QCOMPARE(rig.view.baudIndex, 5);
    if (outcome == int(ScanOutcome::InfoError)) {
        QCOMPARE(rig.view.message, QStringLiteral("Get Module Info Error. (COM : #3)"));
        QCOMPARE(rig.view.lamp, LampColour::Red);
        QCOMPARE(rig.view.beeps, (QList<QPair<int, int>>{{300, 300}}));
        QVERIFY(!rig.ctx.ScanOk);
    } else {
        QCOMPARE(rig.view.message, QStringLiteral("Get Module Info Ok. (COM : #3)"));
        QVERIFY(rig.ctx.ScanOk);
    }
    if (reopenFails)
        QCOMPARE(rig.view.detail, QStringLiteral("COM3: /dev/ttyQ3: held by another program"));
    verifyEndedIdle(rig);
}

void TestScan::replyFieldsShown_data()
{
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<char>("mode");
    QTest::addColumn<char>("rs485");
    QTest::addColumn<QString>("serialText");
    QTest::addColumn<int>("modeIndex");
    QTest::addColumn<int>("rs485Index");
    QTest::addColumn<QString>("id2");

    QTest::newRow("unit digit 0") << QByteArray("12345670") << '0' << '1' << "S/N : 12345670-1" << 0
                                  << 1 << "05";
    QTest::newRow("unit digit 9") << QByteArray("12345679") << '0' << '2' << "S/N : 12345679-10"
                                  << 0 << 2 << "05";
    QTest::newRow("one reader") << QByteArray("12345674") << '1' << '0' << "S/N : 12345674-5" << 1
                                << 0 << "__";
    QTest::newRow("mode X") << QByteArray("12345674") << 'X' << '0' << "S/N : 12345674-5" << 1 << 0
                            << "__";
    QTest::newRow("RS-485 3 unchanged")
        << QByteArray("12345674") << '0' << '3' << "S/N : 12345674-5" << 0 << 2 << "05";
}

void TestScan::replyFieldsShown()
{
    QFETCH(QByteArray, serial);
    QFETCH(char, mode);
    QFETCH(char, rs485);
    QFETCH(QString, serialText);
    QFETCH(int, modeIndex);
    QFETCH(int, rs485Index);
    QFETCH(QString, id2);

    Rig rig;
    rig.module.config().reader1.serial = serial;
    rig.module.config().mode = mode;
    rig.module.config().rs485 = rs485;
    rig.addModule(3, rig.module);
    rig.remember(3, 5);
    rig.view.rs485 = 2;

    QCOMPARE(RunScan(rig.ctx), ScanOutcome::Ok);
    QCOMPARE(rig.view.serial, serialText);
    QCOMPARE(rig.view.mode, modeIndex);
    QCOMPARE(rig.view.rs485, rs485Index);
    QCOMPARE(rig.view.id2, id2);
    QCOMPARE(rig.view.position2, 5); // set from the reply in either mode
}

void TestScan::nonIntegerField_data()
{
    QTest::addColumn<QByteArray>("id1");
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<QByteArray>("id2");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QList<QByteArray>>("commands");

    QTest::newRow("ID 1") << QByteArray("x1") << QByteArray("20250010") << QByteArray("05")
                          << "'x1' is not a valid integer value" << QList<QByteArray>{"A00M"};
    QTest::newRow("unit digit") << QByteArray("01") << QByteArray("2025001Z") << QByteArray("05")
                                << "'Z' is not a valid integer value" << QList<QByteArray>{"A00M"};
    QTest::newRow("ID 2") << QByteArray("01") << QByteArray("20250010") << QByteArray("a5")
                          << "'a5' is not a valid integer value"
                          << QList<QByteArray>{"A00M", "A00V", "A00A", "A00N"};
}

void TestScan::nonIntegerField()
{
    QFETCH(QByteArray, id1);
    QFETCH(QByteArray, serial);
    QFETCH(QByteArray, id2);
    QFETCH(QString, error);
    QFETCH(QList<QByteArray>, commands);

    Rig rig;
    rig.module.config().reader1.id = id1;
    rig.module.config().reader1.serial = serial;
    rig.module.config().reader2.id = id2;
    rig.addModule(3, rig.module);
    rig.remember(3, 5);

    QCOMPARE(RunScan(rig.ctx), ScanOutcome::InfoError);
    QCOMPARE(rig.view.errors, QStringList{error});
    QCOMPARE(rig.port.sent, commands);
    QCOMPARE(rig.view.message, QStringLiteral("Get Module Info Error. (COM : #3)"));
    QCOMPARE(rig.view.lamp, LampColour::Red);
    QCOMPARE(rig.view.beeps, (QList<QPair<int, int>>{{300, 300}}));
    QVERIFY(!rig.ctx.ScanOk);
    // The message box comes last, over a window that is already back to normal.
    QCOMPARE(rig.view.log.last(), QStringLiteral("error: ") + error);
    verifyEndedIdle(rig);
}

void TestScan::storedIndexOutsideTable_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("moduleLine");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("afterwards");

    QTest::newRow("12, found") << 12 << 5 << int(ScanOutcome::Ok) << 5;
    QTest::newRow("-1, found") << -1 << 5 << int(ScanOutcome::Ok) << 5;
    QTest::newRow("12, not found") << 12 << 7 << int(ScanOutcome::NotFound) << 12;
    QTest::newRow("-1, not found") << -1 << 7 << int(ScanOutcome::NotFound) << -1;
}

void TestScan::storedIndexOutsideTable()
{
    QFETCH(int, stored);
    QFETCH(int, moduleLine);
    QFETCH(int, outcome);
    QFETCH(int, afterwards);

    Rig rig;
    rig.addEmptyPort(1);
    rig.module.config().lineIndex = moduleLine;
    rig.addModule(2, rig.module);
    rig.settings.ScanBaudRateNo = stored;
    rig.view.lock = true;

    QCOMPARE(int(RunScan(rig.ctx)), outcome);
    for (const MemoryPort::Written &write : rig.memory.writes())
        QCOMPARE(write.line, (LineSettings{19200, 'e', 8, 1}));
    for (int index : selectedBaudRates(rig.view))
        QCOMPARE(index, 5);
    QCOMPARE(rig.settings.ScanBaudRateNo, afterwards);
}

void TestScan::storedIndexOutsideTableInRememberedPort()
{
    Rig rig;
    rig.addModule(2, rig.module);
    rig.settings.ScanCommNo = 2;
    rig.settings.ScanBaudRateNo = 12;

    QCOMPARE(RunScan(rig.ctx), ScanOutcome::Ok);
    QCOMPARE(selectedBaudRates(rig.view), (QList<int>{5, 5}));
    QCOMPARE(rig.settings.ScanBaudRateNo, 12); // stays as read: no sweep replaced it
}

void TestScan::fullSweepFindsNothing()
{
    Rig rig;
    for (int com = 1; com <= 16; ++com)
        rig.addEmptyPort(com);
    rig.settings.ScanCommNo = 0;
    rig.settings.ScanBaudRate = QStringLiteral("4800,n,8,1");
    rig.settings.ScanBaudRateNo = 0;
    rig.view.lock = false;
    rig.view.mode = 1;

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(RunScan(rig.ctx), ScanOutcome::NotFound);
    qInfo("192 candidates in %lld ms", timer.elapsed());

    QCOMPARE(rig.memory.opens().size(), 192);
    QCOMPARE(rig.port.sent, QList<QByteArray>(384, "A00M"));
    QCOMPARE(rig.view.message, QStringLiteral("Module Not Find"));
    QCOMPARE(rig.view.baudIndex, 5);
    QCOMPARE(rig.settings.ScanCommNo, 0);
    QCOMPARE(rig.settings.ScanBaudRate, QStringLiteral("4800,n,8,1"));
    QCOMPARE(rig.settings.ScanBaudRateNo, 0);
    QVERIFY(rig.store.saves.isEmpty());
    QCOMPARE(rig.view.version, QStringLiteral("VER : __.__-__"));
    QCOMPARE(rig.view.id2, QStringLiteral("__"));
    QCOMPARE(rig.view.mode, 1);
    QCOMPARE(rig.sleepsOf(100), 0);
    verifyEndedIdle(rig);
}

void TestScan::chineseTexts()
{
#ifndef QMR_HAVE_LANGUAGE_TABLE
    QSKIP("the language table is not part of this build");
#endif
    Rig rig;
    rig.view.languageIndex = 1;
    rig.addModule(3, rig.module);
    rig.remember(3, 5);
    QCOMPARE(RunScan(rig.ctx), ScanOutcome::Ok);
    QCOMPARE(rig.view.messages(),
             (QStringList{QStringLiteral("扫描模组 ...."), QStringLiteral("扫描串口 : #3"),
                          QStringLiteral("读取模组资讯完成. (串口 : #3)")}));
    QCOMPARE(rig.view.serial, QStringLiteral("序号 : 20250010-1"));
    QCOMPARE(rig.view.version, QStringLiteral("版本 : 03.20-01"));

    Rig traditional;
    traditional.view.languageIndex = 2;
    traditional.addModule(3, traditional.module);
    traditional.remember(3, 5);
    traditional.port.script = [](const QByteArray &command) {
        ScriptedPort::Response response;
        if (command == "A00N")
            response.action = ScriptedPort::Action::Silence;
        return response;
    };
    QCOMPARE(RunScan(traditional.ctx), ScanOutcome::InfoError);
    QCOMPARE(traditional.view.message, QStringLiteral("讀取模組資訊錯誤. (串口 : #3)"));

    Rig missing;
    missing.view.languageIndex = 1;
    QCOMPARE(RunScan(missing.ctx), ScanOutcome::NotFound);
    QCOMPARE(missing.view.message, QStringLiteral("模组没有连线"));
}

QTEST_APPLESS_MAIN(TestScan)
#include "tst_scan.moc"
