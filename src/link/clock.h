#pragma once

#include <cstdint>

namespace qmr {

// The millisecond clock and the blocking sleep of the link and the operations.
// Real: a monotonic clock and a precise sleep. Tests: a fake clock whose time moves only
// when someone sleeps or a read times out, so long waits run in no real time.
class Clock
{
public:
    virtual ~Clock() = default;
    // Monotonic milliseconds; wraps at 2^32 (callers take unsigned 32-bit differences).
    virtual std::uint32_t milliseconds() = 0;
    // Blocks for ms milliseconds without processing any events; never shorter than ms.
    virtual void sleep(int ms) = 0;
};

} // namespace qmr
