#pragma once

#include "link/clock.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace qmr {

// A clock whose time moves only when told to: by sleep(), by sleepUntil(), by advance(), or
// by an in-memory port whose read timed out. Starts at any given reading (tests use values
// near 2^32 to exercise the wrap).
class FakeClock : public Clock
{
public:
    explicit FakeClock(std::uint32_t start = 1000) : m_nowUs(std::int64_t(start) * 1000) {}

    std::uint32_t milliseconds() override { return std::uint32_t(m_nowUs / 1000); }
    std::int64_t microseconds() override { return m_nowUs; }
    void sleep(int ms) override
    {
        m_sleeps.push_back(ms);
        advance(ms);
    }
    // Wakes at the deadline, or as late as the next queued lateness says; a sleep whose
    // deadline has passed takes no time. Recorded in sleeps() as whole milliseconds asked.
    void sleepUntil(std::int64_t deadlineUs) override
    {
        const std::int64_t late = m_lateness.empty() ? 0 : m_lateness.front();
        if (!m_lateness.empty())
            m_lateness.pop_front();
        m_wakeDeadlines.push_back(deadlineUs);
        if (deadlineUs > m_nowUs)
            m_sleeps.push_back(int((deadlineUs - m_nowUs + 999) / 1000));
        advanceUs(std::max(deadlineUs - m_nowUs, std::int64_t(0)) + late);
    }
    void advance(int ms) { advanceUs(std::int64_t(ms) * 1000); }
    void advanceUs(std::int64_t us)
    {
        m_nowUs += us;
        if (m_onAdvance)
            m_onAdvance(milliseconds());
    }
    // Every sleep() in order, for tests of pauses.
    const std::vector<int> &sleeps() const { return m_sleeps; }
    void clearSleeps() { m_sleeps.clear(); }
    // The deadline of every sleepUntil() in order.
    const std::vector<std::int64_t> &wakeDeadlines() const { return m_wakeDeadlines; }
    // The next sleepUntil() calls wake these many microseconds past their deadlines, in turn.
    void wakeLate(std::deque<std::int64_t> lateUs) { m_lateness = std::move(lateUs); }
    // Called after time moved, with the new reading (lets a test act at a chosen moment).
    void setOnAdvance(std::function<void(std::uint32_t)> hook) { m_onAdvance = std::move(hook); }

private:
    std::int64_t m_nowUs;
    std::vector<int> m_sleeps;
    std::vector<std::int64_t> m_wakeDeadlines;
    std::deque<std::int64_t> m_lateness;
    std::function<void(std::uint32_t)> m_onAdvance;
};

} // namespace qmr
