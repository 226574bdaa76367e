#pragma once

#include "link/clock.h"

#include <windows.h>

#include <cstdint>

namespace qmr {

// The real clock on Windows: milliseconds of the performance counter (wrapping at 2^32,
// callers take unsigned differences), its microseconds, and pauses that sleep to an absolute
// deadline on that counter.
//
// A pause sleeps on a high-resolution waitable timer (Windows 10 1803 and later) armed with
// an absolute due time, which wakes within a fraction of a millisecond of it; until the
// counter says the deadline has passed the clock sleeps again for what is left, so it never
// ends early, and it never waits on the CPU. Where Windows has no such timer it sleeps with
// the system's 100 ns sleep, or with Sleep, whole milliseconds rounded up; and where the timer
// is there but wakes later than the system's sleep (as under Wine, whose timers wake about a
// millisecond late while its sleep is Linux's), that sleep serves too: the clock tries both as
// it starts (some 10 ms) and keeps the finer.
//
// Sleep and the ordinary timers round up to the system tick, 15.6 ms by default, so the 1 ms
// pauses between the bytes of a frame would make a 9 ms frame take some 78 ms. The clock
// therefore raises the timer resolution to 1 ms (timeBeginPeriod) for as long as it exists;
// one clock lives for the whole run, so that is the run. Windows 11 may ignore that request
// while the program's window is minimised or hidden, unless the process opts out of
// timer-resolution throttling (SetProcessInformation, Windows 11 and some Windows 10
// releases): the clock does so, with the call looked up at run time so that a Windows without
// it still starts the program.
class SystemClock : public Clock
{
public:
    SystemClock();
    ~SystemClock() override;
    SystemClock(const SystemClock &) = delete;
    SystemClock &operator=(const SystemClock &) = delete;

    std::uint32_t milliseconds() override;
    std::int64_t microseconds() override;
    void sleepUntil(std::int64_t deadlineUs) override;

    // What the clock found on this Windows, for tests and the benchmark: whether it sleeps on
    // the high-resolution timer, and whether the throttling opt-out was taken.
    bool highResolutionTimer() const { return m_timer != nullptr; }
    bool throttlingOptedOut() const { return m_optedOut; }

private:
    using DelayFunction = LONG(NTAPI *)(BOOLEAN alertable, PLARGE_INTEGER interval);

    std::int64_t counter() const;
    // True when 1 ms sleeps on the timer end no later than with the system's own sleep.
    bool timerIsFiner();
    // Sleeps once towards a deadline leftUs ahead (at most a second) on the finest means
    // there is; may wake a little before it.
    void sleepOnce(std::int64_t leftUs);

    bool m_periodRaised = false;
    bool m_optedOut = false;
    std::int64_t m_frequency = 0;    // performance-counter ticks a second
    HANDLE m_timer = nullptr;        // the high-resolution waitable timer, if Windows has one
    DelayFunction m_delay = nullptr; // NtDelayExecution, if it can be found
};

} // namespace qmr
