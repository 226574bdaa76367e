#pragma once

#include "clock.h"
#include "portmap.h"
#include "serialport.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>
#include <array>
#include <functional>

namespace qmr {

Q_DECLARE_LOGGING_CATEGORY(lcFrames) // "qmr.frames": every frame sent and received, off by default

// The module link: the one serial connection, the framed command/reply exchange and the
// reply state. One instance serves the whole program; tests make their own over an
// in-memory port and a fake clock.
class Link
{
public:
    static constexpr int ReplyBufferSize = 1024;
    static constexpr quint32 ReplyWindowMs = 120;
    // A stream of bytes that never brings a reply end is cut off this long after sending
    // ended, so a babbling line cannot hang the program.
    static constexpr quint32 ReplyStreamLimitMs = 1000;
    // Read behaviour while the link uses the port: a one-byte read returns a waiting byte at
    // once, or nothing after about 1 ms; writes have no timeout.
    static constexpr CommTimeouts WorkingTimeouts{0, 0, 1, 0, 0};

    Link(SerialPort &port, Clock &clock, const PortMap &ports);

    // Opens the device of COM portNumber exclusively and applies lineDefinition and the
    // working timeouts. True when the device opened, even if the settings were refused.
    bool ComOpen(qint32 portNumber, const char *lineDefinition);
    // Restores the timeouts found at open and gives the device back.
    void ComClose();
    // Writes one byte, then pauses 1 ms.
    void ComWriteByte(quint8 b);
    // Writes count bytes in one write, then pauses 5 ms.
    void ComWriteText(const char *bytes, int count);

    // Frames commandText (at most 255 bytes), sends it and waits for the reply frame:
    // true when a complete reply arrived within the window and its check value is right.
    bool SendCommand(const QByteArray &commandText);

    // Called after every empty read while a reply is awaited (the window's event processing).
    void setMessagePump(std::function<void()> pump) { m_pump = std::move(pump); }
    // Replaces the message pump where an event loop can wait: lets pending events run and,
    // when there are none, blocks until one comes (a byte reaching the port is one) or maxMs
    // have passed. Saves waking every millisecond while a reply is awaited.
    void setIdleWait(std::function<void(quint32 maxMs)> wait) { m_idleWait = std::move(wait); }
    // Called with every frame sent (outgoing true) and every byte run received, for traces.
    void setFrameObserver(std::function<void(bool outgoing, const QByteArray &bytes)> observer)
    {
        m_observer = std::move(observer);
    }

    bool isOpen() const { return m_open; }
    // Why the last ComOpen failed (NoError after a successful one), and on which device.
    PortError lastOpenError() const { return m_lastOpenError; }
    QString lastOpenErrorString() const { return m_lastOpenErrorString; }
    QString lastDevice() const { return m_lastDevice; }

    // The reply state, overwritten by every SendCommand.
    std::array<char, ReplyBufferSize> ReplyBuffer{};
    qint32 ReplyLength = 0;
    QByteArray ReplyText; // the last complete reply, from its 0x0A to its 0x0D

    // The check value of a frame's bytes as two upper-case hex digits.
    static QByteArray checkDigits(quint8 value);
    // The whole command frame for commandText: 0x09, text, check digits, 0x0D.
    static QByteArray frame(const QByteArray &commandText);
    // True when bytes is a complete reply frame whose check digits are right.
    static bool ReplyCheck(const char *bytes, qint32 length);

private:
    SerialPort &PortHandle; // the one serial device; open between ComOpen and ComClose
    Clock &m_clock;
    const PortMap &m_ports;
    std::function<void()> m_pump;
    std::function<void(quint32)> m_idleWait;
    std::function<void(bool, const QByteArray &)> m_observer;
    bool m_open = false;
    CommTimeouts SavedTimeouts;
    PortError m_lastOpenError = PortError::NoError;
    QString m_lastOpenErrorString;
    QString m_lastDevice;
};

} // namespace qmr
