// qmrsim as a real process on a pseudo-terminal, driven by a raw termios client.

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

QByteArray cmd(const QByteArray &text)
{
    quint8 check = 0x09;
    for (char c : text)
        check ^= quint8(c);
    return "\x09" + text + QByteArray::number(check, 16).rightJustified(2, '0').toUpper() + "\r";
}

// The tool's side of the line: opened raw at a chosen speed, as a serial port would be.
class Client
{
public:
    Client(const QString &path, speed_t speed, bool evenParity = true)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd < 0)
            return;
        termios tio{};
        ::tcgetattr(m_fd, &tio);
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        if (evenParity)
            tio.c_cflag |= PARENB;
        ::cfsetispeed(&tio, speed);
        ::cfsetospeed(&tio, speed);
        ::tcsetattr(m_fd, TCSANOW, &tio);
        ::tcflush(m_fd, TCIOFLUSH);
    }
    ~Client()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }

    void send(const QByteArray &bytes)
    {
        QCOMPARE(::write(m_fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    }
    // Everything that arrives until a 0x0D or until waitMs pass without one.
    QByteArray reply(int waitMs = 1500)
    {
        QByteArray got;
        QElapsedTimer timer;
        timer.start();
        while (!got.endsWith('\r') && timer.elapsed() < waitMs) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(waitMs - timer.elapsed())) <= 0)
                break;
            char buffer[256];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, int(n));
        }
        return got;
    }
    QByteArray ask(const QByteArray &text, int waitMs = 1500)
    {
        send(cmd(text));
        return reply(waitMs);
    }

private:
    int m_fd = -1;
};

} // namespace

class TestQmrsim : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    // Starts qmrsim with the given options and waits for its ready line.
    bool start(QProcess &p, const QStringList &args)
    {
        p.start(QStringLiteral(QMRSIM_PATH), args);
        if (!p.waitForStarted(5000))
            return false;
        while (!p.canReadLine())
            if (!p.waitForReadyRead(5000))
                return false;
        const QString line = QString::fromLocal8Bit(p.readLine()).trimmed();
        return QRegularExpression("^qmrsim: /dev/pts/\\d+ linked at .+$").match(line).hasMatch();
    }
    void stop(QProcess &p)
    {
        p.terminate();
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
    }

private slots:
    void talksAtItsLineAndLogs()
    {
        const QString link = path("ttyQMR0");
        const QString log = path("log.txt");
        const QString state = path("state.json");
        QProcess p;
        QVERIFY(start(p, {"--link", link, "--log", log, "--state", state, "--id1", "07"}));
        QVERIFY(QFileInfo(link).isSymLink());

        {
            Client c(link, B19200);
            QVERIFY(c.isOpen());
            const QByteArray r = c.ask("A00M");
            QCOMPARE(r.size(), 16);
            QCOMPARE(r.left(13), QByteArray("\x0AM07:20250010"));
            // The pseudo-terminal keeps no parity: a program at no parity is heard too.
            Client n(link, B19200, false);
            QCOMPARE(n.ask("A00V").mid(5, 8), QByteArray("03.20-01"));
        }
        {
            // Another speed: the bytes are noise and nothing answers.
            Client c(link, B9600);
            QVERIFY(c.ask("A00M", 300).isEmpty());
        }
        // Closed and reopened many times, the line keeps working; an ID change shows in the
        // state file.
        for (int i = 0; i < 5; ++i) {
            Client c(link, B19200);
            QCOMPARE(c.ask("A00N").size(), 16);
        }
        {
            Client c(link, B19200);
            QCOMPARE(c.ask("A00C2025001012"), QByteArray("\x0A"
                                                         "COK4D\r"));
            // The line change is acknowledged at the old speed...
            QCOMPARE(c.ask("A00E2"), QByteArray("\x0A"
                                                "EOK4B\r"));
            QVERIFY(c.ask("A00M", 300).isEmpty());
        }
        {
            // ...and from then on heard at the new one.
            Client c(link, B9600);
            QCOMPARE(c.ask("A00M").left(4), QByteArray("\x0AM12"));
        }
        QFile stateFile(state);
        QVERIFY(stateFile.open(QIODevice::ReadOnly));
        const QJsonObject s = QJsonDocument::fromJson(stateFile.readAll()).object();
        QCOMPARE(s["reader1"].toObject()["id"].toString(), QString("12"));
        QCOMPARE(s["lineIndex"].toInt(), 2);
        QCOMPARE(s["line"].toString(), QString("9600,n,8,1"));
        QCOMPARE(s["lastCommand"].toString(), QString("A00M"));

        QFile logFile(log);
        QVERIFY(logFile.open(QIODevice::ReadOnly));
        const QStringList lines =
            QString::fromUtf8(logFile.readAll()).split('\n', Qt::SkipEmptyParts);
        QVERIFY(lines.size() >= 10);
        const QStringList rx = lines.first().split('\t');
        QCOMPARE(rx.size(), 5);
        QVERIFY(rx[0].toLongLong() > 0);
        QCOMPARE(rx.mid(1),
                 (QStringList{"rx", "09 41 30 30 4D 30 35 0D", "A00M", "baud=19200 accepted"}));
        const QStringList tx = lines[1].split('\t');
        QCOMPARE(tx.mid(1), (QStringList{"tx", "0A 4D 30 37 3A 32 30 32 35 30 30 31 30 37 45 0D",
                                         "M07:20250010"}));
        QVERIFY(!lines.filter(QRegularExpression("\trx\t.*\tA00M\tbaud=9600 ignored$")).isEmpty());

        stop(p);
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
    }

    void faultsOnTheLine()
    {
        const QString link = path("ttyQMR1");
        QProcess p;
        QVERIFY(start(p, {"--link", link, "--line", "11", "--mode", "one", "--fault-garbage"}));
        Client c(link, B115200);
        QCOMPARE(c.ask("A00A").left(9), QByteArray("\x55\x0A"
                                                   "A00:101"));
        QVERIFY(c.ask("A05F", 300).isEmpty()); // one-reader mode: the second keeps quiet
        stop(p);
    }

    void endlessStopsWhenSpokenTo()
    {
        const QString link = path("ttyQMR2");
        QProcess p;
        QVERIFY(start(p, {"--link", link, "--fault-endless"}));
        Client c(link, B19200);
        c.send(cmd("A00M"));
        const QByteArray stream = c.reply(300);
        QVERIFY(stream.size() > 100);
        QVERIFY(!stream.contains('\r'));
        c.send("x"); // not a command: the stream stops and none starts
        QTest::qWait(50);
        c.reply(100);
        QVERIFY(c.reply(200).isEmpty());
        stop(p);
    }

    void replacesAStaleLinkButNoFile()
    {
        const QString link = path("ttyStale");
        QVERIFY(QFile::link("/nonexistent/pts", link));
        QProcess p;
        QVERIFY(start(p, {"--link", link}));
        QVERIFY(QFileInfo(link).symLinkTarget().startsWith("/dev/pts/"));
        stop(p);

        const QString file = path("plainfile");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep me");
        f.close();
        QProcess q;
        q.start(QStringLiteral(QMRSIM_PATH), {"--link", file});
        QVERIFY(q.waitForFinished(5000));
        QCOMPARE(q.exitCode(), 1);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("keep me"));
    }

    void badArguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("named");
        QTest::newRow("no link") << QStringList{} << "--link";
        QTest::newRow("line") << QStringList{"--line", "300,n,8,1"} << "--line";
        QTest::newRow("line index") << QStringList{"--line", "12"} << "--line";
        QTest::newRow("id") << QStringList{"--id1", "7"} << "--id1";
        QTest::newRow("id letters") << QStringList{"--id2", "ab"} << "--id2";
        QTest::newRow("serial") << QStringList{"--serial1", "123"} << "--serial1";
        QTest::newRow("mode") << QStringList{"--mode", "three"} << "--mode";
        QTest::newRow("rs485") << QStringList{"--rs485", "48"} << "--rs485";
        QTest::newRow("delay") << QStringList{"--fault-delay", "soon"} << "--fault-delay";
        QTest::newRow("unknown") << QStringList{"--fault-fire"} << "fault-fire";
    }
    void badArguments()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, named);
        if (!args.isEmpty())
            args << "--link" << path("never");
        QProcess p;
        p.start(QStringLiteral(QMRSIM_PATH), args);
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 2);
        const QString err = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
        QVERIFY2(err.contains(named), qPrintable(err));
        QVERIFY(!err.contains('\n'));
        QVERIFY(!QFileInfo(path("never")).isSymLink());
    }
};

QTEST_GUILESS_MAIN(TestQmrsim)
#include "tst_qmrsim.moc"
