#include "link/link.h"
#include "scriptedport.h"

#include <QTest>
#include <memory>

using namespace qmr;
using qmr::test::ScriptedPort;

namespace {

const QString Device = QStringLiteral("/dev/ttyTEST");

// One link over a scripted port and a fake clock, opened at "19200,e,8,1".
struct Bench
{
    explicit Bench(quint32 start = 1000) : clock(start), port(clock), link(port, clock, ports)
    {
        port.addDevice(Device);
        link.setMessagePump([this] { ++pumps; });
        link.setFrameObserver([this](bool outgoing, const QByteArray &bytes) {
            (outgoing ? sent : received).append(bytes);
        });
    }
    bool open() { return link.ComOpen(1, "19200,e,8,1"); }
    // Sends a command and remembers when the reply window opened (after the frame).
    bool send(const QByteArray &command = "A00M")
    {
        port.writes.clear();
        clock.clearSleeps();
        pumps = 0;
        port.emptyReads = 0;
        clock.setOnAdvance({});
        const bool ok = link.SendCommand(command);
        windowStart = port.writes.isEmpty() ? 0 : port.writes.last().atMs + 1;
        return ok;
    }
    quint32 sinceWindowStart() { return clock.milliseconds() - windowStart; }

    FakeClock clock;
    ScriptedPort port;
    FixedPortMap ports{{{1, Device}, {16, Device}}};
    Link link;
    int pumps = 0;
    quint32 windowStart = 0;
    QList<QByteArray> sent;
    QList<QByteArray> received;
};

const QByteArray GoodReply = QByteArray::fromHex("0A 31 32 30 39 0D"); // text "12"
const QByteArray ShortestReply = QByteArray::fromHex("0A 30 41 0D");

} // namespace

class TestSendCommand : public QObject
{
    Q_OBJECT

private slots:
    void workedExample()
    {
        Bench b;
        QVERIFY(b.open());
        b.port.answer(GoodReply);
        QVERIFY(b.send("A00M"));
        QCOMPARE(b.link.ReplyLength, 6);
        QCOMPARE(b.link.ReplyText, GoodReply);
        QCOMPARE(b.sent, QList<QByteArray>{QByteArray::fromHex("09 41 30 30 4D 30 35 0D")});
        QCOMPARE(b.received, QList<QByteArray>{GoodReply});
    }

    void writePacing()
    {
        Bench b;
        QVERIFY(b.open());
        b.send("A00M");
        // One write per call: start byte, the text, two check digits, end byte.
        QList<QByteArray> writes;
        for (const auto &w : std::as_const(b.port.writes))
            writes.append(w.bytes);
        QCOMPARE(writes, (QList<QByteArray>{"\x09", "A00M", "0", "5", "\r"}));
        QCOMPARE(b.clock.sleeps().mid(0, 5), (QList<int>{1, 5, 1, 1, 1}));
        // The reply reader starts only after the last pause: the frame took 9 ms.
        const auto &w = b.port.writes;
        QCOMPARE(w[1].atMs - w[0].atMs, 1u);
        QCOMPARE(w[2].atMs - w[1].atMs, 5u);
        QCOMPARE(w[4].atMs - w[0].atMs, 8u);
    }

    void writeCallsPause()
    {
        Bench b;
        QVERIFY(b.open());
        b.link.ComWriteByte(0x41);
        b.link.ComWriteText("ABCDEFG", 7);
        QCOMPARE(b.port.writes.size(), 2);
        QCOMPARE(b.port.writes[0].bytes, QByteArray("A"));
        QCOMPARE(b.port.writes[1].bytes, QByteArray("ABCDEFG"));
        QCOMPARE(b.clock.sleeps(), (QList<int>{1, 5}));
    }

    void replies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("complete"); // a reply end was seen: ReplyText replaced
        QTest::addColumn<int>("length");

        QTest::newRow("shortest") << ShortestReply << true << true << 4;
        QTest::newRow("two bytes") << QByteArray("\n\r") << false << true << 2;
        QTest::newRow("three bytes") << QByteArray("\n0\r") << false << true << 3;
        QTest::newRow("lower-case check")
            << QByteArray::fromHex("0A 30 61 0D") << false << true << 4;
        QTest::newRow("leading noise")
            << QByteArray("\x00", 1) + ShortestReply << false << false << 5;
        QTest::newRow("leftover byte") << "5" + GoodReply << false << false << 7;
        QTest::newRow("sixteen bytes") << QByteArray("\n 01 123456700B\r") << true << true << 16;
        QTest::newRow("no end byte") << QByteArray("\n1209") << false << false << 5;
    }
    void replies()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, ok);
        QFETCH(bool, complete);
        QFETCH(int, length);

        Bench b;
        QVERIFY(b.open());
        b.link.ReplyText = "previous";
        b.port.answer(reply);
        QCOMPARE(b.send(), ok);
        QCOMPARE(b.link.ReplyLength, length);
        QCOMPARE(QByteArray(b.link.ReplyBuffer.data(), length), reply.left(length));
        if (complete) {
            QCOMPARE(b.link.ReplyText, reply);
            QCOMPARE(b.port.emptyReads, 0);
        } else {
            QCOMPARE(b.link.ReplyText, QByteArray("previous"));
            QCOMPARE(b.sinceWindowStart(), 121u); // ran out the whole window
        }
    }

    void firstEndByteEndsReply()
    {
        Bench b;
        QVERIFY(b.open());
        b.port.answer(ShortestReply + GoodReply);
        QVERIFY(b.send());
        QCOMPARE(b.link.ReplyText, ShortestReply);
        QCOMPARE(b.port.unread(), GoodReply.size());
    }

    void bufferZeroedBetweenCalls()
    {
        Bench b;
        QVERIFY(b.open());
        b.port.answer(QByteArray("\n 01 123456700B\r"));
        QVERIFY(b.send());
        b.port.answer(ShortestReply);
        QVERIFY(b.send());
        QCOMPARE(b.link.ReplyText, ShortestReply);
        QCOMPARE(b.link.ReplyBuffer[4], '\0');
        QCOMPARE(b.link.ReplyBuffer[10], '\0');
    }

    void flowingReplyAcceptedPastWindow()
    {
        // The reply starts 110 ms into the window and its bytes take 1 ms each: its end byte
        // comes at 126 ms, but no read came back empty in between.
        Bench b;
        QVERIFY(b.open());
        b.port.setByteTime(1);
        const quint32 start = b.clock.milliseconds() + 9;
        b.port.script(QByteArray("\n 01 123456700B\r"), start + 110);
        QVERIFY(b.send());
        QCOMPARE(b.link.ReplyLength, 16);
        QVERIFY(b.sinceWindowStart() > 120);
    }

    void replyAfterPauseTooLate()
    {
        // The same reply with a pause before its end byte is cut off by the window.
        Bench b;
        QVERIFY(b.open());
        const quint32 start = b.clock.milliseconds() + 9;
        b.port.script(QByteArray("\n 01 123456700B"), start + 110);
        b.port.script(QByteArray("\r"), start + 125);
        QVERIFY(!b.send());
        QCOMPARE(b.link.ReplyLength, 15);
        QCOMPARE(b.port.unread(), 1);
    }

    void replyTextAfterFailures()
    {
        Bench b;
        QVERIFY(b.open());
        b.port.answer(GoodReply);
        QVERIFY(b.send());

        // Silence keeps the last complete reply.
        QVERIFY(!b.send());
        QCOMPARE(b.link.ReplyText, GoodReply);
        QCOMPARE(b.link.ReplyLength, 0);

        // A complete reply with a wrong check replaces it.
        const QByteArray bad = QByteArray::fromHex("0A 31 32 30 38 0D");
        b.port.answer(bad);
        QVERIFY(!b.send());
        QCOMPARE(b.link.ReplyText, bad);
    }

    void silenceWindow_data()
    {
        QTest::addColumn<quint32>("clockStart");
        QTest::newRow("ordinary") << quint32(1000);
        QTest::newRow("wrap inside the window") << quint32(0xFFFFFFFFu - 50);
        QTest::newRow("wrap while sending") << quint32(0xFFFFFFFFu - 4);
        QTest::newRow("wrap at the last read") << quint32(0xFFFFFFFFu - 9 - 120);
    }
    void silenceWindow()
    {
        QFETCH(quint32, clockStart);
        Bench b(clockStart);
        QVERIFY(b.open());
        QVERIFY(!b.send());
        // Each empty read lets 1 ms pass and then the messages run: the window is over once
        // more than 120 ms have passed, at the 121st empty read.
        QCOMPARE(b.port.emptyReads, 121);
        QCOMPARE(b.pumps, 121);
        QCOMPARE(b.sinceWindowStart(), 121u);
        QCOMPARE(b.link.ReplyLength, 0);
    }

    void pumpRunsBeforeClockIsRead()
    {
        // A message handler that takes time (a repaint, say) counts towards the window.
        Bench b;
        QVERIFY(b.open());
        b.link.setMessagePump([&] {
            ++b.pumps;
            b.clock.advance(59);
        });
        QVERIFY(!b.send());
        QCOMPARE(b.pumps, 3); // 60, 120, 180 ms
    }

    void failedReadCountsAsEmpty()
    {
        Bench b;
        QVERIFY(b.open());
        b.port.failReads(true);
        QVERIFY(!b.send());
        QCOMPARE(b.pumps, 121);
    }

    void noiseBeforeReplyNeverRecognised()
    {
        Bench b;
        QVERIFY(b.open());
        const QByteArray noise("x\r\n\r");
        b.port.answer(noise + ShortestReply);
        QVERIFY(!b.send());
        QCOMPARE(b.link.ReplyLength, noise.size() + ShortestReply.size());
        QCOMPARE(b.port.unread(), 0);
    }

    void bufferWrapsAt1024()
    {
        // After 1024 bytes of noise the writing starts again at offset 0, where a reply's
        // 0x0A now makes it recognisable.
        Bench b;
        QVERIFY(b.open());
        b.link.ReplyText = "previous";
        b.port.answer(QByteArray(1024, 'x') + ShortestReply);
        QVERIFY(b.send());
        QCOMPARE(b.link.ReplyLength, 4);
        QCOMPARE(b.link.ReplyText, ShortestReply);
        QCOMPARE(b.link.ReplyBuffer[5], 'x'); // the rest of the first pass stays
    }

    void wrappedNoiseStaysUnrecognised()
    {
        Bench b;
        QVERIFY(b.open());
        b.port.answer(QByteArray(1000, 'x') + ShortestReply + QByteArray(30, 'y'));
        QVERIFY(!b.send());
        QCOMPARE(b.link.ReplyLength, 1034 - 1024);
        QCOMPARE(b.link.ReplyBuffer[0], 'y');
    }

    void endlessStreamIsCutOff_data()
    {
        QTest::addColumn<QByteArray>("pattern");
        QTest::newRow("noise") << QByteArray("x");
        QTest::newRow("end bytes after noise") << QByteArray("x\r");
        QTest::newRow("reply start without end") << QByteArray("\n1");
    }
    void endlessStreamIsCutOff()
    {
        QFETCH(QByteArray, pattern);
        Bench b;
        QVERIFY(b.open());
        b.link.ReplyText = "previous";
        b.port.stream(pattern);
        b.port.setByteTime(1);
        QVERIFY(!b.send());
        QCOMPARE(b.sinceWindowStart(), Link::ReplyStreamLimitMs + 1);
        QCOMPARE(b.link.ReplyText, QByteArray("previous"));
        QCOMPARE(b.pumps, 0);
    }

    void comOpenAppliesSettings()
    {
        Bench b;
        const CommTimeouts before = b.port.deviceTimeouts;
        QVERIFY(b.link.ComOpen(16, "19200,e,8,1"));
        QVERIFY(b.link.isOpen());
        QCOMPARE(b.port.opened, QList<QString>{Device});
        QCOMPARE(b.port.timeouts(), Link::WorkingTimeouts);
        QCOMPARE(b.port.linesSet, (QList<LineSettings>{{19200, 'e', 8, 1}}));
        QCOMPARE(b.link.lastOpenError(), PortError::NoError);
        QCOMPARE(b.link.lastDevice(), Device);

        b.link.ComClose();
        QVERIFY(!b.link.isOpen());
        QCOMPARE(b.port.closes, 1);
        QCOMPARE(b.port.deviceTimeouts, before);
        QCOMPARE(b.port.timeoutsSet.last(), before);
    }

    void comOpenTimeoutsAsFound()
    {
        // Whatever the device had is what it gets back, not a fixed value.
        Bench b;
        b.port.deviceTimeouts = {1, 2, 3, 4, 5};
        QVERIFY(b.open());
        b.link.ComClose();
        QCOMPARE(b.port.deviceTimeouts, (CommTimeouts{1, 2, 3, 4, 5}));
    }

    void comOpenFails_data()
    {
        QTest::addColumn<int>("comNumber");
        QTest::addColumn<int>("refusal");
        QTest::addColumn<int>("error");
        QTest::newRow("busy") << 1 << int(PortError::Busy) << int(PortError::Busy);
        QTest::newRow("permission")
            << 1 << int(PortError::PermissionDenied) << int(PortError::PermissionDenied);
        QTest::newRow("no device for the number")
            << 2 << int(PortError::NoError) << int(PortError::NotFound);
        QTest::newRow("no such number") << 0 << int(PortError::NoError) << int(PortError::NotFound);
    }
    void comOpenFails()
    {
        QFETCH(int, comNumber);
        QFETCH(int, refusal);
        QFETCH(int, error);
        Bench b;
        if (refusal != int(PortError::NoError))
            b.port.refuseOpen(Device, PortError(refusal));
        QVERIFY(!b.link.ComOpen(comNumber, "19200,e,8,1"));
        QVERIFY(!b.link.isOpen());
        QCOMPARE(int(b.link.lastOpenError()), error);
        QVERIFY(!b.link.lastOpenErrorString().isEmpty());
        QVERIFY(b.port.timeoutsSet.isEmpty());
        QVERIFY(b.port.linesSet.isEmpty());
        // Nothing to give back: a close after a failed open touches nothing.
        b.link.ComClose();
        QCOMPARE(b.port.closes, 0);
    }

    void comOpenSettingsNotTaken_data()
    {
        QTest::addColumn<QByteArray>("definition");
        QTest::addColumn<bool>("refuse");
        QTest::addColumn<int>("linesSet");
        QTest::newRow("malformed") << QByteArray("19200,x,8,1") << false << 0;
        QTest::newRow("empty") << QByteArray("") << false << 0;
        QTest::newRow("refused by the port") << QByteArray("115200,e,8,1") << true << 1;
    }
    void comOpenSettingsNotTaken()
    {
        QFETCH(QByteArray, definition);
        QFETCH(bool, refuse);
        QFETCH(int, linesSet);
        Bench b;
        b.port.refuseLineSettings(refuse);
        QVERIFY(b.link.ComOpen(1, definition.constData()));
        QCOMPARE(b.port.linesSet.size(), linesSet);
        QCOMPARE(b.port.timeouts(), Link::WorkingTimeouts);
    }

    void secondOpenGivesFirstBack()
    {
        Bench b;
        QVERIFY(b.open());
        QVERIFY(b.open());
        QCOMPARE(b.port.closes, 1);
        QCOMPARE(b.port.timeoutsSet.size(), 3); // working, restored, working
    }
};

QTEST_GUILESS_MAIN(TestSendCommand)
#include "tst_sendcommand.moc"
