#pragma once

#include "link/clock.h"

#include <cstdint>

namespace qmr {

// The real clock: CLOCK_MONOTONIC milliseconds and sleeps to an absolute deadline, with the
// thread's timer slack cut to 1 ns so a pause ends when it is due and not later.
class SystemClock : public Clock
{
public:
    // Sets the calling thread's timer slack; create the clock on the thread that sleeps.
    SystemClock();

    std::uint32_t milliseconds() override;
    void sleep(int ms) override;
};

} // namespace qmr
