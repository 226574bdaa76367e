#pragma once

#include "link/clock.h"

#include <cstdint>

namespace qmr {

// The real clock: CLOCK_MONOTONIC milliseconds and pauses that end when they are due.
//
// A sleeping thread is woken some tens of microseconds late (60-90 us on a virtual machine),
// and process mode pauses 25 times a poll, so the lateness would add up to several percent of
// its pace. A pause therefore sleeps to an absolute deadline less a margin and waits out the
// rest on the CPU. The margin follows how late this machine actually wakes (its mean plus
// twice its spread, 20-200 us), so the busy part stays a few tens of microseconds a pause.
// The thread's timer slack is cut to 1 ns as well.
class SystemClock : public Clock
{
public:
    static constexpr std::int64_t MinWakeMarginNs = 20'000;
    static constexpr std::int64_t MaxWakeMarginNs = 200'000;

    // Sets the calling thread's timer slack; create the clock on the thread that sleeps, and
    // sleep on it from that thread only (the learnt margin is not shared between threads).
    SystemClock();

    std::uint32_t milliseconds() override;
    // Never returns before ms milliseconds have passed; rarely more than a few microseconds
    // after.
    void sleep(int ms) override;

    // How early the sleep part of a pause is asked to end now, in nanoseconds.
    std::int64_t wakeMarginNs() const;

private:
    void learnWakeLateness(std::int64_t lateNs);

    // Running mean of how late the system wakes a sleeper, and of how far a wake-up strays
    // from that mean (nanoseconds).
    std::int64_t m_meanLateNs = 60'000;
    std::int64_t m_spreadNs = 20'000;
};

} // namespace qmr
