#pragma once

#include "fakeclock.h"
#include "link/serialport.h"
#include "modulemodel.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

namespace qmr {

// An in-memory serial port on a fake clock. It knows any number of named devices; each may
// refuse to open (with a chosen error) and may have a module model on its far end. Bytes
// the link writes reach the model at the line settings in force; its replies become
// readable at the fake time they are due. A read with nothing due advances the clock by
// the read timeout (1 ms with the link's working timeouts).
class MemoryPort : public SerialPort
{
public:
    struct Written
    {
        QString device;
        LineSettings line;
        QByteArray bytes; // one write() call
        quint32 atMs;     // fake time of the write
    };

    explicit MemoryPort(FakeClock &clock);

    // A device that opens; module may be null (a line with nothing on it). Not owned.
    void addDevice(const QString &device, ModuleModel *module = nullptr);
    // Opening this device fails with error.
    void refuseOpen(const QString &device, PortError error);
    // Bytes that arrive on the open device at the given fake time, as if the far end sent them.
    void inject(const QByteArray &bytes, quint32 atMs);
    // Every later read or write fails (the adapter was unplugged); open() fails too.
    void vanish(const QString &device);

    // What happened, for tests.
    const QList<Written> &writes() const { return m_writes; }
    QList<QString> opens() const { return m_opens; } // device of every successful open()
    int closeCount() const { return m_closes; }
    QString currentDevice() const { return m_device; }
    LineSettings currentLine() const { return m_line; }

    bool open(const QString &device) override;
    void close() override;
    bool isOpen() const override { return !m_device.isEmpty(); }
    CommTimeouts timeouts() const override { return m_timeouts; }
    bool setTimeouts(const CommTimeouts &timeouts) override;
    bool setLineSettings(const LineSettings &settings) override;
    qint64 write(const char *data, qint64 count) override;
    int readByte(char *byte) override;
    PortError error() const override { return m_error; }
    QString errorString() const override { return m_errorString; }

private:
    struct Device
    {
        ModuleModel *module = nullptr;
        PortError refuse = PortError::NoError;
        bool vanished = false;
        CommTimeouts timeouts{10, 0, 50, 0, 0}; // what a device had before anyone opened it
        LineSettings line{9600, 'n', 8, 1};
    };
    struct Pending
    {
        char byte;
        quint32 dueMs;
    };

    FakeClock &m_clock;
    QMap<QString, Device> m_devices;
    QString m_device; // empty while closed
    LineSettings m_line;
    CommTimeouts m_timeouts;
    QList<Pending> m_incoming;
    QByteArray m_endless; // repeats while set (an endless-stream fault)
    quint32 m_endlessDueMs = 0;
    qsizetype m_endlessPos = 0;
    qint64 m_endlessBits = 0; // bits sent since the last whole millisecond of line time

    void queue(const QByteArray &bytes, quint32 dueMs);
    bool takeDue(char *byte);
    Device *openDevice();
    bool fail(PortError error, const QString &text);
    QList<Written> m_writes;
    QList<QString> m_opens;
    int m_closes = 0;
    PortError m_error = PortError::NoError;
    QString m_errorString;
};

} // namespace qmr
