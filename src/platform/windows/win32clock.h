#pragma once

#include "link/clock.h"

#include <cstdint>

namespace qmr {

// The real clock on Windows: timeGetTime milliseconds (wrapping at 2^32, callers take unsigned
// differences) and pauses that last their milliseconds.
//
// Sleep() rounds up to the system tick, 15.6 ms by default, so the 1 ms pauses between the
// bytes of a frame would make a 9 ms frame take some 78 ms. The clock therefore raises the
// timer resolution to 1 ms (timeBeginPeriod) for as long as it exists; one clock lives for the
// whole run, so that is the run.
class Win32Clock : public Clock
{
public:
    Win32Clock();
    ~Win32Clock() override;
    Win32Clock(const Win32Clock &) = delete;
    Win32Clock &operator=(const Win32Clock &) = delete;

    std::uint32_t milliseconds() override;
    // Sleeps until timeGetTime says ms milliseconds have passed; Sleep may wake early or late
    // by a tick, so it sleeps again for what is left until the time is due.
    void sleep(int ms) override;

private:
    bool m_periodRaised = false;
};

} // namespace qmr
