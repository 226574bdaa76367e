#pragma once

#include "link/clock.h"

#include <QList>
#include <functional>

namespace qmr {

// A clock whose time moves only when told to: by sleep(), by advance(), or by an in-memory
// port whose read timed out. Starts at any given reading (tests use values near 2^32 to
// exercise the wrap).
class FakeClock : public Clock
{
public:
    explicit FakeClock(quint32 start = 1000) : m_now(start) {}

    quint32 milliseconds() override { return m_now; }
    void sleep(int ms) override
    {
        m_sleeps.append(ms);
        advance(ms);
    }
    void advance(int ms)
    {
        m_now += quint32(ms);
        if (m_onAdvance)
            m_onAdvance(m_now);
    }
    // Every sleep() in order, for tests of pauses.
    const QList<int> &sleeps() const { return m_sleeps; }
    void clearSleeps() { m_sleeps.clear(); }
    // Called after time moved, with the new reading (lets a test act at a chosen moment).
    void setOnAdvance(std::function<void(quint32)> hook) { m_onAdvance = std::move(hook); }

private:
    quint32 m_now;
    QList<int> m_sleeps;
    std::function<void(quint32)> m_onAdvance;
};

} // namespace qmr
