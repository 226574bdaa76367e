#include "ptymodule.h"

#include "link/linedefinition.h"

#include <QFile>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace qmr {

namespace {

// An endless stream is paced like a real line: a slice every 10 ms.
constexpr std::int64_t EndlessSliceUs = 10'000;
// After EIO or a hang-up on the master (nobody holds the slave) it is polled again this much
// later: soon enough that a frame sent right after an open is heard within a few ms.
constexpr std::int64_t MasterRetryUs = 3'000;
// A partial frame with no end byte is logged after this much silence.
constexpr std::int64_t RxLogIdleUs = 200'000;

struct SpeedEntry
{
    speed_t speed;
    std::int32_t baud;
};
constexpr SpeedEntry Speeds[] = {{B1200, 1200},   {B2400, 2400},     {B4800, 4800},
                                 {B9600, 9600},   {B19200, 19200},   {B38400, 38400},
                                 {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};

std::int32_t baudOf(speed_t speed)
{
    for (const SpeedEntry &e : Speeds)
        if (e.speed == speed)
            return e.baud;
    return 0;
}

speed_t speedOf(std::int32_t baud)
{
    for (const SpeedEntry &e : Speeds)
        if (e.baud == baud)
            return e.speed;
    return B19200;
}

QString errnoText(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(strerror(errno)));
}

// The text of a frame for the log: the command or reply text when the bytes look like a
// frame, otherwise every byte with the unprintable ones escaped.
QString decoded(std::string_view text)
{
    std::size_t start = text.find(char(0x09));
    if (start == std::string_view::npos)
        start = text.find(char(0x0A));
    if (start != std::string_view::npos && !text.empty() && text.back() == char(0x0D) &&
        text.size() - start >= 4)
        text = text.substr(start + 1, text.size() - start - 4);
    QString out;
    for (char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '\\')
            out += QLatin1Char(c);
        else
            out += QStringLiteral("\\x%1").arg(quint8(c), 2, 16, QLatin1Char('0'));
    }
    return out;
}

} // namespace

std::int64_t monotonicMicroseconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

PtyModule::PtyModule(ModuleModel &model) : m_model(model) {}

PtyModule::~PtyModule()
{
    removeLink();
    if (m_master >= 0)
        ::close(m_master);
}

bool PtyModule::start(const QString &linkPath, QString *error)
{
    auto failed = [&](const QString &text) {
        if (error)
            *error = text;
        return false;
    };
    const QByteArray link = QFile::encodeName(linkPath);
    struct stat st
    {
    };
    if (::lstat(link.constData(), &st) == 0 && !S_ISLNK(st.st_mode))
        return failed(
            QStringLiteral("%1 exists and is not a symbolic link; not replacing it").arg(linkPath));

    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        return failed(errnoText("posix_openpt"));
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        return failed(errnoText("unlockpt"));
    char name[PATH_MAX] = {};
    if (::ptsname_r(m_master, name, sizeof name) != 0)
        return failed(errnoText("ptsname"));
    m_slavePath = QFile::decodeName(name);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);

    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0)
        return failed(errnoText("open slave"));
    // Raw both ways, at the module's own speed, until the program applies its settings; the
    // settings outlive the slave's close.
    termios tio{};
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        const speed_t speed = speedOf(m_model.line().baud);
        ::cfsetispeed(&tio, speed);
        ::cfsetospeed(&tio, speed);
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    ::close(slave);
    if (::tcgetattr(m_master, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(m_master, TCSANOW, &tio);
    }

    if (::lstat(link.constData(), &st) == 0 && ::unlink(link.constData()) != 0)
        return failed(errnoText("removing the old link"));
    if (::symlink(name, link.constData()) != 0)
        return failed(errnoText("symlink"));
    m_linkPath = linkPath;
    return true;
}

void PtyModule::removeLink()
{
    if (m_linkPath.isEmpty())
        return;
    const QByteArray link = QFile::encodeName(m_linkPath);
    char target[PATH_MAX] = {};
    const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
    // Someone else may have put their own link there meanwhile; that one stays.
    if (n > 0 && QFile::decodeName(QByteArray(target, int(n))) == m_slavePath)
        ::unlink(link.constData());
    m_linkPath.clear();
}

std::int32_t PtyModule::slaveBaud() const
{
    // The master reads back what the program set on the slave.
    termios tio{};
    if (m_master < 0 || ::tcgetattr(m_master, &tio) != 0)
        return 0;
    return baudOf(::cfgetospeed(&tio));
}

void PtyModule::run(int stopFd)
{
    for (;;) {
        std::int64_t now = monotonicMicroseconds();
        sendDue(now);
        flushOut();

        // Sleep until the next thing to do; with nothing scheduled, until bytes arrive.
        std::int64_t wakeUs = -1;
        auto wakeAt = [&](std::int64_t at) {
            if (wakeUs < 0 || at < wakeUs)
                wakeUs = at;
        };
        if (!m_scheduled.empty())
            wakeAt(m_scheduled.front().dueUs);
        if (!m_endless.empty())
            wakeAt(m_endlessNextUs);
        if (!m_rxFrame.empty())
            wakeAt(m_rxFrameAtUs + RxLogIdleUs);
        if (!m_loop.empty())
            wakeAt(std::int64_t(m_loopNextUs + loopByteUs()));
        const bool masterPaused = m_masterRetryUs > now;
        if (masterPaused)
            wakeAt(m_masterRetryUs);
        if (!m_out.empty())
            wakeAt(now + EndlessSliceUs); // the terminal was full; try again soon
        int timeoutMs = -1;
        if (wakeUs >= 0)
            timeoutMs = int(std::clamp<std::int64_t>((wakeUs - now + 999) / 1000, 0, INT_MAX));

        pollfd fds[2] = {{stopFd, POLLIN, 0}, {masterPaused ? -1 : m_master, POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR))
            return;
        now = monotonicMicroseconds();
        if (!m_rxFrame.empty() && now - m_rxFrameAtUs >= RxLogIdleUs) {
            logLine("rx", m_rxFrame, QStringLiteral("incomplete"));
            m_rxFrame.clear();
        }
        if (fds[1].revents & POLLIN) {
            char buffer[4096];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n > 0) {
                heard(std::string_view(buffer, std::size_t(n)));
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                m_masterRetryUs = now + MasterRetryUs; // nobody on the slave (EIO)
            }
        } else if (fds[1].revents & (POLLHUP | POLLERR)) {
            m_masterRetryUs = now + MasterRetryUs;
        }
    }
}

void PtyModule::heard(std::string_view bytes)
{
    const std::int64_t now = monotonicMicroseconds();
    if (m_loopBits > 0) {
        // The first byte comes back one byte time after it arrived, as through a wire.
        if (m_loop.empty())
            m_loopNextUs = std::max(m_loopNextUs, double(now));
        m_loop += bytes;
        return;
    }
    m_endless.clear(); // a babbling module stops when spoken to
    LineSettings line;
    line.baud = slaveBaud();
    // Frames are handed over one by one so that each one's replies and log lines stay
    // together.
    std::size_t from = 0;
    while (from < bytes.size()) {
        std::size_t end = bytes.find(char(0x0D), from);
        end = end == std::string_view::npos ? bytes.size() : end + 1;
        const std::string_view piece = bytes.substr(from, end - from);
        from = end;

        if (m_rxFrame.empty())
            m_rxCommands = m_model.commands().size();
        m_rxFrame += piece;
        m_rxFrameAtUs = now;
        const std::vector<ModuleReply> replies = m_model.hear(piece, line, false);
        if (piece.back() == char(0x0D)) {
            const bool accepted = m_model.commands().size() > m_rxCommands;
            logLine(
                "rx", m_rxFrame,
                QStringLiteral("baud=%1 %2").arg(line.baud).arg(accepted ? "accepted" : "ignored"));
            m_rxFrame.clear();
            if (accepted)
                writeState();
        }
        for (const ModuleReply &reply : replies) {
            Scheduled s{now + std::int64_t(std::max(0, reply.delayMs)) * 1000, reply};
            auto at = m_scheduled.end();
            while (at != m_scheduled.begin() && std::prev(at)->dueUs > s.dueUs)
                --at;
            m_scheduled.insert(at, std::move(s));
        }
    }
}

double PtyModule::loopByteUs() const
{
    return 1e6 * m_loopBits / std::max(slaveBaud(), 1) / (1 + m_loopRateError / 100);
}

void PtyModule::loopBack(std::int64_t nowUs)
{
    const double byteUs = loopByteUs();
    std::size_t due = 0;
    while (due < m_loop.size() && m_loopNextUs + byteUs <= double(nowUs)) {
        m_loopNextUs += byteUs;
        ++due;
    }
    m_out.append(m_loop, 0, due);
    m_loop.erase(0, due);
}

void PtyModule::sendDue(std::int64_t nowUs)
{
    if (!m_loop.empty())
        loopBack(nowUs);
    while (!m_scheduled.empty() && m_scheduled.front().dueUs <= nowUs) {
        const Scheduled s = std::move(m_scheduled.front());
        m_scheduled.pop_front();
        if (s.reply.endless) {
            logLine("tx", s.reply.bytes, QStringLiteral("endless"));
            m_endless = s.reply.bytes;
            m_endlessPos = 0;
            m_endlessNextUs = nowUs;
        } else {
            logLine("tx", s.reply.bytes, QString());
            m_out += s.reply.bytes;
        }
    }
    if (!m_endless.empty() && m_endlessNextUs <= nowUs) {
        // One slice of line time: a byte is ten bits at the slave's speed.
        const std::int64_t perSlice =
            std::max<std::int64_t>(1, std::int64_t(std::max(slaveBaud(), 1200)) / 10 / 100);
        if (m_out.size() < 4096) {
            for (std::int64_t i = 0; i < perSlice; ++i) {
                m_out += m_endless[m_endlessPos];
                m_endlessPos = (m_endlessPos + 1) % m_endless.size();
            }
        }
        m_endlessNextUs = nowUs + EndlessSliceUs;
    }
}

void PtyModule::flushOut()
{
    while (!m_out.empty()) {
        const ssize_t n = ::write(m_master, m_out.data(), m_out.size());
        if (n > 0) {
            m_out.erase(0, std::size_t(n));
        } else {
            if (n < 0 && errno == EINTR)
                continue;
            // Nobody holds the slave (EIO): the bytes would reach the next program that opens
            // it, as stale input, so they go. Full (EAGAIN): kept for the next round.
            if (n < 0 && errno == EIO)
                m_out.clear();
            return;
        }
    }
}

void PtyModule::logLine(const char *direction, std::string_view bytes, const QString &note)
{
    if (!m_log)
        return;
    const QByteArray raw(bytes.data(), qsizetype(bytes.size()));
    QString line = QStringLiteral("%1\t%2\t%3\t%4")
                       .arg(monotonicMicroseconds())
                       .arg(QLatin1String(direction), QString::fromLatin1(raw.toHex(' ').toUpper()),
                            decoded(bytes));
    if (!note.isEmpty())
        line += QLatin1Char('\t') + note;
    line += QLatin1Char('\n');
    m_log->write(line.toUtf8());
    // Readers follow the log while the emulator runs.
    if (auto *file = qobject_cast<QFileDevice *>(m_log))
        file->flush();
}

void PtyModule::writeState()
{
    if (m_statePath.isEmpty())
        return;
    const ModuleConfig &c = m_model.config();
    auto latin1 = [](const std::string &bytes) {
        return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
    };
    auto reader = [&](const ReaderState &r) {
        return QJsonObject{
            {"id", latin1(r.id)}, {"serial", latin1(r.serial)}, {"data", latin1(r.data)}};
    };
    const QJsonObject state{
        {"reader1", reader(c.reader1)},
        {"reader2", reader(c.reader2)},
        {"version", latin1(c.version)},
        {"mode", QString(QLatin1Char(c.mode))},
        {"rs485", QString(QLatin1Char(c.rs485))},
        {"lineIndex", c.lineIndex},
        {"line", QLatin1String(BaudRateTable[size_t(safeBaudRateNo(c.lineIndex))])},
        {"commands", qint64(m_model.commands().size())},
        {"lastCommand",
         latin1(m_model.commands().empty() ? std::string() : m_model.commands().back())},
    };
    // Written whole and renamed into place, so a reader never sees half a file. Not synced to
    // the disk: readers need whole files, not durable ones, and a sync after a big build can
    // take longer than the 120 ms the module has to answer (this runs before the reply goes).
    const QString temporary = m_statePath + QStringLiteral(".new");
    QFile file(temporary);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        const QByteArray json = QJsonDocument(state).toJson(QJsonDocument::Compact);
        const bool written = file.write(json) == json.size();
        file.close();
        if (written)
            ::rename(QFile::encodeName(temporary).constData(),
                     QFile::encodeName(m_statePath).constData());
    }
}

} // namespace qmr
