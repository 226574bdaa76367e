#pragma once

#include "link/link.h"
#include "link/portmap.h"
#include "operations/modulecontext.h"
#include "recordingview.h"
#include "settings/settingsstore.h"
#include "sim/fakeclock.h"
#include "sim/memoryport.h"
#include "sim/modulemodel.h"

#include <QList>
#include <functional>

namespace qmr {

// A store that keeps what was saved and counts the saves.
class RecordingStore : public SettingsStore
{
public:
    void LoadSettings(Settings &settings) override { settings = Settings(); }
    void SaveScanSettings(const Settings &settings) override { saves.append(settings); }
    void SaveLanguage(const Settings &) override {}
    QMap<int, QString> portAssignments() const override { return {}; }

    QList<Settings> saves;
};

// The in-memory port with a hand on each command frame: a test may keep a command from the
// module (no reply comes), answer it itself, or refuse an open, and sees every command the
// link sent, whether the module heard it or not.
class ScriptedPort : public SerialPort
{
public:
    enum class Action
    {
        Pass,
        Silence,
        Reply
    };
    struct Response
    {
        Action action = Action::Pass;
        QByteArray replyText; // for Reply: the text between the frame's 0x0A and check digits
    };

    ScriptedPort(MemoryPort &inner, FakeClock &clock) : m_inner(inner), m_clock(clock) {}

    std::function<Response(const QByteArray &command)> script;
    std::function<bool(const QString &device)> refuse; // true: this open fails
    QList<QByteArray> sent;                            // every command text, in order
    std::function<void(const QByteArray &command)> onCommand;

    static QByteArray replyFrame(const QByteArray &text);

    bool open(const QString &device) override;
    void close() override { m_inner.close(); }
    bool isOpen() const override { return m_inner.isOpen(); }
    CommTimeouts timeouts() const override { return m_inner.timeouts(); }
    bool setTimeouts(const CommTimeouts &timeouts) override
    {
        return m_inner.setTimeouts(timeouts);
    }
    bool setLineSettings(const LineSettings &settings) override
    {
        return m_inner.setLineSettings(settings);
    }
    qint64 write(const char *data, qint64 count) override;
    int readByte(char *byte) override { return m_inner.readByte(byte); }
    PortError error() const override { return m_refused ? PortError::Busy : m_inner.error(); }
    QString errorString() const override
    {
        return m_refused ? QStringLiteral("held by another program") : m_inner.errorString();
    }

private:
    MemoryPort &m_inner;
    FakeClock &m_clock;
    QList<QByteArray> m_chunks; // the writes of the frame being sent
    bool m_refused = false;
};

// COM n is the device "/dev/ttyQn"; a test adds the devices that exist.
struct Rig
{
    Rig();

    static QString device(int com) { return QStringLiteral("/dev/ttyQ%1").arg(com); }
    void addModule(int com, ModuleModel &model) { memory.addDevice(device(com), &model); }
    void addEmptyPort(int com) { memory.addDevice(device(com)); }
    // The remembered settings point at port com with line definition index lineIndex.
    void remember(int com, int lineIndex);
    // A successful scan of `module` on port 3; the records are cleared afterwards.
    void scanned();
    void clearRecords();
    // The sleeps of exactly ms milliseconds since the records were cleared.
    int sleepsOf(int ms) const;

    FakeClock clock;
    MemoryPort memory{clock};
    ScriptedPort port{memory, clock};
    FixedPortMap map;
    Link link;
    Settings settings;
    RecordingStore store;
    RecordingView view;
    ModuleContext ctx;
    ModuleModel module;
};

} // namespace qmr
