#pragma once

#include "devicefactory.h"
#include "vocabulary/vocabulary.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace qmr {

// A rate further off its nominal value than this share fails the line.
inline constexpr double MaxRateError = 0.03;

// How one line setting went through a loopback plug.
struct LineCheck
{
    std::string line; // "19200,e,8,1"
    std::int64_t sent = 0;
    std::int64_t received = 0;
    std::int64_t changed = 0; // bytes that came back with another value
    double rate = 0;          // the measured rate as a share of the nominal one; 0: not timed
    bool ok() const;
};

// Bits a byte takes on the wire: start, data, parity, stop.
int bitsPerByte(const LineSettings &line);
// The test pattern for a line: every byte value equally often, long enough to last at least
// 400 ms at the line's rate (and never shorter than 256 bytes), so that an adapter that hands
// bytes on in packets still times well.
std::string checkPattern(const LineSettings &line);
// Compares what came back with what was sent: lost bytes are skipped over (the pattern's
// bytes are distinct within any 256), other differences count as changed.
std::int64_t changedBytes(const std::string &sent, const std::string &received);
// The rate of the bytes that came back, from their arrival times (ms), as a share of the
// nominal rate; 0 when too few came to time.
double measuredRate(const std::vector<std::uint32_t> &arrivalMs, const LineSettings &line);

// qmrctl check-port PORT [--json]: sends the pattern through a loopback plug at each of the
// twelve line settings and judges each. Exit 0 when every line passes, 1 when one fails, the
// port does not open (in use by another program, say) or nothing comes back, 2 when the port
// is unknown.
int runCheckPort(const std::string &portName, bool json, DeviceFactory &devices, std::ostream &out,
                 std::ostream &err);

} // namespace qmr
