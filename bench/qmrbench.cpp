// qmrbench: measures the module link and the operations against qmrsim on a pseudo-terminal
// with the real clock, and prints each figure as a ratio to what the exchange prescribes.
//
//   build/bench/qmrbench [path/to/qmrsim]
//
// Run it by hand on an otherwise quiet machine; it takes about half a minute.

#include "link/eventwait.h"
#include "link/linedefinition.h"
#include "link/link.h"
#include "link/portmap.h"
#include "link/qtserialportbackend.h"
#include "link/systemclock.h"
#include "operations/modulecontext.h"
#include "operations/processmode.h"
#include "operations/scan.h"
#include "settings/memorysettingsstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <time.h>
#include <vector>

using namespace qmr;

namespace {

qint64 nowUs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// CPU time (user + system) of this process in microseconds.
qint64 cpuUs()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return (qint64(ru.ru_utime.tv_sec) + ru.ru_stime.tv_sec) * 1000000 + ru.ru_utime.tv_usec +
           ru.ru_stime.tv_usec;
}

struct Stats
{
    double mean = 0, min = 0, max = 0, median = 0;
};

Stats stats(std::vector<double> v)
{
    Stats s;
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    double sum = 0;
    for (double x : v)
        sum += x;
    s.mean = sum / double(v.size());
    s.min = v.front();
    s.max = v.back();
    s.median = v[v.size() / 2];
    return s;
}

void row(const char *what, double measured, const char *unit, double reference, const char *target)
{
    std::printf("%-34s %10.3f %-3s  ref %8.3f  ratio %6.3f  (target %s)\n", what, measured, unit,
                reference, reference > 0 ? measured / reference : 0.0, target);
}

// The emulator as a child process on a pseudo-terminal linked at dir/ttyQMR.
class Emulator
{
public:
    Emulator(const QString &program, const QString &dir, const QStringList &args)
        : m_link(dir + QStringLiteral("/ttyQMR")), m_log(dir + QStringLiteral("/qmrsim.log"))
    {
        QFile::remove(m_log);
        m_process.setProgram(program);
        m_process.setArguments(
            QStringList{QStringLiteral("--link"), m_link, QStringLiteral("--log"), m_log} + args);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        for (int i = 0; i < 100 && !QFileInfo::exists(m_link); ++i)
            QThread::msleep(20);
        if (!QFileInfo::exists(m_link)) {
            std::fprintf(stderr, "qmrbench: the emulator did not start (%s)\n",
                         qPrintable(program));
            std::exit(1);
        }
    }
    ~Emulator()
    {
        m_process.terminate();
        m_process.waitForFinished(2000);
    }
    QString link() const { return m_link; }
    // Monotonic microsecond stamps of every reply the emulator sent.
    std::vector<qint64> replyStamps() const
    {
        std::vector<qint64> out;
        QFile f(m_log);
        if (!f.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray &line : f.readAll().split('\n')) {
            const QList<QByteArray> cols = line.split('\t');
            if (cols.size() > 1 && cols[1] == "tx")
                out.push_back(cols[0].toLongLong());
        }
        return out;
    }

private:
    QString m_link;
    QString m_log;
    QProcess m_process;
};

// A front end that shows nothing; the benchmark only needs the operations to run.
class BenchView : public ModuleView
{
public:
    std::function<void()> onPump;
    std::function<void()> onData;
    bool lock = true;

    QString text(TextRow) const override { return {}; }
    void setMessage(const QString &) override {}
    void setMessageDetail(const QString &) override {}
    void setSerialText(const QString &) override {}
    void setVersionText(const QString &) override {}
    QString id1Text() const override { return m_id1; }
    void setId1Text(const QString &t) override { m_id1 = t; }
    QString id2Text() const override { return m_id2; }
    void setId2Text(const QString &t) override { m_id2 = t; }
    int id1Position() const override { return m_pos1; }
    void setId1Position(int p) override { setPosition(m_pos1, m_id1, p); }
    int id2Position() const override { return m_pos2; }
    void setId2Position(int p) override { setPosition(m_pos2, m_id2, p); }
    int baudRateIndex() const override { return m_baud; }
    void selectBaudRate(int i) override { m_baud = i; }
    int modeIndex() const override { return m_mode; }
    void selectMode(int i) override { m_mode = i; }
    int rs485Index() const override { return m_rs; }
    void selectRs485(int i) override { m_rs = i; }
    bool lockChecked() const override { return lock; }
    void setReader1Data(const QString &) override { data(); }
    void setReader2Data(const QString &) override { data(); }
    QString processCaption() const override { return m_caption; }
    void setProcessCaption(const QString &t) override { m_caption = t; }
    void setControlEnabled(Control, bool) override {}
    void setLamp(LampColour) override {}
    void beep(int, int) override {}
    void setBusy(bool) override {}
    void setWindowEnabled(bool) override {}
    void setWaitCursor(bool) override {}
    void processMessages() override
    {
        QCoreApplication::processEvents();
        if (onPump)
            onPump();
    }
    void showError(const QString &t) override
    {
        std::fprintf(stderr, "qmrbench: %s\n", qPrintable(t));
    }

private:
    static void setPosition(int &pos, QString &text, int p)
    {
        p = std::clamp(p, 1, 99);
        if (p != pos) {
            pos = p;
            text = QString::asprintf("%02d", p);
        }
    }
    void data()
    {
        if (onData)
            onData();
    }
    QString m_id1 = QStringLiteral("__"), m_id2 = QStringLiteral("__");
    QString m_caption = QStringLiteral("Process Module");
    int m_pos1 = 1, m_pos2 = 1, m_baud = 5, m_mode = 0, m_rs = 1;
};

void benchLink(const QString &sim, const QString &dir)
{
    Emulator emu(sim, dir, {});
    SystemClock clock;
    QtSerialPortBackend port;
    FixedPortMap map({{1, emu.link()}});
    Link link(port, clock, map);
    link.setMessagePump([] { QCoreApplication::processEvents(); });
    link.setIdleWait(processEventsOrWait);
    if (!link.ComOpen(1, "19200,e,8,1")) {
        std::fprintf(stderr, "qmrbench: cannot open %s\n", qPrintable(emu.link()));
        std::exit(1);
    }

    // Frame send time: the writes of one frame, paced as the exchange prescribes.
    const QByteArray silent = "A99Z"; // an address no reader has: the module stays silent
    const QByteArray f = Link::frame(silent);
    std::vector<double> sendMs;
    for (int i = 0; i < 40; ++i) {
        const qint64 t0 = nowUs();
        link.ComWriteByte(quint8(f[0]));
        link.ComWriteText(f.constData() + 1, int(silent.size()));
        link.ComWriteByte(quint8(f[f.size() - 3]));
        link.ComWriteByte(quint8(f[f.size() - 2]));
        link.ComWriteByte(quint8(f[f.size() - 1]));
        sendMs.push_back(double(nowUs() - t0) / 1000.0);
    }
    const Stats send = stats(sendMs);

    // Reply window on silence, and the CPU it costs.
    std::vector<double> windowMs;
    const qint64 cpu0 = cpuUs();
    const qint64 wall0 = nowUs();
    for (int i = 0; i < 20; ++i) {
        const qint64 t0 = nowUs();
        link.SendCommand(silent);
        windowMs.push_back(double(nowUs() - t0) / 1000.0 - send.mean);
    }
    const double waitCpu = double(cpuUs() - cpu0) / double(nowUs() - wall0);
    const Stats window = stats(windowMs);

    link.ComClose();

    // Reply latency: from the emulator handing the reply to the line to SendCommand's return.
    // The replies come 20 ms after the command, so no pause of the sender hides in the figure.
    QDir(dir).mkpath(QStringLiteral("late"));
    Emulator late(sim, dir + QStringLiteral("/late"),
                  {QStringLiteral("--fault-delay"), QStringLiteral("20")});
    FixedPortMap lateMap({{1, late.link()}});
    Link lateLink(port, clock, lateMap);
    lateLink.setMessagePump([] { QCoreApplication::processEvents(); });
    lateLink.setIdleWait(processEventsOrWait);
    std::vector<qint64> returned;
    if (lateLink.ComOpen(1, "19200,e,8,1")) {
        for (int i = 0; i < 40; ++i) {
            if (lateLink.SendCommand("A00M"))
                returned.push_back(nowUs());
        }
        lateLink.ComClose();
    }
    std::vector<qint64> sent = late.replyStamps();
    std::vector<double> latencyMs;
    for (size_t i = 0; i < returned.size() && i < sent.size(); ++i)
        latencyMs.push_back(double(returned[i] - sent[sent.size() - returned.size() + i]) / 1000.0);
    const Stats latency = stats(latencyMs);

    std::printf("Link (40 frames, 20 silent windows, %zu replies)\n", latencyMs.size());
    row("frame send time, mean", send.mean, "ms", 9.0, "<= 1.06");
    row("frame send time, max", send.max, "ms", 9.0, "");
    row("reply window on silence, mean", window.mean, "ms", 120.0, "<= 1.02");
    row("reply window on silence, max", window.max, "ms", 120.0, "");
    std::printf("%-34s %10.3f ms   (target < 1 ms; max %.3f ms)\n", "reply latency, median",
                latency.median, latency.max);
    std::printf("%-34s %10.2f %%    (target <= 2 %% of one core)\n", "CPU while waiting",
                waitCpu * 100.0);
}

void benchOperations(const QString &sim, const QString &dir)
{
    // The module answers at index 8 on COM1: an unlocked sweep tries indexes 0..7 first (a
    // pseudo-terminal carries no parity, so the definition must be one with none).
    Emulator emu(sim, dir, {QStringLiteral("--line"), QStringLiteral("57600,n,8,1")});
    SystemClock clock;
    QtSerialPortBackend port;
    FixedPortMap map({{1, emu.link()}});
    Link link(port, clock, map);
    Settings settings;
    MemorySettingsStore store;
    BenchView view;
    view.lock = false;
    ModuleContext ctx{link, clock, settings, store, view};
    link.setMessagePump([&] { view.processMessages(); });
    link.setIdleWait(processEventsOrWait);

    const qint64 cpu0 = cpuUs();
    const qint64 t0 = nowUs();
    const ScanOutcome outcome = RunScan(ctx);
    const double scanMs = double(nowUs() - t0) / 1000.0;
    const double scanCpu = double(cpuUs() - cpu0) / 1000.0;
    if (outcome != ScanOutcome::Ok) {
        std::fprintf(stderr, "qmrbench: the scan did not find the emulator\n");
        return;
    }
    // The prescribed waits of the candidates tried: 8 silent candidates with 2 attempts of a
    // 9 ms send and a 120 ms window each, the hit's send, then A00V, A00A and A00N (a 9 ms
    // send each) and the three 100 ms pauses of the information read.
    const double scanFloor = 8 * 2 * (9.0 + 120.0) + 9.0 + 3 * 9.0 + 3 * 100.0;

    std::printf("\nScan (unlocked sweep, module at COM1 index 8)\n");
    row("scan wall time", scanMs, "ms", scanFloor, "<= 1.02");
    std::printf("%-34s %10.2f %%    (target <= 2 %% of one core)\n", "scan CPU",
                100.0 * scanCpu / scanMs);

    // Process mode: two readers, stopped by a nested click after 60 polls.
    int polls = 0;
    qint64 pollStart = 0;
    qint64 pollEnd = 0;
    const int wanted = 60;
    view.onData = [&] {
        if (polls == 0)
            pollStart = nowUs();
        if (++polls == wanted)
            pollEnd = nowUs();
    };
    view.onPump = [&] {
        if (polls >= wanted && ctx.ProcessActive)
            RunProcessMode(ctx); // the cancelling click
    };
    const qint64 pcpu0 = cpuUs();
    const qint64 pwall0 = nowUs();
    RunProcessMode(ctx);
    const double processCpu = double(cpuUs() - pcpu0) / double(nowUs() - pwall0);
    if (polls < wanted) {
        std::fprintf(stderr, "qmrbench: process mode stopped after %d polls\n", polls);
        return;
    }
    const double perPollMs = double(pollEnd - pollStart) / 1000.0 / double(wanted - 1);
    const double floorPerPoll = 20 * 2.0 + 9.0; // the pause before each poll and its send
    std::printf("\nProcess mode (two readers, %d polls)\n", wanted);
    std::printf("%-34s %10.3f /s   ref %8.3f  ratio %6.3f  (target >= 0.97)\n", "polls per second",
                1000.0 / perPollMs, 1000.0 / floorPerPoll, floorPerPoll / perPollMs);
    std::printf("%-34s %10.2f %%\n", "process mode CPU", processCpu * 100.0);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString sim =
        argc > 1 ? QString::fromLocal8Bit(argv[1])
                 : QCoreApplication::applicationDirPath() + QStringLiteral("/../src/sim/qmrsim");
    QTemporaryDir dir;
    benchLink(sim, dir.path());
    benchOperations(sim, dir.path());
    return 0;
}
