#include "sim/modulemodel.h"

#include <QtTest>

using namespace qmr;

Q_DECLARE_METATYPE(qmr::LineSettings)

namespace {

const LineSettings Line19200e{19200, 'e', 8, 1};

// A command frame as the tool sends it.
QByteArray cmd(const QByteArray &text)
{
    quint8 check = 0x09;
    for (char c : text)
        check ^= quint8(c);
    return "\x09" + text + QByteArray::number(check, 16).rightJustified(2, '0').toUpper() + "\r";
}

// True when a reply is framed and its upper-case check digits are right.
bool replyCheckOk(const QByteArray &reply)
{
    if (reply.size() < 4 || reply[0] != 0x0A || !reply.endsWith('\r'))
        return false;
    quint8 check = 0;
    for (qsizetype i = 0; i < reply.size() - 3; ++i)
        check ^= quint8(reply[i]);
    return reply.mid(reply.size() - 3, 2) ==
           QByteArray::number(check, 16).rightJustified(2, '0').toUpper();
}

QByteArray hex(const char *spaced)
{
    return QByteArray::fromHex(QByteArray(spaced).replace(' ', ""));
}

// Sends one command at 19200,e,8,1; the single reply's bytes, or empty when none came.
QByteArray ask(ModuleModel &m, const QByteArray &text, const LineSettings &line = Line19200e)
{
    const QList<ModuleReply> replies = m.hear(cmd(text), line);
    return replies.isEmpty() ? QByteArray() : replies.first().bytes;
}

} // namespace

class TestModuleModel : public QObject
{
    Q_OBJECT

private slots:
    void commandFrame()
    {
        // The tool's own worked example, so the helper is known to be right.
        QCOMPARE(cmd("A00M"), hex("09 41 30 30 4D 30 35 0D"));
    }

    void replies_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("A00M") << QByteArray("A00M")
                              << hex("0A 4D 30 31 3A 32 30 32 35 30 30 31 30 37 38 0D");
        QTest::newRow("A00N") << QByteArray("A00N")
                              << hex("0A 4E 30 35 3A 32 30 32 35 30 30 32 31 37 44 0D");
        QTest::newRow("A00V") << QByteArray("A00V")
                              << hex("0A 56 30 30 3A 30 33 2E 32 30 2D 30 31 36 35 0D");
        QTest::newRow("A00A") << QByteArray("A00A")
                              << hex("0A 41 30 30 3A 30 30 31 30 30 30 30 30 37 30 0D");
        QTest::newRow("poll 1") << QByteArray("A01F")
                                << hex("0A 46 30 31 3A 20 30 30 30 30 30 31 32 33 34 35 35 36 0D");
        QTest::newRow("poll 2") << QByteArray("A05F")
                                << hex("0A 46 30 35 3A 20 30 30 30 30 30 36 37 38 39 30 35 33 0D");
        QTest::newRow("set mode") << QByteArray("A00A001") << hex("0A 41 4F 4B 34 46 0D");
        QTest::newRow("set ID") << QByteArray("A00C2025001007") << hex("0A 43 4F 4B 34 44 0D");
        QTest::newRow("set line") << QByteArray("A00E5") << hex("0A 45 4F 4B 34 42 0D");
    }
    void replies()
    {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        ModuleModel m;
        const QList<ModuleReply> replies = m.hear(cmd(command), Line19200e);
        QCOMPARE(replies.size(), 1);
        QCOMPARE(replies.first().bytes, reply);
        QCOMPARE(replies.first().delayMs, 0);
        QVERIFY(!replies.first().endless);
        QCOMPARE(m.commands(), QList<QByteArray>{command});
    }

    void fieldsAtTheirOffsets()
    {
        ModuleConfig c;
        c.reader1 = {"42", "ABCDEFG9", "x"};
        c.reader2 = {"77", "HIJKLMN3", "y"};
        c.version = "12.34-56";
        c.mode = '1';
        c.rs485 = '2';
        ModuleModel m(c);
        const QByteArray r1 = ask(m, "A00M");
        QCOMPARE(r1.size(), 16);
        QCOMPARE(r1.mid(2, 2), QByteArray("42"));
        QCOMPARE(r1.mid(5, 8), QByteArray("ABCDEFG9"));
        const QByteArray r2 = ask(m, "A00N");
        QCOMPARE(r2.size(), 16);
        QCOMPARE(r2.mid(2, 2), QByteArray("77"));
        QCOMPARE(r2.mid(5, 8), QByteArray("HIJKLMN3"));
        QCOMPARE(ask(m, "A00V").mid(5, 8), QByteArray("12.34-56"));
        const QByteArray a = ask(m, "A00A");
        QCOMPARE(a.size(), 16);
        QCOMPARE(a.mid(5, 3), QByteArray("102"));
        const QByteArray poll = ask(m, "A42F");
        QCOMPARE(poll.mid(6, poll.size() - 9), QByteArray("x"));
        for (const QByteArray &r : {r1, r2, a, poll})
            QVERIFY(replyCheckOk(r));
    }

    void silentCommands_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::newRow("other address M") << QByteArray("A01M");
        QTest::newRow("other address E") << QByteArray("A05E3");
        QTest::newRow("unknown letter") << QByteArray("A00X");
        QTest::newRow("M with parameter") << QByteArray("A00M1");
        QTest::newRow("not an A") << QByteArray("B00M");
        QTest::newRow("too short") << QByteArray("A00");
        QTest::newRow("poll of no reader") << QByteArray("A07F");
        QTest::newRow("poll with placeholder ID") << QByteArray("A__F");
        QTest::newRow("mode with two characters") << QByteArray("A00A10");
        QTest::newRow("mode 2") << QByteArray("A00A200");
        QTest::newRow("RS-485 3") << QByteArray("A00A003");
        QTest::newRow("line C") << QByteArray("A00EC");
        QTest::newRow("line lower-case a") << QByteArray("A00Ea");
        QTest::newRow("line two digits") << QByteArray("A00E10");
        QTest::newRow("ID of an unknown serial") << QByteArray("A00C9999999912");
        QTest::newRow("ID placeholder") << QByteArray("A00C20250021__");
        QTest::newRow("ID 00") << QByteArray("A00C2025001000");
        QTest::newRow("ID short") << QByteArray("A00C202500101");
    }
    void silentCommands()
    {
        QFETCH(QByteArray, command);
        ModuleModel m;
        const ModuleConfig before = m.config();
        QVERIFY(m.hear(cmd(command), Line19200e).isEmpty());
        // Heard (the frame was good) but not carried out.
        QCOMPARE(m.commands(), QList<QByteArray>{command});
        QCOMPARE(m.config().reader1.id, before.reader1.id);
        QCOMPARE(m.config().reader2.id, before.reader2.id);
        QCOMPARE(m.config().mode, before.mode);
        QCOMPARE(m.config().rs485, before.rs485);
        QCOMPARE(m.config().lineIndex, before.lineIndex);
    }

    void framing()
    {
        ModuleModel m;
        // Bad check value: ignored and not recorded.
        QVERIFY(m.hear(hex("09 41 30 30 4D 30 36 0D"), Line19200e).isEmpty());
        // Lower-case check digits are not check digits (A00V checks 0x1E).
        QVERIFY(m.hear(QByteArray("\x09"
                                  "A00V1e\r"),
                       Line19200e)
                    .isEmpty());
        QVERIFY(m.commands().isEmpty());
        // Noise before the start byte is skipped.
        QCOMPARE(m.hear("\x55\x0D\x41" + cmd("A00M"), Line19200e).size(), 1);
        // A frame that arrives in pieces.
        const QByteArray frame = cmd("A00N");
        QVERIFY(m.hear(frame.left(3), Line19200e).isEmpty());
        QVERIFY(m.hear(frame.mid(3, 2), Line19200e).isEmpty());
        QCOMPARE(m.hear(frame.mid(5), Line19200e).size(), 1);
        // A start byte in the middle of a frame begins a new one.
        QCOMPARE(m.hear("\x09"
                        "A0" +
                            cmd("A00V"),
                        Line19200e)
                     .size(),
                 1);
        // Two frames in one run give two replies, in order.
        const QList<ModuleReply> two = m.hear(cmd("A00M") + cmd("A00N"), Line19200e);
        QCOMPARE(two.size(), 2);
        QCOMPARE(two[0].bytes[1], 'M');
        QCOMPARE(two[1].bytes[1], 'N');
        QCOMPARE(m.commands(), (QList<QByteArray>{"A00M", "A00N", "A00V", "A00M", "A00N"}));
        // A bare end byte, and a frame too short to hold check digits.
        QVERIFY(m.hear("\x09\r\x09"
                       "0\r",
                       Line19200e)
                    .isEmpty());
    }

    void setId()
    {
        ModuleModel m;
        QVERIFY(!ask(m, "A00C2025001012").isEmpty());
        QCOMPARE(m.config().reader1.id, QByteArray("12"));
        QCOMPARE(ask(m, "A00M").mid(2, 2), QByteArray("12"));
        QVERIFY(ask(m, "A00C2025002033").isEmpty()); // serial of nobody
        QVERIFY(!ask(m, "A00C2025002134").isEmpty());
        QCOMPARE(m.config().reader2.id, QByteArray("34"));
        QCOMPARE(ask(m, "A00N").mid(2, 2), QByteArray("34"));
        // The poll follows the new IDs; the old ones are gone.
        QVERIFY(ask(m, "A01F").isEmpty());
        QVERIFY(!ask(m, "A12F").isEmpty());
        QVERIFY(!ask(m, "A34F").isEmpty());
    }

    void setModeAndOneReaderPoll()
    {
        ModuleModel m;
        QVERIFY(!ask(m, "A00A102").isEmpty());
        QCOMPARE(m.config().mode, '1');
        QCOMPARE(m.config().rs485, '2');
        QCOMPARE(ask(m, "A00A").mid(5, 3), QByteArray("102"));
        // One reader: only the first answers its poll.
        QVERIFY(!ask(m, "A01F").isEmpty());
        QVERIFY(ask(m, "A05F").isEmpty());
        // Still, both identities can be read.
        QCOMPARE(ask(m, "A00N").size(), 16);
        QVERIFY(!ask(m, "A00A000").isEmpty());
        QCOMPARE(ask(m, "A05F").mid(6, 10), QByteArray("0000067890"));
    }

    void setLine()
    {
        ModuleModel m;
        QCOMPARE(m.line(), Line19200e);
        // The acknowledgement comes at the old setting...
        QCOMPARE(ask(m, "A00EA"), hex("0A 45 4F 4B 34 42 0D"));
        QCOMPARE(m.config().lineIndex, 10);
        const LineSettings fast{115200, 'n', 8, 1};
        QCOMPARE(m.line(), fast);
        // ...and from then on only the new one is heard.
        QVERIFY(ask(m, "A00M").isEmpty());
        QCOMPARE(ask(m, "A00M", fast).size(), 16);
        QCOMPARE(m.commands().size(), 2);

        // In one run of bytes, what follows the change is noise at the old rate.
        ModuleModel n;
        QCOMPARE(n.hear(cmd("A00E0") + cmd("A00M"), Line19200e).size(), 1);
        QCOMPARE(n.commands(), QList<QByteArray>{"A00E0"});
        QCOMPARE(ask(n, "A00M", LineSettings{4800, 'n', 8, 1}).size(), 16);
    }

    void lineMismatch_data()
    {
        QTest::addColumn<LineSettings>("line");
        QTest::addColumn<bool>("parityKnown");
        QTest::addColumn<bool>("answered");
        QTest::newRow("same") << Line19200e << true << true;
        QTest::newRow("other baud") << LineSettings{9600, 'e', 8, 1} << true << false;
        QTest::newRow("other baud, parity unknown")
            << LineSettings{38400, 'e', 8, 1} << false << false;
        QTest::newRow("no parity") << LineSettings{19200, 'n', 8, 1} << true << false;
        QTest::newRow("no parity, parity unknown")
            << LineSettings{19200, 'n', 8, 1} << false << true;
    }
    void lineMismatch()
    {
        QFETCH(LineSettings, line);
        QFETCH(bool, parityKnown);
        QFETCH(bool, answered);
        ModuleModel m;
        QCOMPARE(m.hear(cmd("A00M"), line, parityKnown).size(), answered ? 1 : 0);
        QCOMPARE(m.commands().size(), answered ? 1 : 0);
    }

    void noiseDropsThePartialFrame()
    {
        ModuleModel m;
        const QByteArray frame = cmd("A00M");
        QVERIFY(m.hear(frame.left(4), Line19200e).isEmpty());
        QVERIFY(m.hear("xx", LineSettings{4800, 'n', 8, 1}).isEmpty());
        QVERIFY(m.hear(frame.mid(4), Line19200e).isEmpty());
        QVERIFY(m.commands().isEmpty());
        QCOMPARE(m.hear(frame, Line19200e).size(), 1);
    }

    void faultChecks()
    {
        ModuleModel m;
        m.faults().wrongCheck = true;
        // A00M checks 0x78: off by one gives 0x79.
        QCOMPARE(ask(m, "A00M"), hex("0A 4D 30 31 3A 32 30 32 35 30 30 31 30 37 39 0D"));

        ModuleModel lower;
        lower.faults().lowerCaseCheck = true;
        // "AOK" checks 0x4F: the same reply with "4f".
        QCOMPARE(ask(lower, "A00A001"), hex("0A 41 4F 4B 34 66 0D"));
        // A00M checks 0x78, which has no letter: the unread first character is changed so
        // that the digits do, and they come in lower case.
        const QByteArray r = ask(lower, "A00M");
        QCOMPARE(r.size(), 16);
        QCOMPARE(r.mid(2, 11), QByteArray("01:20250010"));
        const QByteArray digits = r.mid(13, 2);
        QVERIFY(digits != digits.toUpper());
        QVERIFY(!replyCheckOk(r));
        QVERIFY(replyCheckOk(r.left(13) + digits.toUpper() + "\r"));
    }

    void faultLength_data()
    {
        QTest::addColumn<int>("delta");
        QTest::addColumn<int>("length");
        QTest::newRow("+1") << 1 << 17;
        QTest::newRow("-1") << -1 << 15;
        QTest::newRow("-12 (no text)") << -12 << 4;
        QTest::newRow("-20 (no more than all)") << -20 << 4;
    }
    void faultLength()
    {
        QFETCH(int, delta);
        QFETCH(int, length);
        ModuleModel m;
        m.faults().lengthDelta = delta;
        const QByteArray r = ask(m, "A00M");
        QCOMPARE(r.size(), length);
        QVERIFY(replyCheckOk(r)); // the check stays right: only the length is off
        if (delta > 0)
            QCOMPARE(r.left(13), hex("0A 4D 30 31 3A 32 30 32 35 30 30 31 30"));
    }

    void faultStreams()
    {
        ModuleModel garbage;
        garbage.faults().leadingGarbage = true;
        QCOMPARE(ask(garbage, "A00E5"), hex("55 0A 45 4F 4B 34 42 0D"));

        ModuleModel delayed;
        delayed.faults().delayMs = 250;
        QCOMPARE(delayed.hear(cmd("A00M"), Line19200e).value(0).delayMs, 250);

        ModuleModel flood;
        flood.faults().floodBytes = 2000;
        const QByteArray f = ask(flood, "A00M");
        QCOMPARE(f.size(), 2000);
        QCOMPARE(f[0], '\x0A');
        QVERIFY(!f.contains('\r'));

        ModuleModel endless;
        endless.faults().endless = true;
        const QList<ModuleReply> e = endless.hear(cmd("A00M"), Line19200e);
        QCOMPARE(e.size(), 1);
        QVERIFY(e[0].endless);
        QCOMPARE(e[0].bytes[0], '\x0A');
        QVERIFY(!e[0].bytes.isEmpty() && !e[0].bytes.contains('\r'));
    }

    void faultSilenceAndDrops()
    {
        ModuleModel silent;
        silent.faults().silent = true;
        QVERIFY(ask(silent, "A00M").isEmpty());
        // Silent, yet it carries the command out (as a module whose replies are lost).
        QVERIFY(ask(silent, "A00C2025001042").isEmpty());
        QCOMPARE(silent.config().reader1.id, QByteArray("42"));

        ModuleModel drop;
        drop.faults().dropEvery = 3;
        QList<bool> answered;
        for (int i = 0; i < 7; ++i)
            answered << !ask(drop, "A00M").isEmpty();
        QCOMPARE(answered, (QList<bool>{true, true, false, true, true, false, true}));
        // Commands that get no reply anyway do not count.
        ModuleModel drop2;
        drop2.faults().dropEvery = 2;
        QVERIFY(!ask(drop2, "A00M").isEmpty());
        QVERIFY(ask(drop2, "A09F").isEmpty());
        QVERIFY(ask(drop2, "A00M").isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestModuleModel)
#include "tst_modulemodel.moc"
