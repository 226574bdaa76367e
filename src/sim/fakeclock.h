#pragma once

#include "link/clock.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace qmr {

// A clock whose time moves only when told to: by sleep(), by advance(), or by an in-memory
// port whose read timed out. Starts at any given reading (tests use values near 2^32 to
// exercise the wrap).
class FakeClock : public Clock
{
public:
    explicit FakeClock(std::uint32_t start = 1000) : m_now(start) {}

    std::uint32_t milliseconds() override { return m_now; }
    void sleep(int ms) override
    {
        m_sleeps.push_back(ms);
        advance(ms);
    }
    void advance(int ms)
    {
        m_now += std::uint32_t(ms);
        if (m_onAdvance)
            m_onAdvance(m_now);
    }
    // Every sleep() in order, for tests of pauses.
    const std::vector<int> &sleeps() const { return m_sleeps; }
    void clearSleeps() { m_sleeps.clear(); }
    // Called after time moved, with the new reading (lets a test act at a chosen moment).
    void setOnAdvance(std::function<void(std::uint32_t)> hook) { m_onAdvance = std::move(hook); }

private:
    std::uint32_t m_now;
    std::vector<int> m_sleeps;
    std::function<void(std::uint32_t)> m_onAdvance;
};

} // namespace qmr
