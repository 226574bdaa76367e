#pragma once

#include "sim/modulemodel.h"

#include <QString>

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

class QIODevice;

namespace qmr {

// Puts a module model on the far end of a pseudo-terminal, so that the real program can
// talk to it through a serial device path. Once the terminal is set up its slave side is let
// go, as a real module holds no file on the PC: a tool that looks for other holders of the
// device finds none. The speed the program applies is read back through the master. A Linux
// pseudo-terminal does not keep the parity flag, so the module hears by baud alone.
// As a loopback plug it returns every byte instead, one byte time apart.
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
    // Plays a loopback plug instead of the module: each byte comes back bitsPerByte bit times
    // after the one before at the line's baud rate, the rate off by rateErrorPercent (a
    // pseudo-terminal does not say how many bits the program's bytes take).
    void setLoopback(int bitsPerByte, double rateErrorPercent)
    {
        m_loopBits = bitsPerByte;
        m_loopRateError = rateErrorPercent;
    }

    // Serves the line until stopFd (a signalfd or the read end of a pipe) becomes readable.
    void run(int stopFd);
    // The baud rate currently set on the slave, 0 when unknown.
    std::int32_t slaveBaud() const;

private:
    struct Scheduled
    {
        std::int64_t dueUs;
        ModuleReply reply;
    };

    void heard(std::string_view bytes);
    void loopBack(std::int64_t nowUs);
    double loopByteUs() const;
    void sendDue(std::int64_t nowUs);
    void flushOut();
    void logLine(const char *direction, std::string_view bytes, const QString &note);
    void writeState();
    void removeLink();

    ModuleModel &m_model;
    int m_master = -1;
    QString m_slavePath;
    QString m_linkPath;
    QIODevice *m_log = nullptr;
    QString m_statePath;

    std::deque<Scheduled> m_scheduled; // replies waiting for their time, in due order
    std::string m_out;                 // bytes the terminal did not take yet
    std::string m_endless;             // repeats while set, until the next bytes are heard
    std::size_t m_endlessPos = 0;
    std::int64_t m_endlessNextUs = 0;
    std::string m_rxFrame; // bytes of the frame being received, for the log
    std::int64_t m_rxFrameAtUs = 0;
    std::size_t m_rxCommands = 0;
    std::int64_t m_masterRetryUs = 0; // while in the future the master is not polled (after EIO)
    int m_loopBits = 0;               // 0: the module; else a loopback plug
    double m_loopRateError = 0;
    std::string m_loop;      // bytes heard and not yet returned
    double m_loopNextUs = 0; // when the next of them is due
};

// Monotonic microseconds, the time base of the log.
std::int64_t monotonicMicroseconds();

} // namespace qmr
