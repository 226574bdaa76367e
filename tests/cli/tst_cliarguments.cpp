#include "cli/cliarguments.h"

#include <QTest>

using namespace qmr;

Q_DECLARE_METATYPE(qmr::CliCommand)

class TestCliArguments : public QObject
{
    Q_OBJECT

private slots:
    void commands_data();
    void commands();
    void setId_data();
    void setId();
    void setLine_data();
    void setLine();
    void setMode_data();
    void setMode();
    void options();
    void badArguments_data();
    void badArguments();
    void helpWinsOverErrors();
};

void TestCliArguments::commands_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<CliCommand>("command");
    QTest::newRow("ports") << QStringList{"ports"} << CliCommand::Ports;
    QTest::newRow("scan") << QStringList{"scan"} << CliCommand::Scan;
    QTest::newRow("factory") << QStringList{"factory"} << CliCommand::Factory;
    QTest::newRow("one-reader") << QStringList{"one-reader"} << CliCommand::OneReader;
    QTest::newRow("poll") << QStringList{"poll"} << CliCommand::Poll;
    QTest::newRow("help") << QStringList{"--help"} << CliCommand::Help;
    QTest::newRow("-h after a command") << QStringList{"scan", "-h"} << CliCommand::Help;
    QTest::newRow("version") << QStringList{"--version"} << CliCommand::Version;
    QTest::newRow("options first") << QStringList{"--json", "--trace", "scan"} << CliCommand::Scan;
    QTest::newRow("options last") << QStringList{"scan", "--json", "--all-lines"}
                                  << CliCommand::Scan;
}

void TestCliArguments::commands()
{
    QFETCH(QStringList, args);
    QFETCH(CliCommand, command);
    const CliArguments a = parseCliArguments(args);
    QVERIFY2(a.ok(), qPrintable(a.error));
    QCOMPARE(a.command, command);
}

void TestCliArguments::setId_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("id1");
    QTest::addColumn<int>("id2"); // 0: not given
    QTest::newRow("one id") << QStringList{"set-id", "12"} << 12 << 0;
    QTest::newRow("two ids") << QStringList{"set-id", "1", "99"} << 1 << 99;
    QTest::newRow("leading zero") << QStringList{"set-id", "05", "007"} << 5 << 7;
}

void TestCliArguments::setId()
{
    QFETCH(QStringList, args);
    QFETCH(int, id1);
    QFETCH(int, id2);
    const CliArguments a = parseCliArguments(args);
    QVERIFY2(a.ok(), qPrintable(a.error));
    QCOMPARE(a.command, CliCommand::SetId);
    QCOMPARE(a.id1, id1);
    QCOMPARE(a.id2.value_or(0), id2);
}

void TestCliArguments::setLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("index");
    QTest::newRow("first text") << "4800,n,8,1" << 0;
    QTest::newRow("default text") << "19200,e,8,1" << 5;
    QTest::newRow("last text") << "115200,e,8,1" << 11;
    QTest::newRow("upper-case parity") << "38400,E,8,1" << 7;
    QTest::newRow("index 0") << "0" << 0;
    QTest::newRow("index 10") << "10" << 10;
    QTest::newRow("index 11") << "11" << 11;
}

void TestCliArguments::setLine()
{
    QFETCH(QString, line);
    QFETCH(int, index);
    const CliArguments a = parseCliArguments({"set-line", line});
    QVERIFY2(a.ok(), qPrintable(a.error));
    QCOMPARE(a.command, CliCommand::SetLine);
    QCOMPARE(a.baudRateNo, index);
}

void TestCliArguments::setMode_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("rs485"); // -1: keep the module's
    QTest::newRow("two") << QStringList{"set-mode", "two"} << 0 << -1;
    QTest::newRow("one") << QStringList{"set-mode", "one"} << 1 << -1;
    QTest::newRow("two 24") << QStringList{"set-mode", "two", "--rs485", "24"} << 0 << 0;
    QTest::newRow("one 32") << QStringList{"set-mode", "--rs485=32", "one"} << 1 << 1;
    QTest::newRow("two 40") << QStringList{"--rs485", "40", "set-mode", "two"} << 0 << 2;
}

void TestCliArguments::setMode()
{
    QFETCH(QStringList, args);
    QFETCH(int, mode);
    QFETCH(int, rs485);
    const CliArguments a = parseCliArguments(args);
    QVERIFY2(a.ok(), qPrintable(a.error));
    QCOMPARE(a.command, CliCommand::SetMode);
    QCOMPARE(a.modeIndex, mode);
    QCOMPARE(a.rs485Index.value_or(-1), rs485);
}

void TestCliArguments::options()
{
    CliArguments a =
        parseCliArguments({"--json", "--trace", "--bell", "--lang", "big5", "--config=/tmp/q.conf",
                           "poll", "--count", "3", "--all-lines"});
    QVERIFY2(a.ok(), qPrintable(a.error));
    QVERIFY(a.json && a.trace && a.bell && a.allLines);
    QCOMPARE(a.languageIndex.value_or(-1), 2);
    QCOMPARE(a.configFile, QStringLiteral("/tmp/q.conf"));
    QCOMPARE(a.count.value_or(0), 3);

    a = parseCliArguments({"scan"});
    QVERIFY(!a.json && !a.trace && !a.bell && !a.allLines);
    QVERIFY(!a.languageIndex);
    QVERIFY(a.configFile.isEmpty());

    QCOMPARE(parseCliArguments({"--lang=en", "scan"}).languageIndex.value_or(-1), 0);
    QCOMPARE(parseCliArguments({"--lang", "gb", "scan"}).languageIndex.value_or(-1), 1);
}

void TestCliArguments::badArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("named"); // what the message must name
    QTest::newRow("nothing") << QStringList{} << "no command";
    QTest::newRow("unknown command") << QStringList{"scna"} << "'scna'";
    QTest::newRow("unknown option") << QStringList{"scan", "--jsno"} << "'--jsno'";
    QTest::newRow("unknown short option") << QStringList{"-x", "scan"} << "'-x'";
    QTest::newRow("ID1 0") << QStringList{"set-id", "0"} << "'0'";
    QTest::newRow("ID1 100") << QStringList{"set-id", "100"} << "'100'";
    QTest::newRow("ID1 ab") << QStringList{"set-id", "ab"} << "'ab'";
    QTest::newRow("ID1 negative") << QStringList{"set-id", "-5"} << "'-5'";
    QTest::newRow("ID1 signed") << QStringList{"set-id", "+5"} << "'+5'";
    QTest::newRow("ID1 blank") << QStringList{"set-id", " 5"} << "' 5'";
    QTest::newRow("ID2 0") << QStringList{"set-id", "5", "0"} << "ID2 '0'";
    QTest::newRow("ID2 100") << QStringList{"set-id", "5", "100"} << "ID2 '100'";
    QTest::newRow("ID2 ab") << QStringList{"set-id", "5", "ab"} << "ID2 'ab'";
    QTest::newRow("no ID") << QStringList{"set-id"} << "ID1";
    QTest::newRow("third ID") << QStringList{"set-id", "1", "2", "3"} << "'3'";
    QTest::newRow("unknown line") << QStringList{"set-line", "14400,n,8,1"} << "'14400,n,8,1'";
    QTest::newRow("odd parity") << QStringList{"set-line", "19200,o,8,1"} << "'19200,o,8,1'";
    QTest::newRow("line index 12") << QStringList{"set-line", "12"} << "'12'";
    QTest::newRow("line index -1") << QStringList{"set-line", "-1"} << "'-1'";
    QTest::newRow("no line") << QStringList{"set-line"} << "LINE";
    QTest::newRow("unknown mode") << QStringList{"set-mode", "three"} << "'three'";
    QTest::newRow("mode digit") << QStringList{"set-mode", "2"} << "'2'";
    QTest::newRow("no mode") << QStringList{"set-mode"} << "MODE";
    QTest::newRow("rs485 33") << QStringList{"set-mode", "two", "--rs485", "33"} << "'33'";
    QTest::newRow("rs485 missing") << QStringList{"set-mode", "two", "--rs485"} << "--rs485";
    QTest::newRow("rs485 on scan") << QStringList{"scan", "--rs485", "24"} << "--rs485";
    QTest::newRow("count 0") << QStringList{"poll", "--count", "0"} << "'0'";
    QTest::newRow("count x") << QStringList{"poll", "--count=x"} << "'x'";
    QTest::newRow("count on scan") << QStringList{"scan", "--count", "3"} << "--count";
    QTest::newRow("lang fr") << QStringList{"--lang", "fr", "scan"} << "'fr'";
    QTest::newRow("lang missing") << QStringList{"scan", "--lang"} << "--lang";
    QTest::newRow("config empty") << QStringList{"--config=", "scan"} << "--config";
    QTest::newRow("flag with value") << QStringList{"--json=yes", "scan"} << "--json";
    QTest::newRow("argument to scan") << QStringList{"scan", "now"} << "'now'";
    QTest::newRow("all-lines on ports") << QStringList{"ports", "--all-lines"} << "--all-lines";
}

void TestCliArguments::badArguments()
{
    QFETCH(QStringList, args);
    QFETCH(QString, named);
    const CliArguments a = parseCliArguments(args);
    QVERIFY(!a.ok());
    QCOMPARE(a.command, CliCommand::None);
    QVERIFY2(a.error.contains(named), qPrintable(a.error));
    QVERIFY(!a.error.contains(QLatin1Char('\n')));
}

void TestCliArguments::helpWinsOverErrors()
{
    QCOMPARE(parseCliArguments({"set-id", "100", "--help"}).command, CliCommand::Help);
    QVERIFY(cliUsage().contains(QStringLiteral("set-id ID1 [ID2]")));
}

QTEST_APPLESS_MAIN(TestCliArguments)
#include "tst_cliarguments.moc"
