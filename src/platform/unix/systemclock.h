#pragma once

#include "link/clock.h"

#include <cstdint>

namespace qmr {

// The real clock: CLOCK_MONOTONIC milliseconds and microseconds, and pauses that sleep to an
// absolute deadline on that clock (clock_nanosleep with TIMER_ABSTIME), so a pause measured
// from a start ends at its deadline however late the sleeps before it woke. The thread's
// timer slack is cut to 1 ns: the default 50 us would be added to every wake-up. A pause
// never ends early and never waits on the CPU: it ends when the system wakes the thread.
class SystemClock : public Clock
{
public:
    // Sets the calling thread's timer slack; create the clock on the thread that sleeps.
    SystemClock();

    std::uint32_t milliseconds() override;
    std::int64_t microseconds() override;
    void sleepUntil(std::int64_t deadlineUs) override;
};

} // namespace qmr
