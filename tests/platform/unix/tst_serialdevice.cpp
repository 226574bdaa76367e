#include "link/link.h"
#include "platform/unix/deviceholders.h"
#include "platform/unix/eventwait.h"
#include "platform/unix/framelog.h"
#include "platform/unix/serialdevice.h"
#include "platform/unix/systemclock.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <pty.h>
#include <string>
#include <string_view>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using namespace qmr;

namespace {

// A pseudo-terminal: the backend opens the slave by its path, the test plays the far end
// on the master and watches the slave's settings through its own slave descriptor.
struct Pty
{
    Pty()
    {
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0)
            path = name;
    }
    ~Pty()
    {
        closeMaster();
        if (slave >= 0)
            ::close(slave);
    }
    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    termios settings() const
    {
        termios t{};
        ::tcgetattr(slave, &t);
        return t;
    }
    QByteArray readMaster()
    {
        QByteArray bytes;
        char buffer[256];
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        for (;;) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            bytes.append(buffer, int(n));
        }
        return bytes;
    }
    bool writeMaster(const QByteArray &bytes)
    {
        return ::write(master, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }

    int master = -1;
    int slave = -1;
    std::string path;
};

// A link over the system's serial device, with the pseudo-terminal's slave as COM3.
struct PtyLink
{
    Pty pty;
    SerialDevice port;
    SystemClock clock;
    const FixedPortMap ports{{{3, pty.path}}};
    Link link{port, clock, ports};
};

} // namespace

class TestSerialDevice : public QObject
{
    Q_OBJECT

private slots:
    void exclusiveOpen()
    {
        Pty pty;
        QVERIFY(!pty.path.empty());
        SerialDevice first;
        SerialDevice second;
        QVERIFY2(first.open(pty.path), first.errorString().c_str());
        QVERIFY(first.isOpen());

        QVERIFY(!second.open(pty.path));
        QCOMPARE(second.error(), PortError::Busy);
        QVERIFY(!second.isOpen());

        // Another name for the same device is refused as well.
        QTemporaryDir dir;
        const std::string link = dir.filePath("module").toStdString();
        QVERIFY(QFile::link(QString::fromStdString(pty.path), QString::fromStdString(link)));
        QVERIFY(!second.open(link));
        QCOMPARE(second.error(), PortError::Busy);

        first.close();
        QVERIFY(second.open(link));
        QCOMPARE(second.error(), PortError::NoError);
    }

    void openFails_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("error");
        QTest::newRow("missing") << "/dev/qmr-no-such-port" << int(PortError::NotFound);
        QTest::newRow("empty") << "" << int(PortError::NotFound);
        QTest::newRow("not a tty") << "/dev/null" << int(PortError::NotASerialPort);
        QTest::newRow("a directory") << "/dev" << int(PortError::NotASerialPort);
    }
    void openFails()
    {
        QFETCH(QString, path);
        QFETCH(int, error);
        SerialDevice port;
        QVERIFY(!port.open(path.toStdString()));
        QCOMPARE(int(port.error()), error);
        QVERIFY(!port.errorString().empty());
        QVERIFY(!port.isOpen());
    }

    void openFailsOnFilesAndDanglingLinks()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("plain");
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        const QString dangling = dir.filePath("dangling");
        QVERIFY(QFile::link(dir.filePath("gone"), dangling));
        SerialDevice port;
        QVERIFY(!port.open(file.toStdString()));
        QCOMPARE(port.error(), PortError::NotASerialPort);
        QVERIFY(!port.open(dangling.toStdString()));
        QCOMPARE(port.error(), PortError::NotFound);
    }

    void permissionMessageNamesGroup()
    {
        QCOMPARE(QString::fromStdString(SerialDevice::permissionMessage("/dev/null")),
                 QStringLiteral("permission denied for /dev/null (owned by group root)"));
    }

    void lineSettingsApplied_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<char>("parity");
        QTest::addColumn<int>("speed");
        QTest::newRow("4800 none") << 4800 << 'n' << int(B4800);
        QTest::newRow("19200 even") << 19200 << 'e' << int(B19200);
        QTest::newRow("57600 even") << 57600 << 'e' << int(B57600);
        QTest::newRow("115200 none") << 115200 << 'n' << int(B115200);
    }
    void lineSettingsApplied()
    {
        QFETCH(int, baud);
        QFETCH(char, parity);
        QFETCH(int, speed);
        Pty pty;
        SerialDevice port;
        QVERIFY(port.open(pty.path));
        // A pseudo-terminal carries no parity (the kernel clears PARENB), so an even-parity
        // setting is refused there; the rest of the settings still take effect.
        QCOMPARE(port.setLineSettings({baud, parity, 8, 1}), parity == 'n');
        const termios t = pty.settings();
        QCOMPARE(int(cfgetospeed(&t)), speed);
        QCOMPARE(int(cfgetispeed(&t)), speed);
        QVERIFY(!(t.c_cflag & PARODD));
        QCOMPARE(int(t.c_cflag & CSIZE), int(CS8));
        QVERIFY(!(t.c_cflag & CSTOPB));
        QVERIFY(!(t.c_cflag & CRTSCTS));
        QVERIFY(!(t.c_iflag & (IXON | IXOFF)));
    }

    void closeRestoresSettings()
    {
        Pty pty;
        termios before = pty.settings();
        cfsetispeed(&before, B2400);
        cfsetospeed(&before, B2400);
        before.c_cflag |= CSTOPB;
        before.c_lflag |= ICANON | ECHO;
        QCOMPARE(::tcsetattr(pty.slave, TCSANOW, &before), 0);
        before = pty.settings();

        SerialDevice port;
        QVERIFY(port.open(pty.path));
        QVERIFY(port.setLineSettings({115200, 'n', 8, 1}));
        const termios during = pty.settings();
        QCOMPARE(int(cfgetospeed(&during)), int(B115200));
        port.close();

        const termios after = pty.settings();
        QCOMPARE(int(cfgetospeed(&after)), int(B2400));
        QCOMPARE(after.c_cflag, before.c_cflag);
        QCOMPARE(after.c_iflag, before.c_iflag);
        QCOMPARE(after.c_oflag, before.c_oflag);
        QCOMPARE(after.c_lflag, before.c_lflag);
    }

    void readAndWrite()
    {
        Pty pty;
        SerialDevice port;
        QVERIFY(port.open(pty.path));
        QVERIFY(port.setTimeouts(Link::WorkingTimeouts));
        QCOMPARE(port.timeouts(), Link::WorkingTimeouts);

        char byte = 0;
        QCOMPARE(port.readByte(&byte), 0); // nothing waiting: back after the read timeout

        QVERIFY(pty.writeMaster("\nOK"));
        QByteArray got;
        for (int i = 0; i < 1000 && got.size() < 3; ++i) {
            if (port.readByte(&byte) == 1)
                got.append(byte);
        }
        QCOMPARE(got, QByteArray("\nOK"));

        QCOMPARE(port.write("A00M", 4), std::int64_t(4));
        QCOMPARE(pty.readMaster(), QByteArray("A00M"));
    }

    void readAfterFarEndGone()
    {
        Pty pty;
        SerialDevice port;
        QVERIFY(port.open(pty.path));
        port.setTimeouts(Link::WorkingTimeouts);
        pty.closeMaster();
        char byte = 0;
        const int result = port.readByte(&byte);
        QVERIFY(result == -1 || result == 0);
        if (result == -1)
            QCOMPARE(port.error(), PortError::Io);
        QVERIFY(port.readByte(&byte) <= 0);
        QCOMPARE(port.write("A", 1), std::int64_t(-1));
        QCOMPARE(port.error(), PortError::Io);
    }

    void heldByDeviceLock()
    {
        // Another program that holds the device's flock (another copy of this one, say)
        // keeps it, even without a lock file.
        Pty pty;
        const int other = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY);
        QVERIFY(other >= 0);
        QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), 0);
        SerialDevice port;
        QVERIFY(!port.open(pty.path));
        QCOMPARE(port.error(), PortError::Busy);
        ::close(other);
        QVERIFY(port.open(pty.path));
    }

    // A driver without a low-latency setting: the open goes on without a word.
    void lowLatencyNotSupportedOnPty()
    {
        Pty pty;
        SerialDevice port;
        QVERIFY(port.open(pty.path));
        QCOMPARE(port.lowLatency(), SerialDevice::LowLatency::NotSupported);
        QCOMPARE(port.error(), PortError::NoError);
        QVERIFY(port.errorString().empty());
    }

    // A UUCP lock file counts while the process it names lives; its name is shown when the
    // process table can be read.
    void holderFromLockFile()
    {
        QTemporaryDir dir;
        const pid_t dead = ::fork();
        if (dead == 0)
            ::_exit(0);
        ::waitpid(dead, nullptr, 0);
        const int parent = int(::getppid());
        const std::string lock = dir.filePath("LCK..ttyUSB7").toStdString();
        const HolderSearch noProcesses{"/nonexistent", {dir.path().toStdString()}};
        const HolderSearch withProcesses{"/proc", {dir.path().toStdString()}};
        const std::string parentName = [&] {
            QFile comm(QStringLiteral("/proc/%1/comm").arg(parent));
            return comm.open(QIODevice::ReadOnly) ? comm.readAll().trimmed().toStdString()
                                                  : std::string();
        }();
        struct Case
        {
            std::string text;
            const HolderSearch &where;
            std::string expected; // empty: no holder
        };
        const Case cases[] = {
            {"      " + std::to_string(parent) + "\n", noProcesses, "in use by another program"},
            {std::to_string(parent) + "\n", withProcesses,
             "in use by " + parentName + " (pid " + std::to_string(parent) + ")"},
            {std::string(reinterpret_cast<const char *>(&parent), sizeof parent), noProcesses,
             "in use by another program"},
            {std::to_string(dead) + "\n", noProcesses, ""}, // stale: its process is gone
            {"garbage\n", noProcesses, ""},
        };
        for (const Case &c : cases) {
            QFile file(QString::fromStdString(lock));
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(c.text.data(), qint64(c.text.size()));
            file.close();
            const auto holder = findDeviceHolder("/dev/ttyUSB7", c.where);
            QCOMPARE(holder ? inUseText(holder) : std::string(), c.expected);
        }
    }

    void commandOverRealPort()
    {
        // The whole exchange on a real descriptor: the reply waits on the line before the
        // command goes out and is read once the frame is sent.
        PtyLink rig;
        auto &[pty, port, clock, ports, link] = rig;
        int pumps = 0;
        link.setMessagePump([&] { ++pumps; });

        QVERIFY(link.ComOpen(3, "19200,e,8,1"));
        QCOMPARE(QString::fromStdString(link.lastDevice()), QString::fromStdString(pty.path));
        QVERIFY(pty.writeMaster(QByteArray::fromHex("0A 31 32 30 39 0D")));
        QVERIFY(link.SendCommand("A00M"));
        QCOMPARE(QByteArray::fromStdString(link.ReplyText),
                 QByteArray::fromHex("0A 31 32 30 39 0D"));
        QCOMPARE(pty.readMaster(), QByteArray::fromHex("09 41 30 30 4D 30 35 0D"));

        // Silence: the window runs out, with the messages processed while it waits.
        QVERIFY(!link.SendCommand("A00M"));
        QVERIFY(pumps > 0);
        link.ComClose();
        QVERIFY(!port.isOpen());
    }

    void idleWaitWakesOnReplyAndKeepsTheWindow()
    {
        // Sleeping in the event loop instead of polling every millisecond must neither miss
        // a reply that arrives mid-wait nor close the window early on silence.
        PtyLink rig;
        auto &[pty, port, clock, ports, link] = rig;
        int events = 0;
        link.setIdleWait([&](std::uint32_t maxMs) {
            QVERIFY(maxMs >= 1 && maxMs <= Link::ReplyWindowMs + 1);
            ++events;
            processEventsOrWait(maxMs);
        });
        QVERIFY(link.ComOpen(3, "19200,e,8,1"));

        QTimer::singleShot(30, [&] { pty.writeMaster(QByteArray::fromHex("0A 31 32 30 39 0D")); });
        QElapsedTimer timer;
        timer.start();
        QVERIFY(link.SendCommand("A00M"));
        QCOMPARE(QByteArray::fromStdString(link.ReplyText),
                 QByteArray::fromHex("0A 31 32 30 39 0D"));
        QVERIFY(timer.elapsed() < 120);
        QVERIFY(events > 0);
        // Far fewer waits than the 120 one-millisecond reads a polling wait would take.
        events = 0;
        timer.restart();
        QVERIFY(!link.SendCommand("A00M"));
        QVERIFY(timer.elapsed() > qint64(Link::ReplyWindowMs));
        QVERIFY2(events < 60, qPrintable(QString::number(events)));
        link.ComClose();
    }

    void frameLogWritesEveryEvent()
    {
        // The trace users turn on with QT_LOGGING_RULES="qmr.frames.debug=true": its lines
        // must read as they always did.
        QVERIFY(!lcFrames().isDebugEnabled());
        QLoggingCategory::setFilterRules(QStringLiteral("qmr.frames.debug=true"));
        const FrameObserver log = frameLogObserver();
        const std::string reply = QByteArray::fromHex("0A 31 32 30 39 0D").toStdString();
        QTest::ignoreMessage(QtDebugMsg, "sent \"09 41 30 30 4d 30 35 0d\"");
        log(FrameEvent::Sent, Link::frame("A00M"));
        QTest::ignoreMessage(QtDebugMsg, "received \"0a 31 32 30 39 0d\" ok");
        log(FrameEvent::Received, reply);
        QTest::ignoreMessage(QtDebugMsg, "received \"0a 31 32 30 39 0d\" check failed");
        log(FrameEvent::CheckFailed, reply);
        QTest::ignoreMessage(QtDebugMsg, "abandoned \"0a 31 00\"");
        log(FrameEvent::Abandoned, std::string_view("\n1\0", 3));
        QTest::ignoreMessage(QtDebugMsg, "no reply");
        log(FrameEvent::NoReply, {});
        QLoggingCategory::setFilterRules(QString());
    }

    // A pause sleeps to an absolute deadline: it must never come back before its time, to the
    // nanosecond, and a deadline already passed takes no sleep.
    void clockNeverSleepsShort()
    {
        SystemClock clock;
        for (int i = 0; i < 40; ++i) {
            const int ms = i % 4 == 3 ? 5 : 1 + i % 2;
            const auto before = std::chrono::steady_clock::now();
            clock.sleep(ms);
            const auto slept = std::chrono::steady_clock::now() - before;
            QVERIFY2(slept >= std::chrono::milliseconds(ms),
                     qPrintable(QStringLiteral("%1 ms pause ended after %2 ns")
                                    .arg(ms)
                                    .arg(std::chrono::nanoseconds(slept).count())));
        }
        const std::uint32_t before = clock.milliseconds();
        clock.sleep(3);
        QVERIFY(clock.milliseconds() - before >= 3u);
        const std::int64_t deadline = clock.microseconds() + 2000;
        clock.sleepUntil(deadline);
        QVERIFY(clock.microseconds() >= deadline);
        clock.sleepUntil(deadline - 1000); // passed: returns at once
    }
};

QTEST_GUILESS_MAIN(TestSerialDevice)
#include "tst_serialdevice.moc"
