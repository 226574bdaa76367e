// Every qmrctl command against the module model on the in-memory port, on a fake clock.

#include "cli/commandrunner.h"
#include "link/linedefinition.h"
#include "link/link.h"
#include "link/portmap.h"
#include "settings/memorysettingsstore.h"
#include "sim/fakeclock.h"
#include "sim/memoryport.h"
#include "sim/modulemodel.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <functional>

using namespace qmr;

namespace {

const QString Device = QStringLiteral("/dev/ttyQMR");

struct Rig
{
    FakeClock clock;
    MemoryPort port{clock};
    ModuleModel model;
    FixedPortMap map{{{3, Device}, {5, QStringLiteral("/dev/ttyLOCKED")}}};
    MemorySettingsStore store;
    Link link{port, clock, map};
    QString out;
    QString err;
    int factoryCalls = 0;

    Rig()
    {
        port.addDevice(Device, &model);
        port.addDevice(QStringLiteral("/dev/ttyLOCKED"));
        port.refuseOpen(QStringLiteral("/dev/ttyLOCKED"), PortError::PermissionDenied);
    }

    bool progress = false;

    int run(const QStringList &args, InterruptSource *interrupt = nullptr)
    {
        out.clear();
        err.clear();
        QTextStream o(&out);
        QTextStream e(&err);
        CommandRunner runner(
            [this](ModuleView &view, Settings &settings) {
                ++factoryCalls;
                return ModuleContext{link, clock, settings, store, view};
            },
            o, e);
        runner.setInterruptSource(interrupt);
        runner.setProgressAllowed(progress);
        const int code = runner.run(args);
        o.flush();
        e.flush();
        return code;
    }

    QJsonObject json() const
    {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(out.toUtf8(), &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject())
            qWarning("not one JSON object: %s", qPrintable(out));
        return doc.object();
    }

    QStringList outLines() const { return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

class FakeInterrupt : public InterruptSource
{
public:
    std::function<bool()> when;
    bool armed = false;
    void arm() override { armed = true; }
    bool requested() const override { return armed && when(); }
};

} // namespace

class TestCommandRunner : public QObject
{
    Q_OBJECT

private slots:
    void scanPrintsIdentity();
    void scanJson();
    void scanRemembersThePort();
    void scanWithoutModule();
    void lockAndAllLines();
    void scanOneReaderModule();
    void languages();
    void fieldThatIsNoNumber();
    void progressOnlyWhenAllowed();
    void setId_data();
    void setId();
    void setIdInOneReaderMode();
    void setLine_data();
    void setLine();
    void setMode_data();
    void setMode();
    void quickSettings_data();
    void quickSettings();
    void procedureFailureIsExitOne();
    void noModuleSendsNoSetting_data();
    void noModuleSendsNoSetting();
    void pollCount();
    void pollCountOneReader();
    void pollJson();
    void pollInterrupt();
    void pollFailure();
    void ports();
    void portsJson();
    void trace();
    void usageErrorsTouchNothing();
    void helpAndVersion();
};

void TestCommandRunner::scanPrintsIdentity()
{
    Rig rig;
    QCOMPARE(rig.run({"scan"}), 0);
    QVERIFY2(rig.out.startsWith("Get Module Info Ok. (COM : #3)\n"), qPrintable(rig.out));
    for (const char *expected :
         {"COM:        3 (/dev/ttyQMR)", "BaudRate:   19200,e,8,1", "S/N:        20250010-1",
          "VER:        03.20-01", "Mode:       Two Reader", "RS-485:     RS485 32",
          "ID 1:       01", "ID 2:       05"})
        QVERIFY2(rig.out.contains(QLatin1String(expected)), expected);
    QVERIFY(rig.err.isEmpty());
    QVERIFY(!rig.port.isOpen());
}

void TestCommandRunner::scanJson()
{
    Rig rig;
    rig.model.config().reader1 = {"42", "12345679", "x"}; // unit digit 9: suffix 10
    rig.model.config().rs485 = '2';
    rig.model.config().lineIndex = 9;
    QCOMPARE(rig.run({"--json", "--all-lines", "scan"}), 0);
    const QJsonObject json = rig.json();
    QCOMPARE(json.value("command").toString(), QStringLiteral("scan"));
    QCOMPARE(json.value("ok").toBool(), true);
    QCOMPARE(json.value("message").toString(), QStringLiteral("Get Module Info Ok. (COM : #3)"));
    const QJsonObject module = json.value("module").toObject();
    QCOMPARE(module.value("com").toInt(), 3);
    QCOMPARE(module.value("device").toString(), Device);
    QCOMPARE(module.value("line").toString(), QStringLiteral("57600,e,8,1"));
    QCOMPARE(module.value("lineIndex").toInt(), 9);
    QCOMPARE(module.value("serial").toString(), QStringLiteral("12345679"));
    QCOMPARE(module.value("suffix").toString(), QStringLiteral("10"));
    QCOMPARE(module.value("version").toString(), QStringLiteral("03.20-01"));
    QCOMPARE(module.value("mode").toString(), QStringLiteral("two"));
    QCOMPARE(module.value("rs485").toInt(), 40);
    QCOMPARE(module.value("id1").toString(), QStringLiteral("42"));
    QCOMPARE(module.value("id2").toString(), QStringLiteral("05"));
}

void TestCommandRunner::scanRemembersThePort()
{
    Rig rig;
    QCOMPARE(rig.run({"scan"}), 0);
    QCOMPARE(rig.store.intValue("ScanCommNo").value_or(0), 3);
    QCOMPARE(rig.store.textValue("ScanBaudRate").value_or(QString()),
             QStringLiteral("19200,e,8,1"));

    // The next call finds the module at once on the remembered port and saves nothing.
    rig.store.clearRecords();
    const qsizetype opensBefore = rig.port.opens().size();
    QCOMPARE(rig.run({"scan"}), 0);
    QCOMPARE(rig.port.opens().size() - opensBefore, 2); // stage 1, then the information read
    QVERIFY(!rig.store.calls().contains("SaveScanSettings"));
}

void TestCommandRunner::scanWithoutModule()
{
    Rig rig;
    rig.model.faults().silent = true;
    QCOMPARE(rig.run({"scan"}), 1);
    QVERIFY(rig.out.isEmpty());
    QVERIFY2(rig.err.startsWith("Module Not Find"), qPrintable(rig.err));
    // The port that could not be opened for lack of permission is named.
    QVERIFY2(rig.err.contains("COM5"), qPrintable(rig.err));

    QCOMPARE(rig.run({"scan", "--json"}), 1);
    const QJsonObject json = rig.json();
    QCOMPARE(json.value("ok").toBool(), false);
    QCOMPARE(json.value("message").toString(), QStringLiteral("Module Not Find"));
    QVERIFY(!json.contains("module"));
    QVERIFY(!rig.store.contains("ScanCommNo"));
}

void TestCommandRunner::lockAndAllLines()
{
    Rig rig;
    rig.model.config().lineIndex = 7; // 38400,e,8,1
    QCOMPARE(rig.run({"scan"}), 1);   // the lock keeps the sweep at the remembered index 5
    QVERIFY(rig.err.startsWith("Module Not Find"));
    QCOMPARE(rig.run({"scan", "--all-lines"}), 0);
    QVERIFY(rig.out.contains("38400,e,8,1"));
    QCOMPARE(rig.store.intValue("ScanBaudRateNo").value_or(-1), 7);
    // Remembered now: the lock finds it without sweeping every line setting.
    QCOMPARE(rig.run({"scan"}), 0);
}

void TestCommandRunner::scanOneReaderModule()
{
    Rig rig;
    rig.model.config().mode = '1';
    rig.model.config().reader2.id = "33";
    QCOMPARE(rig.run({"scan"}), 0);
    QVERIFY(rig.out.contains("Mode:       One Reader"));
    QVERIFY(rig.out.contains("ID 2:       33 (not used in one-reader mode)"));
    QCOMPARE(rig.run({"scan", "--json"}), 0);
    QCOMPARE(rig.json().value("module").toObject().value("mode").toString(), QStringLiteral("one"));
    QCOMPARE(rig.json().value("module").toObject().value("id2").toString(), QStringLiteral("33"));
}

void TestCommandRunner::languages()
{
    Rig rig;
    QCOMPARE(rig.run({"--lang", "gb", "scan"}), 0);
    QVERIFY2(rig.out.startsWith(QStringLiteral("读取模组资讯完成. (串口 : #3)")),
             qPrintable(rig.out));
    QVERIFY(rig.out.contains(QStringLiteral("序号:")));

    // Without --lang the remembered language is used, and --lang does not change it.
    rig.store.setValue("LanguageFlag", QStringLiteral("ChineseBIG5"));
    QCOMPARE(rig.run({"scan"}), 0);
    QVERIFY2(rig.out.startsWith(QStringLiteral("讀取模組資訊完成. (串口 : #3)")),
             qPrintable(rig.out));
    QCOMPARE(rig.run({"scan", "--lang=en"}), 0);
    QVERIFY(rig.out.startsWith("Get Module Info Ok."));
    QCOMPARE(rig.store.textValue("LanguageFlag").value_or(QString()),
             QStringLiteral("ChineseBIG5"));
}

void TestCommandRunner::fieldThatIsNoNumber()
{
    Rig rig;
    rig.model.config().reader1.id = "x1";
    QCOMPARE(rig.run({"scan"}), 1);
    QVERIFY2(rig.err.contains("qmrctl: 'x1' is not a valid integer value\n"), qPrintable(rig.err));
    QVERIFY(!rig.port.isOpen());
    QCOMPARE(rig.run({"scan", "--json"}), 1);
    const QJsonObject json = rig.json();
    QCOMPARE(json.value("ok").toBool(), false);
    QCOMPARE(json.value("errors").toArray().first().toString(),
             QStringLiteral("'x1' is not a valid integer value"));
}

void TestCommandRunner::progressOnlyWhenAllowed()
{
    Rig rig;
    QCOMPARE(rig.run({"scan"}), 0);
    QVERIFY(rig.err.isEmpty());
    rig.progress = true;
    QCOMPARE(rig.run({"scan"}), 0);
    QVERIFY2(rig.err.contains("\rScan COM : #3  (19200,e,8,1)\x1b[K"), qPrintable(rig.err));
    QVERIFY(rig.err.endsWith("\r\x1b[K")); // the progress line is wiped before the result
    QVERIFY(rig.out.startsWith("Get Module Info Ok."));

    // The outcome beep is silent on the console unless the bell is asked for.
    rig.progress = false;
    QCOMPARE(rig.run({"scan", "--bell"}), 0);
    QCOMPARE(rig.err, QStringLiteral("\a"));
}

void TestCommandRunner::setId_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("id1");
    QTest::addColumn<QByteArray>("id2");
    QTest::newRow("both") << QStringList{"set-id", "12", "34"} << QByteArray("12")
                          << QByteArray("34");
    QTest::newRow("ID2 kept") << QStringList{"set-id", "7"} << QByteArray("07") << QByteArray("05");
    QTest::newRow("same as before")
        << QStringList{"set-id", "1", "5"} << QByteArray("01") << QByteArray("05");
    QTest::newRow("limits") << QStringList{"set-id", "99", "1"} << QByteArray("99")
                            << QByteArray("01");
}

void TestCommandRunner::setId()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, id1);
    QFETCH(QByteArray, id2);
    Rig rig;
    QCOMPARE(rig.run(args), 0);
    QCOMPARE(rig.out, QStringLiteral("Set Module ID Ok\n"));
    QCOMPARE(rig.model.config().reader1.id, id1);
    QCOMPARE(rig.model.config().reader2.id, id2);
    QVERIFY(rig.model.commands().contains("A00C20250010" + id1));
    QVERIFY(rig.model.commands().contains("A00C20250021" + id2));
    QVERIFY(!rig.port.isOpen());
}

void TestCommandRunner::setIdInOneReaderMode()
{
    Rig rig;
    rig.model.config().mode = '1';
    QCOMPARE(rig.run({"set-id", "12", "34", "--json"}), 0);
    QCOMPARE(rig.model.config().reader1.id, QByteArray("12"));
    QCOMPARE(rig.model.config().reader2.id, QByteArray("05")); // no ID2 in one-reader mode
    const QJsonObject json = rig.json();
    QCOMPARE(json.value("ok").toBool(), true);
    QCOMPARE(json.value("message").toString(), QStringLiteral("Set Module ID Ok"));
    QCOMPARE(json.value("id2Sent").toBool(), false);

    // Without --json the user is told that ID2 was not sent.
    QCOMPARE(rig.run({"set-id", "12", "34"}), 0);
    QVERIFY(rig.err.contains("ID2 is not sent"));
}

void TestCommandRunner::setLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("index");
    QTest::newRow("by text") << "38400,e,8,1" << 7;
    QTest::newRow("by index") << "11" << 11;
    QTest::newRow("the current one") << "5" << 5;
    QTest::newRow("index 0") << "0" << 0;
}

void TestCommandRunner::setLine()
{
    QFETCH(QString, line);
    QFETCH(int, index);
    Rig rig;
    QCOMPARE(rig.run({"set-line", line}), 0);
    QCOMPARE(rig.out, QStringLiteral("Set Module BaudRate Ok\n"));
    QCOMPARE(rig.model.config().lineIndex, index);
    // Remembered, so the next call finds the module at its new line setting.
    QCOMPARE(rig.store.intValue("ScanBaudRateNo").value_or(-1), index);
    QCOMPARE(rig.store.textValue("ScanBaudRate").value_or(QString()),
             QLatin1String(BaudRateTable[index]));
    QCOMPARE(rig.run({"scan"}), 0);
    QVERIFY(rig.out.contains(QLatin1String(BaudRateTable[index])));
}

void TestCommandRunner::setMode_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<char>("rs485Before");
    QTest::addColumn<QByteArray>("command");
    QTest::newRow("one 40") << QStringList{"set-mode", "one", "--rs485", "40"} << '1'
                            << QByteArray("A00A102");
    QTest::newRow("two 24") << QStringList{"set-mode", "two", "--rs485", "24"} << '1'
                            << QByteArray("A00A000");
    QTest::newRow("RS-485 kept") << QStringList{"set-mode", "one"} << '2' << QByteArray("A00A102");
    QTest::newRow("RS-485 24 kept")
        << QStringList{"set-mode", "two"} << '0' << QByteArray("A00A000");
}

void TestCommandRunner::setMode()
{
    QFETCH(QStringList, args);
    QFETCH(char, rs485Before);
    QFETCH(QByteArray, command);
    Rig rig;
    rig.model.config().rs485 = rs485Before;
    QCOMPARE(rig.run(args), 0);
    QCOMPARE(rig.out, QStringLiteral("Set Module Mode Ok\n"));
    QCOMPARE(rig.model.commands().last(), command);
    QCOMPARE(rig.model.config().mode, command.at(4));
    QCOMPARE(rig.model.config().rs485, command.at(6));
}

void TestCommandRunner::quickSettings_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<char>("mode");
    QTest::newRow("factory") << "factory" << '0';
    QTest::newRow("one-reader") << "one-reader" << '1';
}

void TestCommandRunner::quickSettings()
{
    QFETCH(QString, command);
    QFETCH(char, mode);
    Rig rig;
    ModuleConfig &config = rig.model.config();
    config.reader1.id = "07";
    config.reader2.id = "08";
    config.mode = '1' + '0' - mode; // the other mode
    config.rs485 = '2';
    config.lineIndex = 9;
    QCOMPARE(rig.run({command, "--all-lines"}), 0);
    QCOMPARE(rig.out, QStringLiteral("Set Factory Default Ok\n"));
    QCOMPARE(config.reader1.id, QByteArray("01"));
    QCOMPARE(config.reader2.id, QByteArray("05"));
    QCOMPARE(config.mode, mode);
    QCOMPARE(config.rs485, '1');
    QCOMPARE(config.lineIndex, 5);
    // The module now answers at 19200,e,8,1: the next call finds it without a full sweep.
    QCOMPARE(rig.store.intValue("ScanBaudRateNo").value_or(-1), 5);
    QCOMPARE(rig.run({"scan"}), 0);
}

void TestCommandRunner::procedureFailureIsExitOne()
{
    Rig rig;
    // The scan gets its four replies, then the module falls silent for the setting.
    rig.clock.setOnAdvance([&rig](quint32) {
        if (rig.model.commands().size() >= 4)
            rig.model.faults().silent = true;
    });
    QCOMPARE(rig.run({"set-id", "12", "--json"}), 1);
    const QJsonObject json = rig.json();
    QCOMPARE(json.value("ok").toBool(), false);
    QCOMPARE(json.value("message").toString(), QStringLiteral("Set Module ID Error"));
    QCOMPARE(rig.model.config().reader1.id, QByteArray("01"));
    QVERIFY(!rig.port.isOpen());
}

void TestCommandRunner::noModuleSendsNoSetting_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("set-id") << QStringList{"set-id", "5"};
    QTest::newRow("set-line") << QStringList{"set-line", "3"};
    QTest::newRow("set-mode") << QStringList{"set-mode", "one"};
    QTest::newRow("factory") << QStringList{"factory"};
    QTest::newRow("one-reader") << QStringList{"one-reader"};
    QTest::newRow("poll") << QStringList{"poll", "--count", "1"};
}

void TestCommandRunner::noModuleSendsNoSetting()
{
    QFETCH(QStringList, args);
    Rig rig;
    rig.model.config().lineIndex = 2; // not where the locked sweep looks
    QCOMPARE(rig.run(args), 1);
    QVERIFY2(rig.err.startsWith("Module Not Find"), qPrintable(rig.err));
    QVERIFY(rig.model.commands().isEmpty());
    QCOMPARE(rig.model.config().lineIndex, 2);
}

void TestCommandRunner::pollCount()
{
    Rig rig;
    QCOMPARE(rig.run({"poll", "--count", "3"}), 0);
    const QStringList lines = rig.outLines();
    QCOMPARE(lines.size(), 3);
    const QRegularExpression reply(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\."
                                                  "\\d{3}  reader ([12])  ID (\\d\\d)  (\\d+)$"));
    const char *const readers[] = {"1", "2", "1"};
    const char *const data[] = {"0000012345", "0000067890", "0000012345"};
    for (int i = 0; i < 3; ++i) {
        const QRegularExpressionMatch m = reply.match(lines.at(i));
        QVERIFY2(m.hasMatch(), qPrintable(lines.at(i)));
        QCOMPARE(m.captured(1), QLatin1String(readers[i]));
        QCOMPARE(m.captured(3), QLatin1String(data[i]));
    }
    QVERIFY(!rig.port.isOpen());
    QCOMPARE(rig.port.closeCount(), rig.port.opens().size());
}

void TestCommandRunner::pollCountOneReader()
{
    Rig rig;
    rig.model.config().mode = '1';
    QCOMPARE(rig.run({"poll", "--count=2"}), 0);
    const QStringList lines = rig.outLines();
    QCOMPARE(lines.size(), 2);
    for (const QString &line : lines)
        QVERIFY2(line.contains("reader 1  ID 01  0000012345"), qPrintable(line));
}

void TestCommandRunner::pollJson()
{
    Rig rig;
    QCOMPARE(rig.run({"poll", "--count", "3", "--json"}), 0);
    const QStringList lines = rig.outLines();
    QCOMPARE(lines.size(), 5); // the scan, three replies, the end
    QList<QJsonObject> objects;
    for (const QString &line : lines) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QVERIFY(doc.isObject());
        objects.append(doc.object());
    }
    QCOMPARE(objects.first().value("type").toString(), QStringLiteral("scan"));
    QCOMPARE(objects.first().value("module").toObject().value("com").toInt(), 3);
    for (int i = 1; i <= 3; ++i) {
        QCOMPARE(objects.at(i).value("type").toString(), QStringLiteral("reply"));
        QVERIFY(!objects.at(i).value("time").toString().isEmpty());
    }
    QCOMPARE(objects.at(2).value("reader").toInt(), 2);
    QCOMPARE(objects.at(2).value("id").toString(), QStringLiteral("05"));
    QCOMPARE(objects.at(2).value("data").toString(), QStringLiteral("0000067890"));
    QCOMPARE(objects.last().value("type").toString(), QStringLiteral("end"));
    QCOMPARE(objects.last().value("ok").toBool(), true);
    QCOMPARE(objects.last().value("replies").toInt(), 3);
}

void TestCommandRunner::pollInterrupt()
{
    Rig rig;
    FakeInterrupt interrupt;
    interrupt.when = [&rig] { return rig.out.count(QLatin1Char('\n')) >= 5; };
    QCOMPARE(rig.run({"poll"}, &interrupt), 0);
    QVERIFY(interrupt.armed);
    // The stop is noticed in the pause before the next command; the cycle then ends.
    const int lines = int(rig.outLines().size());
    QVERIFY2(lines == 5 || lines == 6, qPrintable(rig.out));
    QVERIFY(rig.err.contains(QStringLiteral("%1 replies").arg(lines)));
    QVERIFY(!rig.port.isOpen());
    QCOMPARE(rig.port.closeCount(), rig.port.opens().size());
}

void TestCommandRunner::pollFailure()
{
    Rig rig;
    // Replies 1 to 4 answer the scan, 5 the first poll; the sixth is never sent.
    rig.model.faults().dropEvery = 6;
    QCOMPARE(rig.run({"poll"}), 1);
    QCOMPARE(rig.outLines().size(), 1);
    QVERIFY(rig.err.contains("no valid reply"));
    QVERIFY(!rig.port.isOpen());

    rig.model.faults().dropEvery = 6;
    QCOMPARE(rig.run({"poll", "--json"}), 1);
    const QStringList lines = rig.outLines();
    const QJsonObject end = QJsonDocument::fromJson(lines.last().toUtf8()).object();
    QCOMPARE(end.value("type").toString(), QStringLiteral("end"));
    QCOMPARE(end.value("ok").toBool(), false);
    QCOMPARE(end.value("outcome").toString(), QStringLiteral("failed"));
}

void TestCommandRunner::ports()
{
    Rig rig;
    rig.store.setValue("ScanCommNo", 3);
    QCOMPARE(rig.run({"ports"}), 0);
    const QStringList lines = rig.outLines();
    QCOMPARE(lines.size(), 16);
    QVERIFY(lines.at(0).startsWith("COM1   -"));
    QVERIFY(lines.at(0).endsWith("no device"));
    QVERIFY2(lines.at(2).contains(Device) && lines.at(2).contains(" ok  (remembered)"),
             qPrintable(lines.at(2)));
    QVERIFY2(lines.at(4).contains("/dev/ttyLOCKED") && lines.at(4).contains("open refused"),
             qPrintable(lines.at(4)));
    QVERIFY(lines.at(15).startsWith("COM16 "));
    QVERIFY(!rig.port.isOpen());
    QVERIFY(rig.model.commands().isEmpty()); // nothing is sent
}

void TestCommandRunner::portsJson()
{
    Rig rig;
    QCOMPARE(rig.run({"ports", "--json"}), 0);
    const QJsonArray ports = rig.json().value("ports").toArray();
    QCOMPARE(ports.size(), 16);
    const QJsonObject com3 = ports.at(2).toObject();
    QCOMPARE(com3.value("com").toInt(), 3);
    QCOMPARE(com3.value("device").toString(), Device);
    QCOMPARE(com3.value("exists").toBool(), true);
    QCOMPARE(com3.value("openable").toBool(), true);
    const QJsonObject com5 = ports.at(4).toObject();
    QCOMPARE(com5.value("exists").toBool(), true);
    QCOMPARE(com5.value("openable").toBool(), false);
    QCOMPARE(com5.value("error").toString(), QStringLiteral("permission-denied"));
    const QJsonObject com1 = ports.at(0).toObject();
    QCOMPARE(com1.value("exists").toBool(), false);
    QCOMPARE(com1.value("error").toString(), QStringLiteral("not-found"));
}

void TestCommandRunner::trace()
{
    Rig rig;
    QCOMPARE(rig.run({"--trace", "scan"}), 0);
    const QStringList lines = rig.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(lines.size() >= 8, qPrintable(rig.err));
    // The first frame sent and its reply, each as one line.
    QVERIFY2(lines.at(0).contains(QRegularExpression(
                 "^ +\\d+\\.\\d{3} tx 09 41 30 30 4D 30 35 0D  \\|\\.A00M05\\.\\|$")),
             qPrintable(lines.at(0)));
    QVERIFY2(lines.at(1).contains(QRegularExpression("^ +\\d+\\.\\d{3} rx 0A .* 0D  \\|")),
             qPrintable(lines.at(1)));
    QCOMPARE(lines.filter(" tx ").size(), 4);
    QCOMPARE(lines.filter(" rx ").size(), 4);
    // Without --trace nothing goes to standard error on success.
    QCOMPARE(rig.run({"scan"}), 0);
    QVERIFY(rig.err.isEmpty());
}

void TestCommandRunner::usageErrorsTouchNothing()
{
    Rig rig;
    const QList<QStringList> bad = {
        {"set-id", "0"},      {"set-id", "100"}, {"set-id", "ab"},   {"set-line", "12345,n,8,1"},
        {"set-mode", "both"}, {"frobnicate"},    {"scan", "--bogus"}};
    for (const QStringList &args : bad) {
        QCOMPARE(rig.run(args), 2);
        QVERIFY(rig.out.isEmpty());
        QVERIFY2(rig.err.startsWith("qmrctl: ") && rig.err.count(QLatin1Char('\n')) == 1,
                 qPrintable(rig.err));
    }
    QCOMPARE(rig.factoryCalls, 0);
    QVERIFY(rig.port.opens().isEmpty());
}

void TestCommandRunner::helpAndVersion()
{
    Rig rig;
    QCOMPARE(rig.run({"--help"}), 0);
    QVERIFY(rig.out.startsWith("Usage: qmrctl"));
    QCOMPARE(rig.run({"--version"}), 0);
    QCOMPARE(rig.out, QStringLiteral("qmrctl %1\n").arg(QStringLiteral(QMR_VERSION)));
    QCOMPARE(rig.factoryCalls, 0);
}

QTEST_GUILESS_MAIN(TestCommandRunner)
#include "tst_commandrunner.moc"
