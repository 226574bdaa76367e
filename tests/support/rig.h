#pragma once

#include "link/link.h"
#include "link/portmap.h"
#include "operations/modulecontext.h"
#include "settings/settings.h"
#include "sim/fakeclock.h"
#include "sim/memoryport.h"
#include "sim/modulemodel.h"
#include "support/memorysettingsstore.h"
#include "support/recordingview.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qmr {

// The in-memory port with a hand on each command frame: a test may keep a command from the
// module (no reply comes), answer it itself, or refuse an open, and sees every command the
// link sent, whether the module heard it or not.
class InterceptingPort : public SerialPort
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
        std::string replyText; // for Reply: the text between the frame's 0x0A and check digits
    };

    InterceptingPort(MemoryPort &inner, FakeClock &clock) : m_inner(inner), m_clock(clock) {}

    std::function<Response(const std::string &command)> script;
    std::function<bool(const std::string &device)> refuse; // true: this open fails (Busy)
    std::vector<std::string> sent;                         // every command text, in order
    std::function<void(const std::string &command)> onCommand;
    bool fixed = false; // the line is the far end's, as on a raw network port

    // The whole reply frame for a reply text: 0x0A, text, check digits, 0x0D.
    static std::string replyFrame(std::string_view text);

    bool open(const std::string &device) override;
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
    std::int64_t write(const char *data, std::int64_t count) override;
    int readByte(char *byte) override { return m_inner.readByte(byte); }
    bool fixedLine() const override { return fixed; }
    PortError error() const override { return m_refused ? PortError::Busy : m_inner.error(); }
    std::string errorString() const override
    {
        return m_refused ? std::string("held by another program") : m_inner.errorString();
    }

private:
    MemoryPort &m_inner;
    FakeClock &m_clock;
    std::vector<std::string> m_chunks; // the writes of the frame being sent
    bool m_refused = false;
};

// The operations' world in one object: sixteen COM numbers, COM n being the device
// "/dev/ttyQn"; a test adds the devices that exist and the modules behind them.
struct Rig
{
    Rig();

    static std::string device(int com) { return "/dev/ttyQ" + std::to_string(com); }
    void addModule(int com, ModuleModel &model) { memory.addDevice(device(com), &model); }
    void addEmptyPort(int com) { memory.addDevice(device(com)); }
    // The remembered settings point at port com with line definition index lineIndex.
    void remember(int com, int lineIndex);
    // A successful scan of `module` on port 3; the records are cleared afterwards. False
    // when the scan did not succeed (the test cannot go on).
    [[nodiscard]] bool scanned();
    void clearRecords();
    // The sleeps of exactly ms milliseconds since the records were cleared.
    int sleepsOf(int ms) const;

    FakeClock clock;
    MemoryPort memory{clock};
    InterceptingPort port{memory, clock};
    FixedPortMap map;
    Link link;
    Settings settings;
    MemorySettingsStore store;
    RecordingView view;
    ModuleContext ctx;
    ModuleModel module;
};

} // namespace qmr
