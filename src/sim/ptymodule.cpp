#include "ptymodule.h"

#include "link/linedefinition.h"

#include <QFile>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cerrno>
#include <climits>
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
constexpr qint64 EndlessSliceUs = 10'000;
// After EIO or a hang-up on the master it is polled again only this much later.
constexpr qint64 MasterRetryUs = 100'000;
// A partial frame with no end byte is logged after this much silence.
constexpr qint64 RxLogIdleUs = 200'000;

struct SpeedEntry
{
    speed_t speed;
    qint32 baud;
};
constexpr SpeedEntry Speeds[] = {{B1200, 1200},   {B2400, 2400},     {B4800, 4800},
                                 {B9600, 9600},   {B19200, 19200},   {B38400, 38400},
                                 {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};

qint32 baudOf(speed_t speed)
{
    for (const SpeedEntry &e : Speeds)
        if (e.speed == speed)
            return e.baud;
    return 0;
}

speed_t speedOf(qint32 baud)
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
QString decoded(const QByteArray &bytes)
{
    QByteArray text = bytes;
    const int start = text.indexOf(char(0x09)) >= 0 ? int(text.indexOf(char(0x09)))
                                                    : int(text.indexOf(char(0x0A)));
    if (start >= 0 && text.endsWith(char(0x0D)) && text.size() - start >= 4)
        text = text.mid(start + 1, text.size() - start - 4);
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

qint64 monotonicMicroseconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

PtyModule::PtyModule(ModuleModel &model) : m_model(model) {}

PtyModule::~PtyModule()
{
    removeLink();
    if (m_slave >= 0)
        ::close(m_slave);
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

    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_slave < 0)
        return failed(errnoText("open slave"));
    // Raw both ways, at the module's own speed, until the program applies its settings.
    termios tio{};
    if (::tcgetattr(m_slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        const speed_t speed = speedOf(m_model.line().baud);
        ::cfsetispeed(&tio, speed);
        ::cfsetospeed(&tio, speed);
        ::tcsetattr(m_slave, TCSANOW, &tio);
    }
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

qint32 PtyModule::slaveBaud() const
{
    termios tio{};
    if (m_slave < 0 || ::tcgetattr(m_slave, &tio) != 0)
        return 0;
    return baudOf(::cfgetospeed(&tio));
}

void PtyModule::run(int stopFd)
{
    for (;;) {
        qint64 now = monotonicMicroseconds();
        sendDue(now);
        flushOut();

        // Sleep until the next thing to do; with nothing scheduled, until bytes arrive.
        qint64 wakeUs = -1;
        auto wakeAt = [&](qint64 at) {
            if (wakeUs < 0 || at < wakeUs)
                wakeUs = at;
        };
        if (!m_scheduled.isEmpty())
            wakeAt(m_scheduled.first().dueUs);
        if (!m_endless.isEmpty())
            wakeAt(m_endlessNextUs);
        if (!m_rxFrame.isEmpty())
            wakeAt(m_rxFrameAtUs + RxLogIdleUs);
        const bool masterPaused = m_masterRetryUs > now;
        if (masterPaused)
            wakeAt(m_masterRetryUs);
        if (!m_out.isEmpty())
            wakeAt(now + EndlessSliceUs); // the terminal was full; try again soon
        int timeoutMs = -1;
        if (wakeUs >= 0)
            timeoutMs = int(qBound(qint64(0), (wakeUs - now + 999) / 1000, qint64(INT_MAX)));

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
        if (!m_rxFrame.isEmpty() && now - m_rxFrameAtUs >= RxLogIdleUs) {
            logLine("rx", m_rxFrame, QStringLiteral("incomplete"));
            m_rxFrame.clear();
        }
        if (fds[1].revents & POLLIN) {
            char buffer[4096];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n > 0) {
                heard(QByteArray(buffer, int(n)));
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                m_masterRetryUs = now + MasterRetryUs; // nobody on the slave (EIO)
            }
        } else if (fds[1].revents & (POLLHUP | POLLERR)) {
            m_masterRetryUs = now + MasterRetryUs;
        }
    }
}

void PtyModule::heard(const QByteArray &bytes)
{
    const qint64 now = monotonicMicroseconds();
    m_endless.clear(); // a babbling module stops when spoken to
    LineSettings line;
    line.baud = slaveBaud();
    // Frames are handed over one by one so that each one's replies and log lines stay
    // together.
    qsizetype from = 0;
    while (from < bytes.size()) {
        qsizetype end = bytes.indexOf(char(0x0D), from);
        end = end < 0 ? bytes.size() : end + 1;
        const QByteArray piece = bytes.mid(from, end - from);
        from = end;

        if (m_rxFrame.isEmpty())
            m_rxCommands = m_model.commands().size();
        m_rxFrame += piece;
        m_rxFrameAtUs = now;
        const QList<ModuleReply> replies = m_model.hear(piece, line, false);
        if (piece.endsWith(char(0x0D))) {
            const bool accepted = m_model.commands().size() > m_rxCommands;
            logLine(
                "rx", m_rxFrame,
                QStringLiteral("baud=%1 %2").arg(line.baud).arg(accepted ? "accepted" : "ignored"));
            m_rxFrame.clear();
            if (accepted)
                writeState();
        }
        for (const ModuleReply &reply : replies) {
            Scheduled s{now + qint64(qMax(0, reply.delayMs)) * 1000, reply};
            qsizetype at = m_scheduled.size();
            while (at > 0 && m_scheduled[at - 1].dueUs > s.dueUs)
                --at;
            m_scheduled.insert(at, s);
        }
    }
}

void PtyModule::sendDue(qint64 nowUs)
{
    while (!m_scheduled.isEmpty() && m_scheduled.first().dueUs <= nowUs) {
        const Scheduled s = m_scheduled.takeFirst();
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
    if (!m_endless.isEmpty() && m_endlessNextUs <= nowUs) {
        // One slice of line time: a byte is ten bits at the slave's speed.
        const qint64 perSlice = qMax<qint64>(1, qint64(qMax(slaveBaud(), 1200)) / 10 / 100);
        if (m_out.size() < 4096) {
            for (qint64 i = 0; i < perSlice; ++i) {
                m_out += m_endless[m_endlessPos];
                m_endlessPos = (m_endlessPos + 1) % m_endless.size();
            }
        }
        m_endlessNextUs = nowUs + EndlessSliceUs;
    }
}

void PtyModule::flushOut()
{
    while (!m_out.isEmpty()) {
        const ssize_t n = ::write(m_master, m_out.constData(), size_t(m_out.size()));
        if (n > 0) {
            m_out.remove(0, n);
        } else {
            if (n < 0 && errno == EINTR)
                continue;
            return; // full (EAGAIN) or gone: kept for the next round
        }
    }
}

void PtyModule::logLine(const char *direction, const QByteArray &bytes, const QString &note)
{
    if (!m_log)
        return;
    QString line = QStringLiteral("%1\t%2\t%3\t%4")
                       .arg(monotonicMicroseconds())
                       .arg(QLatin1String(direction),
                            QString::fromLatin1(bytes.toHex(' ').toUpper()), decoded(bytes));
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
    auto reader = [](const ReaderState &r) {
        return QJsonObject{{"id", QString::fromLatin1(r.id)},
                           {"serial", QString::fromLatin1(r.serial)},
                           {"data", QString::fromLatin1(r.data)}};
    };
    const QJsonObject state{
        {"reader1", reader(c.reader1)},
        {"reader2", reader(c.reader2)},
        {"version", QString::fromLatin1(c.version)},
        {"mode", QString(QLatin1Char(c.mode))},
        {"rs485", QString(QLatin1Char(c.rs485))},
        {"lineIndex", c.lineIndex},
        {"line", QLatin1String(BaudRateTable[size_t(safeBaudRateNo(c.lineIndex))])},
        {"commands", qint64(m_model.commands().size())},
        {"lastCommand",
         QString::fromLatin1(m_model.commands().isEmpty() ? QByteArray()
                                                          : m_model.commands().last())},
    };
    // Written whole and renamed into place, so a reader never sees half a file.
    QSaveFile file(m_statePath);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(state).toJson(QJsonDocument::Compact));
        file.commit();
    }
}

} // namespace qmr
