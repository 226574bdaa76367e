#include "provisionoutput.h"

#include "consoleview.h"
#include "jsonoutput.h"
#include "terminaltext.h"
#include "vocabulary/vocabulary.h"

#include <nlohmann/json.hpp>

namespace qmr {

namespace {

using nlohmann::json;

std::string serials(const ProvisionEvent &e)
{
    return escapeControls(e.serial1) + "/" + escapeControls(e.serial2);
}

json eventJson(const ProvisionEvent &event)
{
    json j{{"event", ProvisionOutput::stateName(event.state)},
           {"port", escapeControls(event.port, Backslash::AsIs)},
           {"time", localTimeStamp(TimePrecision::Seconds)}};
    if (!event.serial1.empty() || !event.serial2.empty()) {
        j["serial1"] = escapeControls(event.serial1);
        j["serial2"] = escapeControls(event.serial2);
    }
    if (event.id1 > 0)
        j["id1"] = event.id1;
    if (event.id2 > 0)
        j["id2"] = event.id2;
    if (!event.text.empty())
        j["reason"] = escapeControls(event.text, Backslash::AsIs);
    return j;
}

} // namespace

ProvisionOutput::ProvisionOutput(std::ostream &out, std::ostream &err, Style style,
                                 std::size_t portCount,
                                 std::function<void(const ProvisionEvent &)> hook)
    : m_out(out), m_err(err), m_style(style), m_hook(std::move(hook)), m_status(portCount)
{
}

void ProvisionOutput::start(const std::vector<ProvisionPort> &ports, int nextId)
{
    if (m_style.json)
        return;
    std::string names;
    for (const ProvisionPort &p : ports)
        names += (names.empty() ? "" : ", ") + escapeControls(p.name, Backslash::AsIs);
    m_err << "qmrctl: provisioning on " << names << ", next ID " << ConsoleView::idText(nextId)
          << "; Ctrl-C stops\n"
          << std::flush;
}

std::string ProvisionOutput::idsText(int id1, int id2)
{
    return ConsoleView::idText(id1) + (id2 > 0 ? "/" + ConsoleView::idText(id2) : "");
}

const char *ProvisionOutput::stateName(PortState state)
{
    switch (state) {
    case PortState::Waiting:
        return "waiting";
    case PortState::Configuring:
        return "configuring";
    case PortState::Done:
        return "done";
    case PortState::Failed:
        return "failed";
    case PortState::Skipped:
        return "skipped";
    case PortState::Unavailable:
        return "unavailable";
    case PortState::Stopped:
        break;
    }
    return "stopped";
}

std::string ProvisionOutput::statusText(const ProvisionEvent &e)
{
    const std::string port = escapeControls(e.port, Backslash::AsIs) + ": ";
    switch (e.state) {
    case PortState::Waiting:
        return port + "waiting for a module";
    case PortState::Configuring:
        return port + "configuring " + serials(e) + " -> " + idsText(e.id1, e.id2);
    case PortState::Done:
        return port + "done: " + serials(e) + " -> " + idsText(e.id1, e.id2);
    case PortState::Failed:
        return port + "failed: " + (e.serial1.empty() ? "" : serials(e) + " ") +
               (e.id1 > 0 ? "(" + idsText(e.id1, e.id2) + ") " : "") +
               escapeControls(e.text, Backslash::AsIs);
    case PortState::Skipped:
        return port + "already in the record: " + serials(e) +
               " (left alone; --again configures it)";
    case PortState::Unavailable:
        return port + "not available: " + escapeControls(e.text, Backslash::AsIs);
    case PortState::Stopped:
        break;
    }
    return port + "stopped";
}

void ProvisionOutput::report(std::size_t index, const ProvisionEvent &event)
{
    const std::lock_guard lock(m_mutex);
    switch (event.state) {
    case PortState::Done:
        ++m_done;
        break;
    case PortState::Failed:
        if (event.id1 > 0)
            ++m_failed;
        break;
    case PortState::Skipped:
        ++m_skipped;
        break;
    default:
        break;
    }
    if (m_hook)
        m_hook(event);
    if (m_style.json) {
        m_out << jsonLine(eventJson(event)) << '\n' << std::flush;
        return;
    }
    m_status[index] = statusText(event);
    if (m_style.terminal) {
        redraw();
        return;
    }
    m_out << m_status[index] << '\n' << std::flush;
}

// One line per port, rewritten in place: back to the first line, then every line cleared
// and written again.
void ProvisionOutput::redraw()
{
    if (m_drawnLines > 0)
        m_out << "\x1b[" << m_drawnLines << 'A';
    // A line as wide as the terminal would wrap, and the cursor would no longer go back to
    // the first: each is cut one column short of the width.
    for (const std::string &line : m_status) {
        m_out << '\r' << "\x1b[K"
              << (m_style.columns > 1 ? cutToColumns(line, m_style.columns - 1) : line) << '\n';
    }
    m_drawnLines = int(m_status.size());
    m_out << std::flush;
}

void ProvisionOutput::markUnhandled()
{
    const std::lock_guard lock(m_mutex);
    m_unhandled = true;
}

void ProvisionOutput::trace(const std::string &line)
{
    const std::lock_guard lock(m_mutex);
    m_err << line << std::flush;
}

bool ProvisionOutput::finish(int nextId, bool outOfIds)
{
    const std::lock_guard lock(m_mutex);
    if (m_style.json) {
        json end{{"event", "end"},       {"done", m_done},   {"failed", m_failed},
                 {"skipped", m_skipped}, {"nextId", nextId}, {"idsLeft", !outOfIds}};
        m_out << jsonLine(end) << '\n' << std::flush;
    } else {
        if (outOfIds)
            m_err << "qmrctl: no reader IDs left (IDs end at 99): provisioning stopped\n";
        m_err << "qmrctl: " << m_done << (m_done == 1 ? " module" : " modules") << " configured, "
              << m_failed << " failed, " << m_skipped << " left alone\n"
              << std::flush;
    }
    return m_failed == 0 && !m_unhandled;
}

} // namespace qmr
