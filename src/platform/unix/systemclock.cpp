#include "systemclock.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace qmr {

namespace {

constexpr std::int64_t NsPerSecond = 1'000'000'000;
constexpr std::int64_t NsPerMs = 1'000'000;
// A new observation weighs 1/8 in the running figures: a few pauses adapt the margin, one
// odd wake-up does not.
constexpr int LearnShift = 3;

std::int64_t nowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * NsPerSecond + now.tv_nsec;
}

// Lets the other hardware thread of the core run while this one waits out the last
// microseconds of a pause.
inline void relax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    __asm__ __volatile__("yield");
#endif
}

} // namespace

SystemClock::SystemClock()
{
    // The default slack of 50 us lets a 2 ms sleep run to about 2.1 ms; the frame pacing adds
    // five sleeps per command.
#ifdef __linux__
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
}

std::uint32_t SystemClock::milliseconds()
{
    return std::uint32_t(std::uint64_t(nowNs()) / std::uint64_t(NsPerMs));
}

std::int64_t SystemClock::wakeMarginNs() const
{
    return std::clamp(m_meanLateNs + 2 * m_spreadNs, MinWakeMarginNs, MaxWakeMarginNs);
}

void SystemClock::learnWakeLateness(std::int64_t lateNs)
{
    // A wake-up held up by a busy machine says nothing about the usual lateness; capped, it
    // still widens the margin a little.
    lateNs = std::clamp<std::int64_t>(lateNs, 0, 2 * MaxWakeMarginNs);
    const std::int64_t deviation =
        lateNs > m_meanLateNs ? lateNs - m_meanLateNs : m_meanLateNs - lateNs;
    m_meanLateNs += (lateNs - m_meanLateNs) >> LearnShift;
    m_spreadNs += (deviation - m_spreadNs) >> LearnShift;
}

void SystemClock::sleep(int ms)
{
    if (ms <= 0)
        return;
    const std::int64_t deadline = nowNs() + std::int64_t(ms) * NsPerMs;
    const std::int64_t wakeAt = deadline - wakeMarginNs();
    if (wakeAt > nowNs()) {
        const timespec wake{time_t(wakeAt / NsPerSecond), long(wakeAt % NsPerSecond)};
        // An absolute deadline survives signals: the sleep resumes to the same end.
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR) {
        }
        learnWakeLateness(nowNs() - wakeAt);
    }
    while (nowNs() < deadline)
        relax();
}

} // namespace qmr
