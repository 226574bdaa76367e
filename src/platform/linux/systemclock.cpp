#include "systemclock.h"

#include <cerrno>
#include <ctime>
#include <sys/prctl.h>

namespace qmr {

SystemClock::SystemClock()
{
    // The default slack of 50 us lets a 2 ms sleep run to about 2.1 ms; the frame pacing adds
    // five sleeps per command.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

std::uint32_t SystemClock::milliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t ms =
        std::uint64_t(now.tv_sec) * 1000u + std::uint64_t(now.tv_nsec) / 1000000u;
    return std::uint32_t(ms);
}

void SystemClock::sleep(int ms)
{
    if (ms <= 0)
        return;
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += long(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_nsec -= 1000000000L;
        ++deadline.tv_sec;
    }
    // An absolute deadline survives signals: the sleep resumes to the same end.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

} // namespace qmr
