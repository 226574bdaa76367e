#include "sim/memoryport.h"

#include <QtTest>

using namespace qmr;

Q_DECLARE_METATYPE(qmr::PortError)

namespace {

const CommTimeouts Working{0, 0, 1, 0, 0};
const LineSettings Line19200e{19200, 'e', 8, 1};

QByteArray cmd(const QByteArray &text)
{
    quint8 check = 0x09;
    for (char c : text)
        check ^= quint8(c);
    return "\x09" + text + QByteArray::number(check, 16).rightJustified(2, '0').toUpper() + "\r";
}

// Opens COM1 with the link's working settings.
void openWorking(MemoryPort &port)
{
    QVERIFY(port.open("COM1"));
    QVERIFY(port.setTimeouts(Working));
    QVERIFY(port.setLineSettings(Line19200e));
}

void send(MemoryPort &port, const QByteArray &bytes)
{
    QCOMPARE(port.write(bytes.constData(), bytes.size()), bytes.size());
}

// Reads until a byte comes (at most `limit` reads); returns the number of empty reads.
int emptyReadsUntilByte(MemoryPort &port, char *byte, int limit = 10000)
{
    for (int empty = 0; empty < limit; ++empty) {
        const int r = port.readByte(byte);
        if (r == 1)
            return empty;
        if (r < 0)
            return -1;
    }
    return -2;
}

QByteArray readAvailable(MemoryPort &port, FakeClock &clock)
{
    QByteArray out;
    char b = 0;
    while (port.readByte(&b) == 1)
        out += b;
    Q_UNUSED(clock);
    return out;
}

} // namespace

class TestMemoryPort : public QObject
{
    Q_OBJECT

private slots:
    void refusedOpen_data()
    {
        QTest::addColumn<PortError>("error");
        QTest::newRow("busy") << PortError::Busy;
        QTest::newRow("permission") << PortError::PermissionDenied;
        QTest::newRow("not a serial port") << PortError::NotASerialPort;
    }
    void refusedOpen()
    {
        QFETCH(PortError, error);
        FakeClock clock;
        MemoryPort port(clock);
        port.addDevice("COM3");
        port.refuseOpen("COM3", error);
        QVERIFY(!port.open("COM3"));
        QCOMPARE(port.error(), error);
        QVERIFY(!port.errorString().isEmpty());
        QVERIFY(!port.isOpen());
        QVERIFY(port.opens().isEmpty());
        // An unknown name is simply not there.
        QVERIFY(!port.open("COM4"));
        QCOMPARE(port.error(), PortError::NotFound);
    }

    void openAndCloseRestoreTheDevice()
    {
        FakeClock clock;
        MemoryPort port(clock);
        port.addDevice("COM1");
        port.addDevice("COM2");
        QVERIFY(port.open("COM1"));
        QCOMPARE(port.error(), PortError::NoError);
        const CommTimeouts own = port.timeouts();
        const LineSettings ownLine = port.currentLine();
        QVERIFY(!(own == Working));
        QVERIFY(port.setTimeouts(Working));
        QVERIFY(port.setLineSettings(Line19200e));
        QCOMPARE(port.timeouts(), Working);
        QCOMPARE(port.currentLine(), Line19200e);
        // One device at a time.
        QVERIFY(!port.open("COM2"));
        QCOMPARE(port.currentDevice(), QString("COM1"));
        port.close();
        QVERIFY(!port.isOpen());
        QCOMPARE(port.closeCount(), 1);
        QVERIFY(port.open("COM1"));
        QCOMPARE(port.timeouts(), own);
        QCOMPARE(port.currentLine(), ownLine);
        QCOMPARE(port.opens(), (QList<QString>{"COM1", "COM1"}));
    }

    void writesAreRecorded()
    {
        FakeClock clock(5000);
        MemoryPort port(clock);
        port.addDevice("COM1");
        openWorking(port);
        send(port, "\x09");
        clock.advance(7);
        send(port, "A00M");
        QCOMPARE(port.writes().size(), 2);
        QCOMPARE(port.writes()[1].device, QString("COM1"));
        QCOMPARE(port.writes()[1].line, Line19200e);
        QCOMPARE(port.writes()[1].bytes, QByteArray("A00M"));
        QCOMPARE(port.writes()[1].atMs, 5007u);
    }

    void replyAtOnce()
    {
        FakeClock clock;
        ModuleModel module;
        MemoryPort port(clock);
        port.addDevice("COM1", &module);
        openWorking(port);
        send(port, cmd("A00M"));
        const quint32 sent = clock.milliseconds();
        QByteArray reply;
        char b = 0;
        while (reply.size() < 16 && port.readByte(&b) == 1)
            reply += b;
        QCOMPARE(reply.size(), 16);
        QCOMPARE(reply.mid(5, 8), QByteArray("20250010"));
        QCOMPARE(clock.milliseconds(), sent); // due bytes cost no time
        // Then the line is quiet: an empty read waits 1 ms.
        QCOMPARE(port.readByte(&b), 0);
        QCOMPARE(clock.milliseconds(), sent + 1);
    }

    void delayedReplyFallsDue()
    {
        FakeClock clock;
        ModuleModel module;
        module.faults().delayMs = 30;
        MemoryPort port(clock);
        port.addDevice("COM1", &module);
        openWorking(port);
        // The delay counts from the write that ends the frame.
        const QByteArray frame = cmd("A00V");
        send(port, frame.left(1));
        clock.advance(9);
        send(port, frame.mid(1));
        const quint32 ended = clock.milliseconds();
        char b = 0;
        QCOMPARE(emptyReadsUntilByte(port, &b), 29);
        QCOMPARE(b, '\x0A');
        QCOMPARE(clock.milliseconds(), ended + 30);
    }

    void readWaitsItsTimeout()
    {
        FakeClock clock;
        ModuleModel module;
        module.faults().delayMs = 20;
        MemoryPort port(clock);
        port.addDevice("COM1", &module);
        QVERIFY(port.open("COM1"));
        QVERIFY(port.setLineSettings(Line19200e));
        QVERIFY(port.setTimeouts(CommTimeouts{0, 0, 50, 0, 0}));
        char b = 0;
        const quint32 t0 = clock.milliseconds();
        QCOMPARE(port.readByte(&b), 0);
        QCOMPARE(clock.milliseconds(), t0 + 50);
        // A byte that falls due during the wait ends it early.
        send(port, cmd("A00M"));
        QCOMPARE(port.readByte(&b), 1);
        QCOMPARE(clock.milliseconds(), t0 + 70);
        // A zero timeout still takes 1 ms, so a polling reader sees time move.
        QVERIFY(port.setTimeouts(CommTimeouts{}));
        readAvailable(port, clock);
        const quint32 t1 = clock.milliseconds();
        QCOMPARE(port.readByte(&b), 0);
        QCOMPARE(clock.milliseconds(), t1 + 1);
    }

    void wrongLineGetsNoReply()
    {
        FakeClock clock;
        ModuleModel module;
        MemoryPort port(clock);
        port.addDevice("COM1", &module);
        QVERIFY(port.open("COM1")); // the device's own 9600,n,8,1
        send(port, cmd("A00M"));
        char b = 0;
        QCOMPARE(emptyReadsUntilByte(port, &b, 200), -2);
        QVERIFY(module.commands().isEmpty());
    }

    void clockWrap()
    {
        FakeClock clock(0xFFFFFFFAu);
        ModuleModel module;
        module.faults().delayMs = 10;
        MemoryPort port(clock);
        port.addDevice("COM1", &module);
        openWorking(port);
        send(port, cmd("A00M"));
        char b = 0;
        QCOMPARE(emptyReadsUntilByte(port, &b), 9);
        QCOMPARE(clock.milliseconds(), 4u);
    }

    void inject()
    {
        FakeClock clock(100);
        MemoryPort port(clock);
        port.addDevice("COM1");
        openWorking(port);
        port.inject("late", 110);
        port.inject("soon", 103);
        char b = 0;
        QCOMPARE(emptyReadsUntilByte(port, &b), 2);
        QCOMPARE(b, 's');
        QCOMPARE(readAvailable(port, clock), QByteArray("oon"));
        QCOMPARE(emptyReadsUntilByte(port, &b), 5);
        QCOMPARE(b, 'l');
        QCOMPARE(clock.milliseconds(), 110u);
    }

    void injectFromTheClockHook()
    {
        FakeClock clock(0);
        MemoryPort port(clock);
        port.addDevice("COM1");
        openWorking(port);
        clock.setOnAdvance([&](quint32 now) {
            if (now == 5)
                port.inject("x", now);
        });
        char b = 0;
        QCOMPARE(emptyReadsUntilByte(port, &b), 4);
        QCOMPARE(b, 'x');
    }

    void endlessStream()
    {
        FakeClock clock;
        ModuleModel module;
        module.faults().endless = true;
        MemoryPort port(clock);
        port.addDevice("COM1", &module);
        openWorking(port);
        send(port, cmd("A00M"));
        const quint32 start = clock.milliseconds();
        char b = 0;
        int zeros = 0;
        bool sawEnd = false;
        for (int i = 0; i < 1920; ++i) {
            const int r = port.readByte(&b);
            zeros += r == 0;
            sawEnd |= b == '\r';
        }
        QCOMPARE(zeros, 0);
        QVERIFY(!sawEnd);
        // 1920 bytes of ten bits at 19200 baud take one second of line time.
        QCOMPARE(clock.milliseconds() - start, 1000u);
        // Spoken to, it stops (with bytes that are no command, so no new stream starts).
        send(port, "\x09zz\r");
        QCOMPARE(port.readByte(&b), 0);
    }

    void closeLosesBytesInFlight()
    {
        FakeClock clock;
        ModuleModel module;
        module.faults().delayMs = 5;
        MemoryPort port(clock);
        port.addDevice("COM1", &module);
        openWorking(port);
        send(port, cmd("A00M"));
        port.close();
        openWorking(port);
        clock.advance(10);
        char b = 0;
        QCOMPARE(port.readByte(&b), 0);
    }

    void vanish()
    {
        FakeClock clock;
        ModuleModel module;
        MemoryPort port(clock);
        port.addDevice("COM1", &module);
        openWorking(port);
        port.vanish("COM1");
        char b = 0;
        QCOMPARE(port.readByte(&b), -1);
        QCOMPARE(port.error(), PortError::Io);
        QCOMPARE(port.write("x", 1), qint64(-1));
        QVERIFY(!port.setTimeouts(Working));
        QVERIFY(module.commands().isEmpty());
        port.close();
        QVERIFY(!port.open("COM1"));
        QCOMPARE(port.error(), PortError::NotFound);
        // Closed: reads and writes fail too.
        QCOMPARE(port.readByte(&b), -1);
        QCOMPARE(port.write("x", 1), qint64(-1));
    }
};

QTEST_APPLESS_MAIN(TestMemoryPort)
#include "tst_memoryport.moc"
