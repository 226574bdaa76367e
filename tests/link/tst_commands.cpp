#include "link/commands.h"
#include "link/linedefinition.h"

#include <QTest>

using namespace qmr;

class TestCommands : public QObject
{
    Q_OBJECT

private slots:
    void fixedCommands()
    {
        QCOMPARE(Command::readFirstReader(), QByteArray("A00M"));
        QCOMPARE(Command::readSecondReader(), QByteArray("A00N"));
        QCOMPARE(Command::readVersion(), QByteArray("A00V"));
        QCOMPARE(Command::readMode(), QByteArray("A00A"));
    }

    void setLine_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QByteArray>("command");
        QTest::newRow("0") << 0 << QByteArray("A00E0");
        QTest::newRow("5") << 5 << QByteArray("A00E5");
        QTest::newRow("9") << 9 << QByteArray("A00E9");
        QTest::newRow("10") << 10 << QByteArray("A00EA");
        QTest::newRow("11") << 11 << QByteArray("A00EB");
        QTest::newRow("out of range is the default") << 12 << QByteArray("A00E5");
        QTest::newRow("negative is the default") << -1 << QByteArray("A00E5");
    }
    void setLine()
    {
        QFETCH(int, index);
        QFETCH(QByteArray, command);
        QCOMPARE(Command::setLine(index), command);
    }

    void setMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("rs485");
        QTest::addColumn<QByteArray>("command");
        QTest::newRow("two readers, 24") << 0 << 0 << QByteArray("A00A000");
        QTest::newRow("two readers, 32") << 0 << 1 << QByteArray("A00A001");
        QTest::newRow("two readers, 40") << 0 << 2 << QByteArray("A00A002");
        QTest::newRow("one reader, 24") << 1 << 0 << QByteArray("A00A100");
        QTest::newRow("one reader, 32") << 1 << 1 << QByteArray("A00A101");
        QTest::newRow("one reader, 40") << 1 << 2 << QByteArray("A00A102");
        QTest::newRow("any other mode is one reader") << 3 << 2 << QByteArray("A00A102");
    }
    void setMode()
    {
        QFETCH(int, mode);
        QFETCH(int, rs485);
        QFETCH(QByteArray, command);
        QCOMPARE(Command::setMode(mode, rs485), command);
    }

    void setIdAndPoll()
    {
        const QByteArray command = Command::setId("12345670", "12");
        QCOMPARE(command, QByteArray("A00C1234567012"));
        QCOMPARE(command.size(), 14);
        QCOMPARE(Command::poll("07"), QByteArray("A07F"));
        QCOMPARE(Command::poll("__"), QByteArray("A__F"));
    }

    void fields_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("moduleId");
        QTest::addColumn<QByteArray>("serial");
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QByteArray>("rs485");
        const QByteArray full("\n 07 12345679XX\r");
        QTest::newRow("sixteen bytes") << full << QByteArray("07") << QByteArray("12345679")
                                       << QByteArray("1") << QByteArray("3");
        QTest::newRow("cut in the serial") << full.left(9) << QByteArray("07") << QByteArray("1234")
                                           << QByteArray("1") << QByteArray("3");
        QTest::newRow("cut in the ID")
            << full.left(3) << QByteArray("0") << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("mode but no RS-485") << full.left(7) << QByteArray("07") << QByteArray("12")
                                            << QByteArray("1") << QByteArray();
        QTest::newRow("empty") << QByteArray() << QByteArray() << QByteArray() << QByteArray()
                               << QByteArray();
    }
    void fields()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, moduleId);
        QFETCH(QByteArray, serial);
        QFETCH(QByteArray, mode);
        QFETCH(QByteArray, rs485);
        QCOMPARE(Reply::moduleId(reply), moduleId);
        QCOMPARE(Reply::serialNumber(reply), serial);
        QCOMPARE(Reply::version(reply), serial);
        QCOMPARE(Reply::modeChar(reply), mode);
        QCOMPARE(Reply::rs485Char(reply), rs485);
    }

    void field()
    {
        const QByteArray reply("\nabcdef\r");
        QCOMPARE(Reply::field(reply, 1, 3), QByteArray("abc"));
        QCOMPARE(Reply::field(reply, 6, 5), QByteArray("f\r"));
        QCOMPARE(Reply::field(reply, 8, 1), QByteArray());
        QCOMPARE(Reply::field(reply, 40, 2), QByteArray());
        QCOMPARE(Reply::field(reply, -1, 2), QByteArray());
    }

    void unitDigit()
    {
        QCOMPARE(Reply::unitDigit("\n 07 12345670XX\r"), 0);
        QCOMPARE(Reply::unitDigit("\n 07 12345679XX\r"), 9);
        QVERIFY_THROWS_EXCEPTION(ConversionError, Reply::unitDigit("\n 07 1234567AXX\r"));
        QVERIFY_THROWS_EXCEPTION(ConversionError, Reply::unitDigit("\n 07 12"));
    }

    void pollData_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("eight bytes: nothing") << QByteArray("\n12345XX") << QByteArray();
        QTest::newRow("nine bytes: empty") << QByteArray("\n12345XX\r") << QByteArray();
        QTest::newRow("ten bytes: one character") << QByteArray("\n12345dXX\r") << QByteArray("d");
        QTest::newRow("longer") << QByteArray("\n12345CARD0042XX\r") << QByteArray("CARD0042");
    }
    void pollData()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, data);
        QCOMPARE(Reply::pollData(reply, int(reply.size())), data);
    }

    void pollDataCutShort()
    {
        // A zero byte in the reply ends its text before ReplyLength does.
        QCOMPARE(Reply::pollData("\n12345ab", 14), QByteArray("ab"));
    }

    void fieldToInt_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("value");
        QTest::newRow("two digits") << QByteArray("07") << true << 7;
        QTest::newRow("99") << QByteArray("99") << true << 99;
        QTest::newRow("blanks") << QByteArray(" 5 ") << true << 5;
        QTest::newRow("plus") << QByteArray("+3") << true << 3;
        QTest::newRow("minus") << QByteArray("-3") << true << -3;
        QTest::newRow("largest") << QByteArray("2147483647") << true << 2147483647;
        QTest::newRow("smallest") << QByteArray("-2147483648") << true << int(-2147483647 - 1);
        QTest::newRow("placeholder") << QByteArray("__") << false << 0;
        QTest::newRow("empty") << QByteArray() << false << 0;
        QTest::newRow("blank") << QByteArray("  ") << false << 0;
        QTest::newRow("sign only") << QByteArray("-") << false << 0;
        QTest::newRow("trailing letter") << QByteArray("1a") << false << 0;
        QTest::newRow("hex") << QByteArray("0x1") << false << 0;
        QTest::newRow("dollar hex") << QByteArray("$1") << false << 0;
        QTest::newRow("inner blank") << QByteArray("1 2") << false << 0;
        QTest::newRow("too large") << QByteArray("2147483648") << false << 0;
        QTest::newRow("two signs") << QByteArray("+-1") << false << 0;
    }
    void fieldToInt()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, valid);
        QFETCH(int, value);
        if (valid) {
            QCOMPARE(qmr::fieldToInt(text), value);
            return;
        }
        try {
            qmr::fieldToInt(text);
            QFAIL("no exception");
        } catch (const ConversionError &e) {
            QCOMPARE(
                e.message(),
                QStringLiteral("'%1' is not a valid integer value").arg(QString::fromLatin1(text)));
        }
    }

    void lineDefinitions_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("baud");
        QTest::addColumn<char>("parity");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<int>("stopBits");
        QTest::newRow("default") << "19200,e,8,1" << true << 19200 << 'e' << 8 << 1;
        QTest::newRow("lowest") << "4800,n,8,1" << true << 4800 << 'n' << 8 << 1;
        QTest::newRow("highest") << "115200,e,8,1" << true << 115200 << 'e' << 8 << 1;
        QTest::newRow("odd, 7, 2") << "9600,o,7,2" << true << 9600 << 'o' << 7 << 2;
        QTest::newRow("upper case, blanks") << " 9600, E ,8, 1" << true << 9600 << 'e' << 8 << 1;
        QTest::newRow("three items") << "9600,n,8" << false << 0 << 'n' << 0 << 0;
        QTest::newRow("bad parity") << "9600,x,8,1" << false << 0 << 'n' << 0 << 0;
        QTest::newRow("bad baud") << "fast,n,8,1" << false << 0 << 'n' << 0 << 0;
        QTest::newRow("zero baud") << "0,n,8,1" << false << 0 << 'n' << 0 << 0;
        QTest::newRow("nine data bits") << "9600,n,9,1" << false << 0 << 'n' << 0 << 0;
        QTest::newRow("three stop bits") << "9600,n,8,3" << false << 0 << 'n' << 0 << 0;
        QTest::newRow("empty") << "" << false << 0 << 'n' << 0 << 0;
    }
    void lineDefinitions()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const auto line = parseLineDefinition(text);
        QCOMPARE(line.has_value(), valid);
        if (!valid)
            return;
        QFETCH(int, baud);
        QFETCH(char, parity);
        QFETCH(int, dataBits);
        QFETCH(int, stopBits);
        QCOMPARE(*line, (LineSettings{baud, parity, dataBits, stopBits}));
    }

    void everyTableEntryParses()
    {
        for (int i = 0; i < int(BaudRateTable.size()); ++i) {
            const QString text = QLatin1String(BaudRateTable[i]);
            QVERIFY2(parseLineDefinition(text).has_value(), BaudRateTable[i]);
            QCOMPARE(baudRateIndexOf(text), i);
        }
        QCOMPARE(baudRateIndexOf(QStringLiteral("19200,E,8,1")), -1);
        QCOMPARE(baudRateIndexOf(QString()), -1);
    }
};

QTEST_GUILESS_MAIN(TestCommands)
#include "tst_commands.moc"
