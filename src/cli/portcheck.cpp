#include "portcheck.h"

#include "jsonoutput.h"
#include "link/linedefinition.h"
#include "link/link.h"
#include "terminaltext.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qmr {

int bitsPerByte(const LineSettings &line)
{
    return 1 + line.dataBits + (line.parity == 'n' ? 0 : 1) + line.stopBits;
}

namespace {

using nlohmann::json;

double bytesPerSecond(const LineSettings &line)
{
    return double(line.baud) / bitsPerByte(line);
}

// Bytes in flight at most: 200 ms of line time, so a reader held up by a busy machine does not
// leave the line idle (which would read as a slow adapter), and never more than a driver's
// buffer holds while nothing is read.
constexpr double InFlightSeconds = 0.2;
constexpr std::int64_t MinInFlight = 256;
constexpr std::int64_t MaxInFlight = 2048;
constexpr std::int64_t WriteChunk = 64;
// Nothing more came back for this long: the rest is lost (an adapter's latency timer holds
// bytes back 16 ms at most).
constexpr std::uint32_t SilenceMs = 250;
constexpr double PatternSeconds = 0.4;

std::int64_t inFlightFor(const LineSettings &line)
{
    return std::clamp(std::int64_t(bytesPerSecond(line) * InFlightSeconds), MinInFlight,
                      MaxInFlight);
}

// Sends the pattern and gathers what comes back with its arrival times; false on a port fault.
bool exchange(SerialPort &port, Clock &clock, const LineSettings &line, const std::string &pattern,
              std::string &received, std::vector<std::uint32_t> &arrivals)
{
    const std::int64_t inFlight = inFlightFor(line);
    const std::int64_t total = std::int64_t(pattern.size());
    std::int64_t sent = 0;
    std::uint32_t last = clock.milliseconds();
    for (;;) {
        const std::int64_t room = inFlight - (sent - std::int64_t(received.size()));
        if (sent < total && room > 0) {
            const std::int64_t n = std::min({WriteChunk, total - sent, room});
            if (port.write(pattern.data() + sent, n) != n)
                return false;
            sent += n;
        }
        char byte = 0;
        const int got = port.readByte(&byte);
        const std::uint32_t now = clock.milliseconds();
        if (got < 0)
            return false;
        if (got == 1) {
            received += byte;
            arrivals.push_back(now);
            last = now;
        }
        if (std::int64_t(received.size()) >= total || now - last > SilenceMs)
            return true;
    }
}

std::string rateText(double rate)
{
    char text[16];
    std::snprintf(text, sizeof text, "%.3f", rate);
    return text;
}

void printLine(std::ostream &out, const LineCheck &c)
{
    std::string text = (c.line + "              ").substr(0, 14) + (c.ok() ? "pass" : "FAIL");
    text += "  sent " + std::to_string(c.sent) + ", back " + std::to_string(c.received);
    if (c.received < c.sent)
        text += " (" + std::to_string(c.sent - c.received) + " lost)";
    text += ", changed " + std::to_string(c.changed);
    text += c.rate > 0 ? ", rate " + rateText(c.rate) : ", rate not timed";
    if (c.rate > 0 && std::fabs(c.rate - 1) > MaxRateError)
        text += " (more than 3 % off)";
    out << text << '\n';
}

} // namespace

bool LineCheck::ok() const
{
    return sent > 0 && received == sent && changed == 0 && rate > 0 &&
           std::fabs(rate - 1) <= MaxRateError;
}

std::string checkPattern(const LineSettings &line)
{
    const auto blocks = std::max<std::int64_t>(
        1, std::int64_t(std::ceil(bytesPerSecond(line) * PatternSeconds / 256)));
    std::string pattern;
    for (std::int64_t i = 0; i < blocks * 256; ++i) // an odd factor walks all 256 values
        pattern += char((i * 167 + 13) & 0xFF);
    return pattern;
}

std::int64_t changedBytes(const std::string &sent, const std::string &received)
{
    constexpr std::size_t LookAhead = 16;
    std::int64_t changed = 0;
    std::size_t j = 0;
    for (std::size_t i = 0; i < received.size(); ++i, ++j) {
        if (j < sent.size() && received[i] == sent[j])
            continue;
        // Bytes lost here: the next two that came back are found a little further on.
        for (std::size_t d = 1; d <= LookAhead && j + d < sent.size(); ++d) {
            const bool next = i + 1 >= received.size() ||
                              (j + d + 1 < sent.size() && received[i + 1] == sent[j + d + 1]);
            if (received[i] == sent[j + d] && next) {
                j += d;
                break;
            }
        }
        if (j >= sent.size() || received[i] != sent[j])
            ++changed;
    }
    return changed;
}

double measuredRate(const std::vector<std::uint32_t> &arrivalMs, const LineSettings &line)
{
    const std::size_t n = arrivalMs.size();
    if (n < 20)
        return 0;
    // The median of the times over half the bytes: a pause of either program, or an adapter
    // that hands bytes on in packets, moves a few of them but not the median.
    const std::size_t half = n / 2;
    std::vector<std::uint32_t> spans;
    for (std::size_t i = 0; i + half < n; ++i)
        spans.push_back(arrivalMs[i + half] - arrivalMs[i]);
    std::nth_element(spans.begin(), spans.begin() + std::ptrdiff_t(spans.size() / 2), spans.end());
    const std::uint32_t span = spans[spans.size() / 2];
    if (span == 0)
        return 0;
    const double nominalMs = double(half) * bitsPerByte(line) * 1000.0 / line.baud;
    return nominalMs / span;
}

int runCheckPort(const std::string &portName, bool json, DeviceFactory &devices, std::ostream &out,
                 std::ostream &err)
{
    const std::string device = devices.deviceFor(portName);
    if (device.empty()) {
        err << "qmrctl: no port " << escapeControls(portName, Backslash::AsIs)
            << " on this system (see qmrctl --help)\n";
        return 2;
    }
    PortDevices d = devices.makeDevices(device);
    nlohmann::json lines = nlohmann::json::array();
    int failed = 0;
    const auto fail = [&](const std::string &why) {
        if (json)
            out << jsonLine({{"port", portName}, {"ok", false}, {"error", why}, {"lines", lines}})
                << '\n';
        else
            err << "qmrctl: " << escapeControls(why, Backslash::AsIs) << '\n';
        return 1;
    };
    for (const char *definition : BaudRateTable) {
        const LineSettings line = *parseLineDefinition(definition);
        // The open refuses a device another program holds: a check never disturbs it.
        if (!d.port->open(device))
            return fail(portName + ": " + d.port->errorString());
        d.port->setTimeouts(Link::WorkingTimeouts);
        d.port->setLineSettings(line);
        const std::string pattern = checkPattern(line);
        std::string back;
        std::vector<std::uint32_t> arrivals;
        const bool worked = exchange(*d.port, *d.clock, line, pattern, back, arrivals);
        const std::string why = worked ? std::string() : d.port->errorString();
        d.port->close();
        if (!worked)
            return fail(portName + ": " + why);
        if (back.empty() && lines.empty()) {
            return fail("nothing came back on " + portName + " at " + definition +
                        ": is a loopback plug (TX joined to RX) fitted?");
        }
        LineCheck c{definition, std::int64_t(pattern.size()), std::int64_t(back.size()),
                    changedBytes(pattern, back), measuredRate(arrivals, line)};
        failed += c.ok() ? 0 : 1;
        lines.push_back({{"line", c.line},
                         {"ok", c.ok()},
                         {"sent", c.sent},
                         {"received", c.received},
                         {"changed", c.changed},
                         {"rate", std::round(c.rate * 1000) / 1000}});
        if (!json)
            printLine(out, c);
    }
    if (json)
        out << jsonLine({{"port", portName}, {"ok", failed == 0}, {"lines", lines}}) << '\n';
    else
        out << escapeControls(portName, Backslash::AsIs)
            << (failed == 0 ? std::string(": the adapter passed at all twelve line settings")
                            : ": the adapter failed at " + std::to_string(failed) +
                                  " of the twelve line settings")
            << '\n';
    out.flush();
    return failed == 0 ? 0 : 1;
}

} // namespace qmr
