// The operations in real time against qmrsim on a pseudo-terminal, through the Qt serial
// backend: faulty replies, the module process killed in the middle of process mode and
// started again, a port held by another program, and qmrctl over the same faulty lines.

#include "link/linedefinition.h"
#include "link/link.h"
#include "link/portmap.h"
#include "operations/modulecontext.h"
#include "operations/processmode.h"
#include "operations/scan.h"
#include "operations/setmode.h"
#include "platform/unix/serialdevice.h"
#include "platform/unix/systemclock.h"
#include "support/memorysettingsstore.h"
#include "support/recordingview.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <functional>
#include <memory>
#include <string>
#include <sys/file.h>
#include <unistd.h>

using namespace qmr;

namespace {

bool contains(const std::string &text, std::string_view part)
{
    return text.find(part) != std::string::npos;
}

// qmrsim linked at a path; killed (not asked) when the test wants the line to die.
class Sim
{
public:
    ~Sim()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            m_process.waitForFinished(5000);
        }
    }
    bool start(const QString &link, const QStringList &extra = {})
    {
        m_process.start(QStringLiteral(QMRSIM_PATH), QStringList{"--link", link} + extra);
        if (!m_process.waitForStarted(5000))
            return false;
        while (!m_process.canReadLine())
            if (!m_process.waitForReadyRead(5000))
                return false;
        return QString::fromLocal8Bit(m_process.readLine()).startsWith("qmrsim: /dev/pts/");
    }
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    QProcess m_process;
};

// The operations over the real backend, with COM3 naming the emulator's link.
struct RealRig
{
    explicit RealRig(const QString &link)
        : map({{3, QFile::encodeName(link).toStdString()}}),
          link(port, clock, map), ctx{this->link, clock, settings, store, view}
    {
        settings.ScanCommNo = 3;
        settings.ScanBaudRateNo = DefaultBaudRateNo;
        settings.ScanBaudRate = BaudRateTable[DefaultBaudRateNo];
    }
    SerialDevice port;
    SystemClock clock;
    FixedPortMap map;
    Link link;
    Settings settings;
    MemorySettingsStore store;
    RecordingView view;
    ModuleContext ctx;
};

void verifyEndedInFailure(const RealRig &rig)
{
    QVERIFY(!rig.link.isOpen());
    QVERIFY(!rig.port.isOpen());
    QCOMPARE(rig.view.lamp, LampColour::Red);
    QVERIFY(!rig.view.beeps.empty());
    QVERIFY(rig.view.beeps.back() ==
            std::make_pair(FailureTone.frequencyHz, FailureTone.durationMs));
    QVERIFY(!rig.view.busy);
    QVERIFY(rig.view.windowEnabled);
    QVERIFY(!rig.view.waitCursor);
    QVERIFY(!rig.ctx.ProcessActive);
    for (const auto &[control, enabled] : rig.view.enabled)
        QVERIFY2(enabled, std::string(controlName(control)).c_str());
}

// Process mode, stopped by a click at the given pump should it still run then.
ProcessOutcome runProcess(RealRig &rig, int cancelAt, std::function<void(int)> atPump = {})
{
    rig.view.onProcessMessages = [&rig, cancelAt, atPump](int pump) {
        if (atPump)
            atPump(pump);
        if (pump == cancelAt)
            RunProcessMode(rig.ctx);
    };
    const ProcessOutcome outcome = RunProcessMode(rig.ctx);
    rig.view.onProcessMessages = nullptr;
    return outcome;
}

void addFaultRows()
{
    QTest::addColumn<QStringList>("fault");
    QTest::newRow("silent") << QStringList{"--fault-silent"};
    QTest::newRow("wrong check") << QStringList{"--fault-wrong-check"};
    QTest::newRow("lower-case check") << QStringList{"--fault-lowercase"};
    QTest::newRow("one byte longer") << QStringList{"--fault-length", "1"};
    QTest::newRow("one byte shorter") << QStringList{"--fault-length", "-1"};
    QTest::newRow("leading garbage") << QStringList{"--fault-garbage"};
    // Late enough that no stale reply lands in a later attempt's window.
    QTest::newRow("delayed") << QStringList{"--fault-delay", "2000"};
    QTest::newRow("flood") << QStringList{"--fault-flood", "1500"};
    QTest::newRow("endless") << QStringList{"--fault-endless"};
    QTest::newRow("every second dropped") << QStringList{"--fault-drop-every", "2"};
}

} // namespace

class TestRealLine : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString linkPath() const { return m_dir.filePath(QStringLiteral("ttyQMR")); }

    // A settings file that gives qmrctl COM3 on the emulator and no other port.
    QString writeConfig()
    {
        const QString path = m_dir.filePath(QStringLiteral("qmrctl.conf"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return {};
        QByteArray text = "[QMRConfig]\nScanCommNo=3\nScanBaudRate=19200,e,8,1\n"
                          "ScanBaudRateNo=5\n[Ports]\n";
        for (int com = 1; com <= 16; ++com)
            text += "COM" + QByteArray::number(com) + "=" +
                    (com == 3 ? QFile::encodeName(linkPath()) : QByteArray()) + "\n";
        file.write(text);
        return path;
    }

private slots:
    void scanOverFaultyLine_data() { addFaultRows(); }
    void scanOverFaultyLine();
    void processModeLosesReplies();
    void moduleKilledDuringProcessMode();
    void portHeldByAnotherProgram();
    void qmrctlOverFaultyLine_data() { addFaultRows(); }
    void qmrctlOverFaultyLine();
    void qmrctlWhenModuleIsGone();
};

void TestRealLine::scanOverFaultyLine()
{
    QFETCH(QStringList, fault);
    Sim sim;
    QVERIFY(sim.start(linkPath(), fault));
    RealRig rig(linkPath());
    QVERIFY(!RunScan(rig.ctx).ok());
    QVERIFY(!rig.ctx.ScanOk);
    QVERIFY2(rig.view.message == rig.view.text(TextRow::ModuleNotFind) ||
                 rig.view.message.starts_with(rig.view.text(TextRow::GetModuleInfoError)),
             rig.view.message.c_str());
    verifyEndedInFailure(rig);
}

void TestRealLine::processModeLosesReplies()
{
    // The scan takes four replies; the fifth, the first poll's, is dropped.
    Sim sim;
    QVERIFY(sim.start(linkPath(), {"--fault-drop-every", "5"}));
    RealRig rig(linkPath());
    QCOMPARE(RunScan(rig.ctx).outcome, ScanOutcome::Ok);
    rig.view.clearRecords();
    QCOMPARE(runProcess(rig, 100000), ProcessOutcome::Failed);
    verifyEndedInFailure(rig);
    QVERIFY2(rig.view.caption == rig.view.text(TextRow::ProcessModule), rig.view.caption.c_str());
}

void TestRealLine::moduleKilledDuringProcessMode()
{
    auto sim = std::make_unique<Sim>();
    QVERIFY(sim->start(linkPath()));
    RealRig rig(linkPath());
    QCOMPARE(RunScan(rig.ctx).outcome, ScanOutcome::Ok);
    rig.view.clearRecords();

    // A few cycles in, the module's end of the line disappears.
    bool killed = false;
    const ProcessOutcome outcome = runProcess(rig, 1000000, [&](int pump) {
        if (pump == 120 && !killed) {
            killed = true;
            sim->kill();
        }
    });
    QVERIFY(killed);
    QCOMPARE(outcome, ProcessOutcome::Failed);
    QVERIFY(!rig.view.reader1.empty()); // it did poll before the line went
    verifyEndedInFailure(rig);

    // With the module gone the next scan fails cleanly ...
    rig.view.clearRecords();
    QVERIFY(!RunScan(rig.ctx).ok());
    verifyEndedInFailure(rig);

    // ... and once it is back on the same path the program finds it and polls again.
    sim = std::make_unique<Sim>();
    QVERIFY(sim->start(linkPath()));
    rig.view.clearRecords();
    QCOMPARE(RunScan(rig.ctx).outcome, ScanOutcome::Ok);
    QVERIFY(rig.ctx.ScanOk);
    QCOMPARE(runProcess(rig, 200), ProcessOutcome::UserStop);
    QCOMPARE(rig.view.lamp, LampColour::Yellow);
    QVERIFY(!rig.link.isOpen());
}

void TestRealLine::portHeldByAnotherProgram()
{
    Sim sim;
    QVERIFY(sim.start(linkPath()));
    RealRig rig(linkPath());
    QCOMPARE(RunScan(rig.ctx).outcome, ScanOutcome::Ok);

    // Another copy of the program holds the device through its own backend.
    {
        SerialDevice other;
        QVERIFY(other.open(QFile::encodeName(linkPath()).toStdString()));
        rig.view.clearRecords();
        QCOMPARE(RunProcessMode(rig.ctx), ProcessOutcome::OpenFailed);
        QCOMPARE(rig.link.lastOpenError(), PortError::Busy);
        QVERIFY2(rig.view.detail.starts_with("COM3"), rig.view.detail.c_str());
        QVERIFY2(contains(rig.view.detail, "in use by another program"), rig.view.detail.c_str());
        verifyEndedInFailure(rig);

        rig.view.clearRecords();
        QCOMPARE(RunSetModuleMode(rig.ctx), SettingOutcome::Error);
        QVERIFY2(rig.view.message == rig.view.text(TextRow::SetModuleModeError),
                 rig.view.message.c_str());
        QVERIFY2(contains(rig.view.detail, "in use"), rig.view.detail.c_str());
        verifyEndedInFailure(rig);
    }

    // A program that only flock()s the device keeps it just as well.
    const int fd = ::open(QFile::encodeName(linkPath()).constData(), O_RDWR | O_NOCTTY);
    QVERIFY(fd >= 0);
    QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    rig.view.clearRecords();
    QCOMPARE(RunScan(rig.ctx).outcome, ScanOutcome::NotFound);
    QVERIFY2(contains(rig.view.detail, "in use"), rig.view.detail.c_str());
    verifyEndedInFailure(rig);
    ::close(fd);

    // Given back, the port works again.
    rig.view.clearRecords();
    QCOMPARE(RunScan(rig.ctx).outcome, ScanOutcome::Ok);
}

void TestRealLine::qmrctlOverFaultyLine()
{
    QFETCH(QStringList, fault);
    Sim sim;
    QVERIFY(sim.start(linkPath(), fault));
    const QString config = writeConfig();
    QVERIFY(!config.isEmpty());
    QProcess ctl;
    ctl.start(QStringLiteral(QMRCTL_PATH), {"--config", config, "scan"});
    QVERIFY(ctl.waitForFinished(60000));
    QCOMPARE(ctl.exitStatus(), QProcess::NormalExit);
    QCOMPARE(ctl.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(ctl.readAllStandardError());
    QVERIFY2(err.contains(QLatin1String("Module Not Find")) ||
                 err.contains(QLatin1String("Get Module Info Error")),
             qPrintable(err));
    QVERIFY2(!QString::fromLocal8Bit(ctl.readAllStandardOutput()).contains("Ok"),
             "a faulty line was reported as success");
}

void TestRealLine::qmrctlWhenModuleIsGone()
{
    // qmrctl polls; the module dies under it: the poll ends as a failure, not a hang.
    Sim sim;
    QVERIFY(sim.start(linkPath()));
    const QString config = writeConfig();
    QProcess ctl;
    ctl.start(QStringLiteral(QMRCTL_PATH), {"--config", config, "poll"});
    QVERIFY(ctl.waitForStarted(5000));
    QTest::qWait(1500);
    QCOMPARE(ctl.state(), QProcess::Running);
    sim.kill();
    QVERIFY(ctl.waitForFinished(20000));
    QCOMPARE(ctl.exitStatus(), QProcess::NormalExit);
    QCOMPARE(ctl.exitCode(), 1);

    // Back again, a new qmrctl finds it on the same path.
    Sim again;
    QVERIFY(again.start(linkPath()));
    QProcess scan;
    scan.start(QStringLiteral(QMRCTL_PATH), {"--config", config, "scan"});
    QVERIFY(scan.waitForFinished(60000));
    QCOMPARE(scan.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestRealLine)
#include "tst_realline.moc"
