#include "systemclock.h"

#include <cerrno>
#include <ctime>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace qmr {

namespace {

constexpr std::int64_t UsPerSecond = 1'000'000;

} // namespace

SystemClock::SystemClock()
{
    // The default slack of 50 us lets a 2 ms sleep run to about 2.1 ms; a poll holds six
    // wake-ups it cannot avoid.
#ifdef __linux__
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
}

std::uint32_t SystemClock::milliseconds()
{
    return std::uint32_t(std::uint64_t(microseconds()) / 1000u);
}

std::int64_t SystemClock::microseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * UsPerSecond + now.tv_nsec / 1000;
}

void SystemClock::sleepUntil(std::int64_t deadlineUs)
{
    const timespec wake{time_t(deadlineUs / UsPerSecond), long(deadlineUs % UsPerSecond) * 1000};
    // An absolute deadline survives signals: the sleep resumes to the same end. The kernel
    // wakes no earlier than the deadline, and at once when it has passed.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR) {
    }
}

} // namespace qmr
