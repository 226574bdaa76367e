// The real qmrctl against qmrsim on a pseudo-terminal.

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <termios.h>
#include <unistd.h>

namespace {

// The line settings of a terminal, read through a descriptor held only for the reading.
termios lineOf(const QString &path)
{
    termios t{};
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        ::tcgetattr(fd, &t);
        ::close(fd);
    }
    return t;
}

bool sameLine(const termios &a, const termios &b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && cfgetospeed(&a) == cfgetospeed(&b);
}

} // namespace

class TestQmrctl : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void scanJson();
    void pollCount();
    void pollStopsOnInterrupt();
    void pollDataIsEscaped();
    void noModule();
    void usageError();
    void namedPortThatIsNotThere();
    void oneRunPerRecord();
    void recordThatCannotBeRead();
    void symlinkAndTargetInPorts();
    void settingsFileTooLargeToRewrite();
    void heldPortLeftAlone();
    void portsKeepsTheLine();
    void checkPortOnLoopback();
    void checkPortRateError();
    void checkPortWithoutPlug();
    void reportFile();

private:
    bool startEmulator(const QStringList &extra = {});
    // Runs qmrctl to its end; returns the exit code (-1 when it crashed or hung).
    int qmrctl(const QStringList &args, QByteArray *out = nullptr, QByteArray *err = nullptr);
    // check-port on COM1 against a fresh loopback emulator, measured again (up to three
    // times) until measuredWell accepts the output; the last run's exit code and output.
    int checkPort(const QStringList &simArgs, const QStringList &ctlArgs,
                  const std::function<bool(const QByteArray &)> &measuredWell, QByteArray &out);
    QString config() const { return m_dir->filePath(QStringLiteral("QMRConfig.conf")); }
    QString linkPath() const { return m_dir->filePath(QStringLiteral("ttyQMR")); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_sim;
    // check-port measures a line in real time: there the emulator and qmrctl run at a real-time
    // priority where the system allows it (as root), since an adapter's own timing is not
    // slowed by a busy PC, and the suite's other programs would otherwise set the pace.
    bool m_realTime = false;
};

namespace {

QStringList realTimePrefix()
{
    static const bool allowed =
        QProcess::execute(QStringLiteral("chrt"), {"-f", "10", "true"}) == 0;
    return allowed ? QStringList{"chrt", "-f", "10"} : QStringList{};
}

// The program and its arguments, behind the real-time prefix when asked for.
void startProgram(QProcess &p, const QString &program, const QStringList &args, bool realTime)
{
    const QStringList prefix = realTime ? realTimePrefix() : QStringList{};
    if (prefix.isEmpty())
        p.start(program, args);
    else
        p.start(prefix.first(), prefix.mid(1) + QStringList{program} + args);
}

} // namespace

void TestQmrctl::init()
{
    m_realTime = false;
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // COM1 is the emulator; every other number maps to nothing, so the machine's own serial
    // ports are never touched.
    QFile file(config());
    QVERIFY(file.open(QIODevice::WriteOnly));
    QByteArray text = "[Ports]\nCOM1=" + linkPath().toUtf8() + "\n";
    for (int com = 2; com <= 16; ++com)
        text += "COM" + QByteArray::number(com) + "=\n";
    file.write(text);
}

void TestQmrctl::cleanup()
{
    if (m_sim) {
        m_sim->terminate();
        if (!m_sim->waitForFinished(5000))
            m_sim->kill();
        m_sim.reset();
    }
    m_dir.reset();
}

bool TestQmrctl::startEmulator(const QStringList &extra)
{
    m_sim = std::make_unique<QProcess>();
    startProgram(*m_sim, QStringLiteral(QMRSIM_PATH), QStringList{"--link", linkPath()} + extra,
                 m_realTime);
    if (!m_sim->waitForStarted(5000))
        return false;
    // Ready once it has told where the link is.
    while (!m_sim->canReadLine()) {
        if (!m_sim->waitForReadyRead(5000))
            return false;
    }
    return m_sim->readLine().contains("linked at");
}

int TestQmrctl::qmrctl(const QStringList &args, QByteArray *out, QByteArray *err)
{
    QProcess p;
    startProgram(p, QStringLiteral(QMRCTL_PATH), QStringList{"--config", config()} + args,
                 m_realTime);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (out)
        *out = p.readAllStandardOutput();
    if (err)
        *err = p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

void TestQmrctl::scanJson()
{
    QVERIFY(startEmulator({"--id1", "07", "--serial1", "31415926"}));
    QByteArray out;
    QByteArray err;
    QCOMPARE(qmrctl({"scan", "--json"}, &out, &err), 0);
    const QJsonDocument doc = QJsonDocument::fromJson(out);
    QVERIFY2(doc.isObject(), out.constData());
    const QJsonObject module = doc.object().value("module").toObject();
    QCOMPARE(module.value("com").toInt(), 1);
    QCOMPARE(module.value("device").toString(), linkPath());
    QCOMPARE(module.value("id1").toString(), QStringLiteral("07"));
    QCOMPARE(module.value("serialText").toString(), QStringLiteral("31415926-7"));
    QVERIFY2(err.isEmpty(), err.constData());
    // The port is remembered in the settings file, beside the [Ports] group.
    QFile file(config());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray settings = file.readAll();
    QVERIFY2(settings.contains("ScanCommNo=1"), settings.constData());
    QVERIFY(settings.contains("COM1=" + linkPath().toUtf8()));
}

void TestQmrctl::pollCount()
{
    QVERIFY(startEmulator());
    QByteArray out;
    QCOMPARE(qmrctl({"poll", "--count", "3"}, &out), 0);
    const QList<QByteArray> lines = out.trimmed().split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines.at(0).contains("reader 1  ID 01"));
    QVERIFY(lines.at(1).contains("reader 2  ID 05"));
    // The port was given back: the next call opens it again.
    QCOMPARE(qmrctl({"scan"}), 0);
}

void TestQmrctl::pollStopsOnInterrupt()
{
    QVERIFY(startEmulator());
    QProcess p;
    p.start(QStringLiteral(QMRCTL_PATH), {"--config", config(), "poll"});
    QVERIFY(p.waitForStarted(5000));
    QByteArray out;
    while (out.count('\n') < 2) {
        QVERIFY2(p.waitForReadyRead(10000), "no poll output");
        out += p.readAllStandardOutput();
    }
    ::kill(pid_t(p.processId()), SIGINT);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(p.readAllStandardError().contains("replies"));
    QCOMPARE(qmrctl({"scan"}), 0);
}

// Control characters from the module are shown as \x1b and the like (tst_commandrunner
// sends them); a backslash the module sent is doubled, so the two cannot be confused.
void TestQmrctl::pollDataIsEscaped()
{
    QVERIFY(startEmulator({"--data1", "C:\\x1b"}));
    QByteArray out;
    QCOMPARE(qmrctl({"poll", "--count", "1"}, &out), 0);
    QVERIFY2(out.endsWith("  C:\\\\x1b\n"), out.constData());
}

void TestQmrctl::noModule()
{
    // Nothing behind COM1: the link path does not exist.
    QByteArray err;
    QCOMPARE(qmrctl({"scan"}, nullptr, &err), 1);
    QVERIFY(err.startsWith("Module Not Find"));
    QCOMPARE(qmrctl({"set-id", "5"}), 1);
}

void TestQmrctl::usageError()
{
    QByteArray out;
    QByteArray err;
    QCOMPARE(qmrctl({"set-id", "100"}, &out, &err), 2);
    QVERIFY(out.isEmpty());
    QVERIFY(err.contains("'100'"));
    QCOMPARE(err.count('\n'), 1);
}

void TestQmrctl::namedPortThatIsNotThere()
{
    const QString missing = m_dir->filePath(QStringLiteral("ttyNONE"));
    QByteArray err;
    QCOMPARE(qmrctl({"--port", missing, "scan"}, nullptr, &err), 1);
    QVERIFY2(err.contains("  " + missing.toUtf8() + ": no such device"), err.constData());
    QVERIFY2(!err.contains("COM16"), err.constData());
}

// A second run on a record another run holds stops at once; the first goes on.
void TestQmrctl::oneRunPerRecord()
{
    const QString record = m_dir->filePath(QStringLiteral("site.jsonl"));
    const QStringList args{"--config", config(),   "provision", "--ports",
                           linkPath(), "--record", record};
    QProcess first;
    first.start(QStringLiteral(QMRCTL_PATH), args);
    QVERIFY(first.waitForStarted(5000));
    QByteArray firstErr;
    while (!firstErr.contains("provisioning on")) {
        QVERIFY2(first.waitForReadyRead(10000), firstErr.constData());
        firstErr += first.readAllStandardError();
    }
    QByteArray out;
    QByteArray err;
    QCOMPARE(qmrctl({"provision", "--ports", linkPath(), "--record", record}, &out, &err), 2);
    QVERIFY2(err.contains("is in use by another qmrctl run"), err.constData());
    QVERIFY(first.state() == QProcess::Running);
    ::kill(pid_t(first.processId()), SIGINT);
    QVERIFY(first.waitForFinished(10000));
    QCOMPARE(first.exitCode(), 0);
}

void TestQmrctl::recordThatCannotBeRead()
{
    const QString record = m_dir->filePath(QStringLiteral("folder.jsonl"));
    QVERIFY(QDir().mkpath(record));
    QByteArray err;
    QCOMPARE(qmrctl({"provision", "--ports", linkPath(), "--record", record}, nullptr, &err), 2);
    QVERIFY2(err.contains("folder.jsonl"), err.constData());
}

void TestQmrctl::symlinkAndTargetInPorts()
{
    const QString target = m_dir->filePath(QStringLiteral("ttyTARGET"));
    const QString link = m_dir->filePath(QStringLiteral("ttyLINK"));
    QFile file(target);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(QFile::link(target, link));
    QByteArray err;
    QCOMPARE(qmrctl({"provision", "--ports", link + "," + target}, nullptr, &err), 2);
    QVERIFY2(err.contains("are the same device"), err.constData());
    QCOMPARE(file.size(), 0);
}

// Only the first MiB of the settings file is read, so it is not rewritten: qmrctl says so.
void TestQmrctl::settingsFileTooLargeToRewrite()
{
    QFile file(config());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray text = file.readAll();
    file.close();
    while (text.size() <= 1024 * 1024)
        text += "; padding padding padding padding padding padding padding padding\n";
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();
    QVERIFY(startEmulator());
    QByteArray err;
    QCOMPARE(qmrctl({"scan"}, nullptr, &err), 0);
    QVERIFY2(err.contains("qmrctl: settings: ") && err.contains("larger than 1 MiB"),
             err.constData());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), text);
}

// A terminal another program holds (as a getty or a modem daemon holds one) is skipped by
// ports and by the scan, which name the holder, send it nothing and leave its line as it was.
void TestQmrctl::heldPortLeftAlone()
{
    const QString log = m_dir->filePath(QStringLiteral("sim.log"));
    QVERIFY(startEmulator({"--log", log}));
    const termios before = lineOf(linkPath());
    QProcess holder;
    holder.setStandardInputFile(linkPath());
    holder.start(QStringLiteral("sleep"), {"30"});
    QVERIFY(holder.waitForStarted(5000));
    QTest::qWait(200); // the child has opened its input
    const QByteArray holderText = "in use by sleep (pid " + QByteArray::number(holder.processId());

    QByteArray out;
    QCOMPARE(qmrctl({"ports", "--json"}, &out), 0);
    const QJsonObject com1 =
        QJsonDocument::fromJson(out).object().value("ports").toArray().at(0).toObject();
    QCOMPARE(com1.value("openable").toBool(), false);
    QCOMPARE(com1.value("error").toString(), QStringLiteral("busy"));
    QVERIFY2(com1.value("reason").toString().contains(holderText), out.constData());
    QByteArray err;
    QCOMPARE(qmrctl({"scan", "--all-lines"}, nullptr, &err), 1);
    QVERIFY2(err.contains(holderText), err.constData());
    QCOMPARE(qmrctl({"check-port", "COM1"}, nullptr, &err), 1);
    QVERIFY2(err.contains(holderText), err.constData());

    holder.kill();
    holder.waitForFinished();
    QVERIFY(sameLine(lineOf(linkPath()), before));
    QFile file(log);
    QVERIFY(!file.open(QIODevice::ReadOnly) || !file.readAll().contains("\trx\t"));
}

void TestQmrctl::portsKeepsTheLine()
{
    QVERIFY(startEmulator());
    // A line no scan would set: 2400 baud, odd parity, seven bits.
    const int fd = ::open(QFile::encodeName(linkPath()).constData(), O_RDWR | O_NOCTTY);
    QVERIFY(fd >= 0);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfsetospeed(&t, B2400);
    ::cfsetispeed(&t, B2400);
    t.c_cflag = (t.c_cflag & ~CSIZE) | CS7 | PARODD | PARENB;
    ::tcsetattr(fd, TCSANOW, &t);
    ::close(fd);
    const termios before = lineOf(linkPath());
    QByteArray out;
    QCOMPARE(qmrctl({"ports"}, &out), 0);
    QVERIFY2(out.startsWith("COM1   " + linkPath().toUtf8()), out.constData());
    QVERIFY(sameLine(lineOf(linkPath()), before));
}

// The loopback emulator plays the adapter in real time beside the rest of the suite: a rate
// judged while the machine was too busy to keep time is measured once more.
int TestQmrctl::checkPort(const QStringList &simArgs, const QStringList &ctlArgs,
                          const std::function<bool(const QByteArray &)> &measuredWell,
                          QByteArray &out)
{
    int rc = -1;
    for (int attempt = 0; attempt < 3; ++attempt) {
        cleanup();
        init();
        m_realTime = true;
        if (!startEmulator(QStringList{"--loopback"} + simArgs))
            return -1;
        out.clear();
        rc = qmrctl(QStringList{"check-port", "COM1"} + ctlArgs, &out);
        if (measuredWell(out))
            break;
        qInfo("check-port measured again: %s", out.constData());
    }
    return rc;
}

// A pseudo-terminal does not carry the parity: the emulator is told the bits of a byte, and
// each run judges the six lines that take that many. The two runs pass all twelve.
void TestQmrctl::checkPortOnLoopback()
{
    int passed = 0;
    for (const char *bits : {"10", "11"}) {
        const QString parity = QString(bits) == "10" ? ",n," : ",e,";
        const auto judged = [&](const QByteArray &out) {
            QJsonArray lines;
            for (const QJsonValue &value :
                 QJsonDocument::fromJson(out).object().value("lines").toArray()) {
                if (value.toObject().value("line").toString().contains(parity))
                    lines.append(value);
            }
            return lines;
        };
        const auto allPass = [&](const QByteArray &out) {
            const QJsonArray lines = judged(out);
            return std::all_of(lines.begin(), lines.end(),
                               [](const QJsonValue &v) { return v["ok"].toBool(); });
        };
        QByteArray out;
        checkPort({"--bits-per-byte", bits}, {"--json"}, allPass, out);
        const QJsonObject result = QJsonDocument::fromJson(out).object();
        QCOMPARE(result.value("port").toString(), QStringLiteral("COM1"));
        QCOMPARE(result.value("lines").toArray().size(), 12);
        for (const QJsonValue &value : judged(out)) {
            const QJsonObject line = value.toObject();
            QVERIFY2(line.value("ok").toBool(), QJsonDocument(line).toJson().constData());
            QCOMPARE(line.value("received").toInt(), line.value("sent").toInt());
            QVERIFY(line.value("sent").toInt() >= 256);
            ++passed;
        }
    }
    QCOMPARE(passed, 12);
}

void TestQmrctl::checkPortRateError()
{
    const QRegularExpression pattern("19200,n,8,1   FAIL  sent 768, back 768, changed 0, "
                                     "rate (1\\.\\d+) \\(more than 3 % off\\)");
    const auto rateTenPercentOff = [&](const QByteArray &out) {
        const QRegularExpressionMatch line = pattern.match(QString::fromUtf8(out));
        return line.hasMatch() && qAbs(line.captured(1).toDouble() - 1.1) < 0.01;
    };
    QByteArray out;
    QCOMPARE(checkPort({"--rate-error", "10"}, {}, rateTenPercentOff, out), 1);
    // Every line fails, the n lines (judged at the ten bits they take) for their rate.
    QCOMPARE(out.count("FAIL"), 12);
    QVERIFY(out.endsWith("COM1: the adapter failed at 12 of the twelve line settings\n"));
    QVERIFY2(rateTenPercentOff(out), out.constData());
}

void TestQmrctl::checkPortWithoutPlug()
{
    QVERIFY(startEmulator({"--fault-silent"}));
    QByteArray out;
    QByteArray err;
    QCOMPARE(qmrctl({"check-port", "COM1"}, &out, &err), 1);
    QVERIFY(out.isEmpty());
    QCOMPARE(err.count('\n'), 1);
    QVERIFY2(err.contains("nothing came back on COM1 at 4800,n,8,1"), err.constData());
}

void TestQmrctl::reportFile()
{
    QVERIFY(startEmulator({"--line", "9600,n,8,1"}));
    const QString report = m_dir->filePath(QStringLiteral("report.json"));
    QByteArray out;
    QCOMPARE(qmrctl({"report", report}, &out), 0);
    QVERIFY2(out.contains("report written to " + report.toUtf8() + " (took "), out.constData());
    QFile file(report);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject json = QJsonDocument::fromJson(file.readAll()).object();
    QVERIFY(!json.value("tool").toObject().value("version").toString().isEmpty());
    QVERIFY(!json.value("system").toObject().value("architecture").toString().isEmpty());
    QCOMPARE(json.value("settings").toObject().value("ScanBaudRate").toString(),
             QStringLiteral("19200,e,8,1"));
    QCOMPARE(json.value("ports").toArray().size(), 16);
    // COM1 at all twelve lines; it answers at 9600 only (its n and e twins: no parity on a pty).
    const QJsonArray sweep = json.value("sweep").toArray();
    QCOMPARE(sweep.size(), 12);
    QStringList answered;
    for (const QJsonValue &entry : sweep) {
        QVERIFY(!entry.toObject().value("frames").toArray().isEmpty());
        if (entry.toObject().value("answered").toBool())
            answered << entry.toObject().value("line").toString();
    }
    QCOMPARE(answered, QStringList({"9600,n,8,1", "9600,e,8,1"}));
}

QTEST_GUILESS_MAIN(TestQmrctl)
#include "tst_qmrctl.moc"
