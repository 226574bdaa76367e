#pragma once

#include "clock.h"

namespace qmr {

// A wait of a fixed length on a Clock, measured from construction (or restart()) as an
// unsigned 32-bit difference, so the clock's wrap to 0 after 2^32 ms does no harm.
class Deadline
{
public:
    Deadline(Clock &clock, std::uint32_t lengthMs) : m_clock(clock), m_length(lengthMs)
    {
        restart();
    }

    void restart() { m_start = m_clock.milliseconds(); }
    // Milliseconds since the start, read from the clock now.
    std::uint32_t elapsed() const { return m_clock.milliseconds() - m_start; }
    // True once more than the length has passed (a 120 ms wait is over at 121 ms).
    bool expired() const { return elapsed() > m_length; }
    std::uint32_t length() const { return m_length; }
    // Milliseconds left until the length has passed (0 once it has).
    std::uint32_t remaining() const
    {
        const std::uint32_t spent = elapsed();
        return spent < m_length ? m_length - spent : 0;
    }

private:
    Clock &m_clock;
    std::uint32_t m_length;
    std::uint32_t m_start = 0;
};

} // namespace qmr
