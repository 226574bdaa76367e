#pragma once

#include <cstdint>

namespace qmr {

// The millisecond clock and the blocking sleep of the link and the operations.
// Real: a monotonic clock and a sleep to an absolute deadline. Tests: a fake clock whose time
// moves only when someone sleeps or a read times out, so long waits run in no real time.
class Clock
{
public:
    virtual ~Clock() = default;
    // Monotonic milliseconds; wraps at 2^32 (callers take unsigned 32-bit differences).
    virtual std::uint32_t milliseconds() = 0;
    // Monotonic microseconds on a count that does not wrap: the time base of deadlines.
    virtual std::int64_t microseconds() = 0;
    // Blocks without processing any events until microseconds() has reached deadlineUs;
    // returns at once when it already has. Never returns before the deadline, and does not
    // wait on the CPU: it ends when the system wakes the thread.
    virtual void sleepUntil(std::int64_t deadlineUs) = 0;
    // Blocks for ms milliseconds without processing any events; never shorter than ms.
    virtual void sleep(int ms)
    {
        if (ms > 0)
            sleepUntil(microseconds() + std::int64_t(ms) * 1000);
    }
};

} // namespace qmr
