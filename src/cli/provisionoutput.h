#pragma once

#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace qmr {

// A port to provision on: the name as typed and the device behind it.
struct ProvisionPort
{
    std::string name;
    std::string device;
};

enum class PortState
{
    Waiting,     // for a module to answer
    Configuring, // IDs given out, settings being sent
    Done,        // configured and read back; waiting for it to be unplugged
    Failed,      // a command or the read-back failed; waiting for it to be unplugged
    Skipped,     // the record has it already (no --again); waiting for it to be unplugged
    Unavailable, // the port does not open
    Stopped,     // the port's thread has ended
};

struct ProvisionEvent
{
    std::string port;
    PortState state = PortState::Waiting;
    std::string serial1;
    std::string serial2;
    int id1 = 0;
    int id2 = 0;      // 0 in one-reader mode
    std::string text; // why it failed, or the port is unavailable
};

// What a provisioning run shows while it runs: the opening line, one status line per port
// (redrawn in place on a terminal) or one JSON object per event, and the end summary with
// the counts. Every port's thread reports here; one lock keeps the lines whole.
class ProvisionOutput
{
public:
    struct Style
    {
        bool json = false;     // one JSON object per event on the output stream
        bool terminal = false; // status lines redrawn in place
        int columns = 0;       // the terminal's width, 0 unknown
    };

    ProvisionOutput(std::ostream &out, std::ostream &err, Style style, std::size_t portCount,
                    std::function<void(const ProvisionEvent &)> hook);

    // "provisioning on ...": the ports and the next ID (not in JSON).
    void start(const std::vector<ProvisionPort> &ports, int nextId);
    // Counts the event, passes it to the hook and shows it.
    void report(std::size_t index, const ProvisionEvent &event);
    // A module was found but got no IDs: the run does not end well.
    void markUnhandled();
    // A frame trace line, on the error stream between whole status lines.
    void trace(const std::string &line);
    // The end summary; true when every module handled succeeded.
    bool finish(int nextId, bool outOfIds);

    // The status line of an event, as printed (module bytes escaped).
    static std::string statusText(const ProvisionEvent &event);
    static const char *stateName(PortState state);
    // "05/06", or "05" in one-reader mode.
    static std::string idsText(int id1, int id2);

private:
    void redraw();

    std::ostream &m_out;
    std::ostream &m_err;
    Style m_style;
    std::function<void(const ProvisionEvent &)> m_hook;

    std::mutex m_mutex; // the streams, the status lines, the counts
    std::vector<std::string> m_status;
    int m_drawnLines = 0;
    int m_done = 0;
    int m_failed = 0;
    int m_skipped = 0;
    bool m_unhandled = false;
};

} // namespace qmr
