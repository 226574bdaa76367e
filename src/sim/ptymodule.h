#pragma once

#include "modulemodel.h"

#include <QByteArray>
#include <QList>
#include <QString>

class QIODevice;

namespace qmr {

// Puts a module model on the far end of a pseudo-terminal, so that the real program can
// talk to it through a serial device path. The slave side is held open by this object too:
// the line does not hang up between the program's opens, and the speed the program applies
// can be read back. A Linux pseudo-terminal does not keep the parity flag, so the module
// hears by baud alone.
class PtyModule
{
public:
    explicit PtyModule(ModuleModel &model);
    ~PtyModule(); // removes the link (if it still names our slave) and closes the terminal
    PtyModule(const PtyModule &) = delete;
    PtyModule &operator=(const PtyModule &) = delete;

    // Creates the pseudo-terminal and a symbolic link at linkPath naming its slave. A stale
    // link is replaced; any other file at linkPath is left alone and start() fails.
    bool start(const QString &linkPath, QString *error);
    QString slavePath() const { return m_slavePath; }
    QString linkPath() const { return m_linkPath; }

    // One line per frame received and per reply sent (not owned; null: no log).
    void setLog(QIODevice *log) { m_log = log; }
    // After every command the module's state is written here as JSON (empty: none).
    void setStateFile(const QString &path) { m_statePath = path; }

    // Serves the line until stopFd (a signalfd or the read end of a pipe) becomes readable.
    void run(int stopFd);
    // The baud rate currently set on the slave, 0 when unknown.
    qint32 slaveBaud() const;

private:
    struct Scheduled
    {
        qint64 dueUs;
        ModuleReply reply;
    };

    void heard(const QByteArray &bytes);
    void sendDue(qint64 nowUs);
    void flushOut();
    void logLine(const char *direction, const QByteArray &bytes, const QString &note);
    void writeState();
    void removeLink();

    ModuleModel &m_model;
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QString m_linkPath;
    QIODevice *m_log = nullptr;
    QString m_statePath;

    QList<Scheduled> m_scheduled; // replies waiting for their time, in due order
    QByteArray m_out;             // bytes the terminal did not take yet
    QByteArray m_endless;         // repeats while set, until the next bytes are heard
    qsizetype m_endlessPos = 0;
    qint64 m_endlessNextUs = 0;
    QByteArray m_rxFrame; // bytes of the frame being received, for the log
    qint64 m_rxFrameAtUs = 0;
    qsizetype m_rxCommands = 0;
    qint64 m_masterRetryUs = 0; // while in the future the master is not polled (after EIO)
};

// Monotonic microseconds, the time base of the log.
qint64 monotonicMicroseconds();

} // namespace qmr
