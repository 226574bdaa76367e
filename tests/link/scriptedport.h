#pragma once

#include "link/serialport.h"
#include "sim/fakeclock.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

namespace qmr::test {

// A serial port double on a fake clock. Bytes become readable at chosen fake times; a read
// with nothing due lets the read timeout pass on the clock and brings nothing. Every write
// and every setting is recorded.
class ScriptedPort : public SerialPort
{
public:
    struct Write
    {
        QByteArray bytes;
        quint32 atMs;
    };

    explicit ScriptedPort(FakeClock &clock) : m_clock(clock) {}

    // Devices that open; any other path fails with NotFound.
    void addDevice(const QString &device) { m_devices.insert(device, PortError::NoError); }
    void refuseOpen(const QString &device, PortError error) { m_devices.insert(device, error); }

    // Bytes that become readable, one after the other, from the fake time atMs on.
    void script(const QByteArray &bytes, quint32 atMs)
    {
        for (char c : bytes)
            m_pending.append({c, atMs});
    }
    // Bytes readable right after the next write (the far end answers at once).
    void answer(const QByteArray &bytes) { m_answer = bytes; }
    // Every read brings the next byte of pattern, repeated without end.
    void stream(const QByteArray &pattern) { m_stream = pattern; }
    // Each byte read takes this long on the clock (the time the byte needs on the line).
    void setByteTime(int ms) { m_byteMs = ms; }
    void failReads(bool fail) { m_failReads = fail; }
    void refuseLineSettings(bool refuse) { m_refuseLine = refuse; }

    // What happened.
    QList<Write> writes;
    QList<CommTimeouts> timeoutsSet;
    QList<LineSettings> linesSet;
    QList<QString> opened;
    int closes = 0;
    int reads = 0;
    int emptyReads = 0;
    CommTimeouts deviceTimeouts{10, 0, 50, 0, 0}; // what the device had before the open
    int unread() const { return int(m_pending.size()); }

    bool open(const QString &device) override
    {
        const auto it = m_devices.constFind(device);
        m_error = it == m_devices.constEnd() ? PortError::NotFound : it.value();
        if (m_error != PortError::NoError) {
            m_errorString = QStringLiteral("cannot open ") + device;
            return false;
        }
        m_open = true;
        m_timeouts = deviceTimeouts;
        opened.append(device);
        return true;
    }
    void close() override
    {
        m_open = false;
        deviceTimeouts = m_timeouts;
        ++closes;
    }
    bool isOpen() const override { return m_open; }
    CommTimeouts timeouts() const override { return m_timeouts; }
    bool setTimeouts(const CommTimeouts &timeouts) override
    {
        timeoutsSet.append(timeouts);
        m_timeouts = timeouts;
        return true;
    }
    bool setLineSettings(const LineSettings &settings) override
    {
        linesSet.append(settings);
        return !m_refuseLine;
    }
    qint64 write(const char *data, qint64 count) override
    {
        writes.append({QByteArray(data, int(count)), m_clock.milliseconds()});
        if (!m_answer.isEmpty()) {
            script(m_answer, m_clock.milliseconds());
            m_answer.clear();
        }
        return count;
    }
    int readByte(char *byte) override
    {
        ++reads;
        if (!m_stream.isEmpty()) {
            *byte = m_stream.at(m_streamPos++ % m_stream.size());
            m_clock.advance(m_byteMs);
            return 1;
        }
        if (!m_failReads && !m_pending.isEmpty() &&
            qint32(m_clock.milliseconds() - m_pending.first().dueMs) >= 0) {
            *byte = m_pending.takeFirst().byte;
            m_clock.advance(m_byteMs);
            return 1;
        }
        ++emptyReads;
        m_clock.advance(int(m_timeouts.ReadTotalTimeoutConstant));
        return m_failReads ? -1 : 0;
    }
    PortError error() const override { return m_error; }
    QString errorString() const override { return m_errorString; }

private:
    struct Pending
    {
        char byte;
        quint32 dueMs;
    };
    FakeClock &m_clock;
    QMap<QString, PortError> m_devices;
    QList<Pending> m_pending;
    QByteArray m_answer;
    QByteArray m_stream;
    int m_byteMs = 0;
    int m_streamPos = 0;
    bool m_failReads = false;
    bool m_refuseLine = false;
    bool m_open = false;
    CommTimeouts m_timeouts;
    PortError m_error = PortError::NoError;
    QString m_errorString;
};

} // namespace qmr::test
