// qmrbench: measures the module link and the operations against qmrsim on a pseudo-terminal
// with the real clock, and prints each figure as a ratio to what the link and the operations
// prescribe (their own timing constants, so the references follow the code).
//
//   build/bench/qmrbench [path/to/qmrsim]
//
// Run it by hand on an otherwise quiet machine; it takes about twenty seconds. With ser2net
// installed it then runs the link and the operations again with the emulator behind ser2net
// on localhost (RFC 2217) and prints the network figures as ratios of the local ones.

#include "link/commands.h"
#include "link/linedefinition.h"
#include "link/link.h"
#include "link/networkport.h"
#include "link/portmap.h"
#include "operations/modulecontext.h"
#include "operations/processmode.h"
#include "operations/scan.h"
#include "platform/unix/eventwait.h"
#include "platform/unix/serialdevice.h"
#include "platform/unix/systemclock.h"
#include "platform/unix/systemport.h"
#include "platform/unix/tcpsocket.h"
#include "settings/settingsstore.h"
#include "vocabulary/decimal.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <thread>
#include <time.h>
#include <vector>

using namespace qmr;

namespace {

// The timebase of qmrsim's log: CLOCK_MONOTONIC microseconds.
std::int64_t nowUs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

// CPU time (user + system) of this process in microseconds.
std::int64_t cpuUs()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return (std::int64_t(ru.ru_utime.tv_sec) + ru.ru_stime.tv_sec) * 1'000'000 +
           ru.ru_utime.tv_usec + ru.ru_stime.tv_usec;
}

struct Stats
{
    double mean = 0, min = 0, max = 0, median = 0, p90 = 0, p99 = 0;
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
    s.p90 = v[v.size() * 9 / 10];
    s.p99 = v[v.size() * 99 / 100];
    return s;
}

void row(const char *what, double measured, const char *unit, double reference, const char *target)
{
    std::printf("%-34s %10.3f %-3s  ref %8.3f  ratio %6.3f  (target %s)\n", what, measured, unit,
                reference, reference > 0 ? measured / reference : 0.0, target);
}

// Ends the run; thrown, so the emulators started so far are stopped on the way out.
[[noreturn]] void fail(const std::string &text)
{
    throw std::runtime_error(text);
}

// One line of qmrsim's log: "<monotonic us>\t<rx|tx>\t<hex>\t<text>[\t<note>]".
struct LogLine
{
    std::int64_t us = 0;
    std::string direction;
    std::string text;
    std::string note;
};

std::vector<std::string> splitTabs(const std::string &line)
{
    std::vector<std::string> cols;
    std::size_t from = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', from);
        cols.push_back(
            line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
        if (tab == std::string::npos)
            return cols;
        from = tab + 1;
    }
}

// The emulator as a child process on a pseudo-terminal linked at dir/ttyQMR, logging every
// frame it hears and every reply it sends with the time it saw or sent it.
class Emulator
{
public:
    Emulator(const std::string &program, const std::filesystem::path &dir, const QStringList &args)
        : m_link(dir / "ttyQMR"), m_log(dir / "qmrsim.log")
    {
        std::filesystem::create_directories(dir);
        std::filesystem::remove(m_log);
        m_process.setProgram(QString::fromStdString(program));
        m_process.setArguments(
            QStringList{QStringLiteral("--link"), QString::fromStdString(m_link.string()),
                        QStringLiteral("--log"), QString::fromStdString(m_log.string())} +
            args);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        for (int i = 0; i < 100 && !std::filesystem::exists(m_link); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (!std::filesystem::exists(m_link))
            fail("the emulator did not start (" + program + ")");
    }
    ~Emulator()
    {
        m_process.terminate();
        m_process.waitForFinished(2000);
    }
    Emulator(const Emulator &) = delete;
    Emulator &operator=(const Emulator &) = delete;

    std::string link() const { return m_link.string(); }

    std::vector<LogLine> log() const
    {
        std::vector<LogLine> out;
        std::ifstream in(m_log);
        std::string line;
        while (std::getline(in, line)) {
            const std::vector<std::string> cols = splitTabs(line);
            if (cols.size() < 4)
                continue;
            const auto us = parseDecimal(cols[0], 0, INT64_MAX);
            if (!us)
                continue;
            out.push_back({*us, cols[1], cols[3], cols.size() > 4 ? cols[4] : std::string()});
        }
        return out;
    }
    // When the emulator handed each reply to the line.
    std::vector<std::int64_t> replyStamps() const
    {
        std::vector<std::int64_t> out;
        for (const LogLine &l : log())
            if (l.direction == "tx")
                out.push_back(l.us);
        return out;
    }
    // When the end byte of each accepted command with this text reached the emulator.
    std::vector<std::int64_t> commandStamps(const std::vector<std::string> &texts) const
    {
        std::vector<std::int64_t> out;
        for (const LogLine &l : log()) {
            if (l.direction == "rx" && l.note.ends_with("accepted") &&
                std::find(texts.begin(), texts.end(), l.text) != texts.end())
                out.push_back(l.us);
        }
        return out;
    }

private:
    std::filesystem::path m_link;
    std::filesystem::path m_log;
    QProcess m_process;
};

// Times every command the link sends: from the call to the Sent event (the paced writes of
// the frame), and from there to the reply or the end of the window.
class FrameTimer
{
public:
    explicit FrameTimer(Link &link)
    {
        link.setFrameObserver([this](FrameEvent event, std::string_view) {
            const std::int64_t now = nowUs();
            if (event == FrameEvent::Sent) {
                m_sent = now;
                sent.push_back(now);
                sendMs.push_back(double(now - m_called) / 1000.0);
                return;
            }
            const double waited = double(now - m_sent) / 1000.0;
            if (event == FrameEvent::NoReply)
                silentWindowMs.push_back(waited);
            if (event == FrameEvent::Received)
                received.push_back(now);
        });
    }
    // Call right before SendCommand.
    void calling() { m_called = nowUs(); }

    std::vector<double> sendMs;
    std::vector<double> silentWindowMs;
    std::vector<std::int64_t> sent;     // when each frame's last write and pause ended
    std::vector<std::int64_t> received; // when each good reply was taken

private:
    std::int64_t m_called = 0;
    std::int64_t m_sent = 0;
};

// A front end that shows nothing; the benchmark only needs the operations to run. Its
// message processing is the window's: pending Qt events run.
class BenchView : public ModuleView
{
public:
    std::function<void()> onPump;
    std::function<void()> onData;
    bool lock = true;

    std::string text(TextRow) const override { return {}; }
    void setMessage(const std::string &) override {}
    void setMessageDetail(const std::string &) override {}
    void setSerialText(const std::string &) override {}
    void setVersionText(const std::string &) override {}
    std::string id1Text() const override { return m_id1; }
    void setId1Text(const std::string &t) override { m_id1 = t; }
    std::string id2Text() const override { return m_id2; }
    void setId2Text(const std::string &t) override { m_id2 = t; }
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
    void setReader1Data(const std::string &) override { data(); }
    void setReader2Data(const std::string &) override { data(); }
    std::string processCaption() const override { return m_caption; }
    void setProcessCaption(const std::string &t) override { m_caption = t; }
    void setControlEnabled(Control, bool) override {}
    void setLamp(LampColour) override {}
    void beep(int, int) override {}
    void SetBusy(bool) override {}
    void setWindowEnabled(bool) override {}
    void setWaitCursor(bool) override {}
    void processMessages() override
    {
        QCoreApplication::processEvents();
        if (onPump)
            onPump();
    }
    void showError(const std::string &t) override
    {
        std::fprintf(stderr, "qmrbench: %s\n", t.c_str());
    }

private:
    static void setPosition(int &pos, std::string &text, int p)
    {
        p = std::clamp(p, 1, 99);
        if (p != pos) {
            pos = p;
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "%02d", p);
            text = buffer;
        }
    }
    void data()
    {
        if (onData)
            onData();
    }
    std::string m_id1 = "__", m_id2 = "__";
    std::string m_caption = "Process Module";
    int m_pos1 = 1, m_pos2 = 1, m_baud = DefaultBaudRateNo, m_mode = 0, m_rs = 1;
};

// Remembers nothing: the benchmark must not touch the user's settings.
class NullStore : public SettingsStore
{
public:
    bool beginLoad() override { return false; }
    ReadResult readInt(std::string_view, std::int32_t &) override { return ReadResult::Missing; }
    ReadResult readText(std::string_view, std::string &) override { return ReadResult::Missing; }
    void write(const std::vector<NamedValue> &) override {}
};

void useEventLoop(Link &link, const DispatchingPort &port)
{
    // As the window does (a network port's bytes raise no event: its waits stay short).
    link.setMessagePump([] { QCoreApplication::processEvents(); });
    link.setIdleWait(
        [&port](std::uint32_t maxMs) { processEventsOrWait(port.network() ? 1 : maxMs); });
}

// ser2net serving one emulator's pseudo-terminal over RFC 2217 on a free localhost port.
class Server
{
public:
    Server(const std::filesystem::path &dir, const std::string &device)
    {
        const std::filesystem::path config = dir / "ser2net.yaml";
        for (int attempt = 0; attempt < 20 && m_url.empty(); ++attempt) {
            const int port = 20000 + int(std::random_device()() % 40000);
            std::ofstream(config)
                << "connection: &bench\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << port
                << "\n  connector: serialdev," << device
                << ",19200e81,local\n  options:\n    chardelay: false\n";
            m_process.start(QStringLiteral("ser2net"),
                            {QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("-c"),
                             QString::fromStdString(config.string())});
            if (!m_process.waitForStarted(2000))
                fail("ser2net does not start (is it installed?)");
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            if (m_process.state() == QProcess::Running)
                m_url = "rfc2217://127.0.0.1:" + std::to_string(port);
        }
        if (m_url.empty())
            fail("ser2net found no free port");
    }
    ~Server()
    {
        m_process.terminate();
        m_process.waitForFinished(2000);
    }
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;
    const std::string &url() const { return m_url; }

private:
    QProcess m_process;
    std::string m_url;
};

// The figures compared between the local pseudo-terminal and the network port.
struct Figures
{
    double frameMs = 0;
    double windowMs = 0;
    double latencyMs = 0;
    double scanMs = 0;
    double pollsPerSecond = 0;
};

// The emulator's device as the link names it: its pseudo-terminal, or ser2net's port for it.
struct Device
{
    Device(const Emulator &emu, const std::filesystem::path &dir, bool network)
    {
        if (network)
            server.emplace(dir, emu.link());
        name = network ? server->url() : emu.link();
    }
    std::optional<Server> server;
    std::string name;
};

// The clock's 2 ms sleep, and the whole pause between two polls: how late each ends and
// what it costs.
void benchPause()
{
    SystemClock clock;
    constexpr int Count = 500;
    std::vector<double> overshootUs;
    const std::int64_t cpu0 = cpuUs();
    const std::int64_t wall0 = nowUs();
    for (int i = 0; i < Count; ++i) {
        const std::int64_t t0 = nowUs();
        clock.sleep(PollPauseSliceMs);
        overshootUs.push_back(double(nowUs() - t0 - PollPauseSliceMs * 1000));
    }
    const double cpu = double(cpuUs() - cpu0) / double(nowUs() - wall0);
    const Stats late = stats(overshootUs);
    std::printf("Clock (%d pauses of %d ms)\n", Count, PollPauseSliceMs);
    std::printf("%-34s %10.1f us   (median %.1f, 99 %% %.1f, max %.1f)\n", "pause overshoot, mean",
                late.mean, late.median, late.p99, late.max);
    std::printf("%-34s %10.2f %%\n", "CPU while pausing", cpu * 100.0);

    constexpr int Pauses = 50;
    BenchView view;
    std::vector<double> pauseLateUs;
    for (int i = 0; i < Pauses; ++i) {
        const std::int64_t t0 = nowUs();
        PollPause(clock, view);
        pauseLateUs.push_back(double(nowUs() - t0 - PollPauseSlices * PollPauseSliceMs * 1000));
    }
    const Stats pause = stats(pauseLateUs);
    std::printf("%-34s %10.1f us   (median %.1f, max %.1f; %d pauses)\n",
                "pause between polls, late by", pause.mean, pause.median, pause.max, Pauses);
}

void benchLink(const std::string &sim, const std::filesystem::path &dir, bool network,
               Figures &figures)
{
    // An address no reader has: the module stays silent and the whole window runs.
    const std::string silent = "A99Z";
    constexpr int SilentCommands = 30;
    std::vector<double> sendMs;
    std::vector<double> windowMs;
    double waitCpu = 0;
    {
        Emulator emu(sim, dir / "silent", {});
        const Device device(emu, dir / "silent", network);
        SystemClock clock;
        const auto port = makeSystemPort(clock);
        FixedPortMap map({{1, device.name}});
        Link link(*port, clock, map);
        useEventLoop(link, *port);
        FrameTimer timer(link);
        if (!link.ComOpen(1, BaudRateTable[DefaultBaudRateNo]))
            fail("cannot open " + emu.link());
        const std::int64_t cpu0 = cpuUs();
        const std::int64_t wall0 = nowUs();
        for (int i = 0; i < SilentCommands; ++i) {
            timer.calling();
            link.SendCommand(silent);
        }
        waitCpu = double(cpuUs() - cpu0) / double(nowUs() - wall0);
        link.ComClose();
        sendMs = timer.sendMs;
        windowMs = timer.silentWindowMs;
    }

    // Reply latency: from the emulator handing the reply to the line to the link taking it.
    // The replies come well after the frame's last pause, so no pause of the sender hides
    // in the figure.
    constexpr int LateReplyMs = int(Link::ReplyWindowMs) / 6;
    constexpr int LateCommands = 40;
    std::vector<double> latencyMs;
    {
        Emulator late(sim, dir / "late",
                      {QStringLiteral("--fault-delay"), QString::number(LateReplyMs)});
        const Device device(late, dir / "late", network);
        SystemClock clock;
        const auto port = makeSystemPort(clock);
        FixedPortMap map({{1, device.name}});
        Link link(*port, clock, map);
        useEventLoop(link, *port);
        FrameTimer timer(link);
        if (!link.ComOpen(1, BaudRateTable[DefaultBaudRateNo]))
            fail("cannot open " + late.link());
        for (int i = 0; i < LateCommands; ++i) {
            timer.calling();
            link.SendCommand(Command::readFirstReader());
        }
        link.ComClose();
        sendMs.insert(sendMs.end(), timer.sendMs.begin(), timer.sendMs.end());
        const std::vector<std::int64_t> sent = late.replyStamps();
        // Every reply was taken when the counts match; otherwise pair them from the end.
        const std::vector<std::int64_t> &taken = timer.received;
        const std::size_t n = std::min(taken.size(), sent.size());
        for (std::size_t i = 0; i < n; ++i)
            latencyMs.push_back(double(taken[taken.size() - n + i] - sent[sent.size() - n + i]) /
                                1000.0);
    }

    const Stats send = stats(sendMs);
    const Stats window = stats(windowMs);
    const Stats latency = stats(latencyMs);
    std::printf("\nLink (%zu frames, %zu silent windows, %zu replies)\n", sendMs.size(),
                windowMs.size(), latencyMs.size());
    row("frame send time, mean", send.mean, "ms", Link::FramePauseMs, "<= 1.06");
    row("frame send time, max", send.max, "ms", Link::FramePauseMs, "");
    row("reply window on silence, mean", window.mean, "ms", Link::ReplyWindowMs, "<= 1.02");
    row("reply window on silence, max", window.max, "ms", Link::ReplyWindowMs, "");
    std::printf("%-34s %10.3f ms   (target < 1 ms; max %.3f ms)\n", "reply latency, median",
                latency.median, latency.max);
    std::printf("%-34s %10.2f %%    (target <= 2 %% of one core)\n", "CPU while waiting",
                waitCpu * 100.0);
    figures.frameMs = send.mean;
    figures.windowMs = window.mean;
    figures.latencyMs = latency.median;
}

void benchOperations(const std::string &sim, const std::filesystem::path &dir, bool network,
                     Figures &figures)
{
    // The module answers on COM1 at a definition without parity (a pseudo-terminal carries
    // none): an unlocked sweep tries every index below it first, each in silence.
    const char *moduleLine = "57600,n,8,1";
    const int moduleIndex = baudRateIndexOf(moduleLine);
    Emulator emu(sim, dir / "operations", {QStringLiteral("--line"), QLatin1String(moduleLine)});
    const Device device(emu, dir / "operations", network);
    SystemClock clock;
    const auto port = makeSystemPort(clock);
    FixedPortMap map({{1, device.name}});
    Link link(*port, clock, map);
    Settings settings;
    NullStore store;
    BenchView view;
    view.lock = false;
    ModuleContext ctx{link, clock, settings, store, view};
    useEventLoop(link, *port);

    const std::int64_t cpu0 = cpuUs();
    const std::int64_t t0 = nowUs();
    const ScanResult scan = RunScan(ctx);
    const double scanMs = double(nowUs() - t0) / 1000.0;
    const double scanCpu = double(cpuUs() - cpu0) / 1000.0;
    if (!scan.ok())
        fail("the scan did not find the emulator");
    // What the scan must wait in any case: every silent candidate's attempts (a frame's
    // pauses and a whole window each), the hit's frame, then the three reads of the module
    // information ("A00V", "A00A", "A00N"), each after its pause.
    constexpr int InfoReads = 3;
    const double scanFloor =
        moduleIndex * ScanSearchAttempts * double(Link::FramePauseMs + Link::ReplyWindowMs) +
        Link::FramePauseMs + InfoReads * double(Link::FramePauseMs + ScanInfoPauseMs);

    std::printf("\nScan (unlocked sweep, module at COM1 index %d)\n", moduleIndex);
    row("scan wall time", scanMs, "ms", scanFloor, "<= 1.02");
    std::printf("%-34s %10.2f %%    (target <= 2 %% of one core)\n", "scan CPU",
                100.0 * scanCpu / scanMs);

    // Process mode: two readers, stopped by a nested click once enough replies came. The
    // polls are timed where the module sees them: at the emulator, from its log. The log
    // stamps a frame when its end byte arrives; as every frame goes out with the same paced
    // writes, those stamps lie as far apart as the frames' first bytes.
    constexpr int Wanted = 200;
    int replies = 0;
    // The slices of the pause between two polls: from one message processing to the next.
    std::vector<double> sliceMs;
    std::int64_t lastPump = 0;
    view.onData = [&] {
        ++replies;
        lastPump = 0; // the next pump starts a pause
    };
    view.onPump = [&] {
        const std::int64_t now = nowUs();
        if (lastPump != 0)
            sliceMs.push_back(double(now - lastPump) / 1000.0);
        lastPump = now;
        if (replies >= Wanted && ctx.ProcessActive)
            RunProcessMode(ctx); // the cancelling click
    };
    const std::vector<std::string> polls = {Command::poll(view.id1Text()),
                                            Command::poll(view.id2Text())};
    const std::size_t before = emu.commandStamps(polls).size();
    const FrameTimer timer(link);
    const std::int64_t pcpu0 = cpuUs();
    const std::int64_t pwall0 = nowUs();
    RunProcessMode(ctx);
    const double processCpu = double(cpuUs() - pcpu0) / double(nowUs() - pwall0);
    std::vector<std::int64_t> heard = emu.commandStamps(polls);
    heard.erase(heard.begin(), heard.begin() + std::ptrdiff_t(std::min(before, heard.size())));
    if (replies < Wanted || heard.size() < 2)
        fail("process mode stopped after " + std::to_string(replies) + " polls");

    std::vector<double> gapMs;
    for (std::size_t i = 1; i < heard.size(); ++i)
        gapMs.push_back(double(heard[i] - heard[i - 1]) / 1000.0);
    const Stats gap = stats(gapMs);
    const double perPollMs = double(heard.back() - heard.front()) / 1000.0 / double(gapMs.size());
    // The pause before each poll and the poll's own frame.
    const double floorPerPoll = PollPauseSlices * PollPauseSliceMs + Link::FramePauseMs;
    std::printf("\nProcess mode (two readers, %zu polls as the module heard them)\n", heard.size());
    std::printf("%-34s %10.3f /s   ref %8.3f  ratio %6.3f  (target >= 0.98)\n", "polls per second",
                1000.0 / perPollMs, 1000.0 / floorPerPoll, floorPerPoll / perPollMs);
    std::printf("%-34s %10.3f ms   (closest %.3f, median %.3f, 90 %% %.3f, 99 %% %.3f, max %.3f)\n",
                "time between polls, mean", perPollMs, gap.min, gap.median, gap.p90, gap.p99,
                gap.max);
    // The same seen from this side, split where the link reports: the frame sent, its reply
    // taken. Shows whether time is lost in the reply or in the pause and the next frame.
    std::vector<double> sentGapMs;
    std::vector<double> replyMs;
    for (std::size_t i = 1; i < timer.sent.size(); ++i)
        sentGapMs.push_back(double(timer.sent[i] - timer.sent[i - 1]) / 1000.0);
    for (std::size_t i = 0; i < timer.sent.size() && i < timer.received.size(); ++i)
        replyMs.push_back(double(timer.received[i] - timer.sent[i]) / 1000.0);
    const Stats sentGap = stats(sentGapMs);
    const Stats reply = stats(replyMs);
    std::printf("%-34s %10.3f ms   (median %.3f, closest %.3f; reply taken %.3f ms after, "
                "median)\n",
                "between frames sent, mean", sentGap.mean, sentGap.median, sentGap.min,
                reply.median);
    const Stats slice = stats(sliceMs);
    std::printf("%-34s %10.3f ms   (ref %d; median %.3f, 99 %% %.3f, max %.3f)\n",
                "pause slice, mean", slice.mean, PollPauseSliceMs, slice.median, slice.p99,
                slice.max);
    std::printf("%-34s %10.2f %%\n", "process mode CPU", processCpu * 100.0);
    figures.scanMs = scanMs;
    figures.pollsPerSecond = 1000.0 / perPollMs;
}

// A network port's connections counted: the real socket underneath.
class CountingSocket : public StreamSocket
{
public:
    bool connect(const std::string &host, std::uint16_t port, std::uint32_t timeoutMs) override
    {
        ++connects;
        return m_socket.connect(host, port, timeoutMs);
    }
    bool send(const char *data, std::size_t count) override { return m_socket.send(data, count); }
    std::int64_t receive(char *buffer, std::size_t size, std::uint32_t timeoutMs) override
    {
        return m_socket.receive(buffer, size, timeoutMs);
    }
    void close() override { m_socket.close(); }
    Error error() const override { return m_socket.error(); }
    std::string errorString() const override { return m_socket.errorString(); }
    int connects = 0;

private:
    TcpSocket m_socket;
};

// A sweep over the twelve line settings behind ser2net: the connections it makes, and what
// one provisioning probe (open at the line, "A00M", close) costs on the connection kept for
// the port loop against one that connects afresh.
void benchNetworkSweep(const std::string &sim, const std::filesystem::path &dir)
{
    // The module at the last line setting: the sweep tries all twelve.
    Emulator emu(sim, dir / "sweep", {QStringLiteral("--line"), QStringLiteral("115200,e,8,1")});
    const Server server(dir / "sweep", emu.link());
    SystemClock clock;
    auto owned = std::make_unique<CountingSocket>();
    CountingSocket &socket = *owned;
    NetworkPort port(clock, std::move(owned));
    FixedPortMap map({{1, server.url()}});
    Link link(port, clock, map);
    Settings settings;
    NullStore store;
    BenchView view;
    view.lock = false;
    ModuleContext ctx{link, clock, settings, store, view};
    const ScanResult scan = RunScan(ctx);
    std::printf("\nSweep of the twelve line settings over ser2net (module at the last)\n");
    std::printf("%-34s %10d      (target 1; found: %s)\n", "connections per sweep", socket.connects,
                scan.ok() ? "yes" : "no");

    constexpr int Probes = 20;
    auto probe = [&] {
        const std::int64_t t0 = nowUs();
        if (link.ComOpen(1, "115200,e,8,1"))
            link.SendCommand(Command::readFirstReader());
        link.ComClose();
        return double(nowUs() - t0) / 1000.0;
    };
    std::vector<double> fresh;
    std::vector<double> kept;
    for (int i = 0; i < Probes; ++i)
        fresh.push_back(probe());
    {
        const ConnectionHold hold(link);
        probe(); // the connection made
        for (int i = 0; i < Probes; ++i)
            kept.push_back(probe());
    }
    const Stats f = stats(fresh);
    const Stats k = stats(kept);
    std::printf("%-34s %10.3f ms   (connecting afresh %.3f ms; ratio %.3f)\n",
                "provisioning probe, median", k.median, f.median, k.median / f.median);
}

// The network figures as ratios of the local ones (goal: within 1.05 on localhost).
void compare(const Figures &local, const Figures &net)
{
    std::printf("\nOver ser2net on localhost (RFC 2217) against the local pseudo-terminal\n");
    auto line = [](const char *what, double l, double n, const char *unit) {
        std::printf("%-34s %10.3f %s  local %8.3f  ratio %6.3f\n", what, n, unit, l,
                    l > 0 ? n / l : 0.0);
    };
    line("frame send time, mean", local.frameMs, net.frameMs, "ms ");
    line("reply window on silence, mean", local.windowMs, net.windowMs, "ms ");
    line("reply latency, median", local.latencyMs, net.latencyMs, "ms ");
    line("unlocked scan", local.scanMs, net.scanMs, "ms ");
    line("process mode polls per second", local.pollsPerSecond, net.pollsPerSecond, "/s ");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const std::string sim = argc > 1 ? std::string(argv[1])
                                     : QCoreApplication::applicationDirPath().toStdString() +
                                           "/../src/platform/linux/qmrsim";
    if (!std::filesystem::exists(sim)) {
        std::fprintf(stderr, "qmrbench: no emulator at %s (build qmrsim or name it)\n",
                     sim.c_str());
        return 1;
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "qmrbench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::fprintf(stderr, "qmrbench: cannot create a temporary directory\n");
        return 1;
    }
    const std::filesystem::path dir(pattern);

    int status = 0;
    try {
        benchPause();
        Figures local;
        benchLink(sim, dir, false, local);
        benchOperations(sim, dir, false, local);
        if (std::system("command -v ser2net >/dev/null 2>&1") == 0) {
            std::printf("\n== the same behind ser2net (RFC 2217, localhost)\n");
            Figures net;
            benchLink(sim, dir / "net", true, net);
            benchOperations(sim, dir / "net", true, net);
            compare(local, net);
            benchNetworkSweep(sim, dir / "net");
        } else {
            std::printf("\nser2net is not installed: no network figures\n");
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qmrbench: %s\n", e.what());
        status = 1;
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return status;
}
