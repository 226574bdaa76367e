// wakelateness: how late this machine wakes a thread that sleeps 2 ms, sampled for a while.
// Prints "median_us p99_us mean_us samples". A plain sleeper, as any program sleeps (the default
// 50 us timer slack included), unless --min-slack asks for the 1 ns slack the clock of the
// link sets for itself.
//
//   build/bench/wakelateness SECONDS [--min-slack]

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/prctl.h>
#include <vector>

namespace {

std::int64_t nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

} // namespace

int main(int argc, char **argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    if (argc > 2 && std::strcmp(argv[2], "--min-slack") == 0)
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    constexpr std::int64_t SleepNs = 2'000'000;
    const timespec sleep{0, long(SleepNs)};
    std::vector<double> lateUs;
    const std::int64_t end = nowNs() + std::int64_t(seconds * 1e9);
    while (nowNs() < end) {
        const std::int64_t start = nowNs();
        nanosleep(&sleep, nullptr);
        lateUs.push_back(double(nowNs() - start - SleepNs) / 1000.0);
    }
    if (lateUs.empty())
        return 1;
    std::sort(lateUs.begin(), lateUs.end());
    double sum = 0;
    for (const double late : lateUs)
        sum += late;
    std::printf("%.1f %.1f %.1f %zu\n", lateUs[lateUs.size() / 2], lateUs[lateUs.size() * 99 / 100],
                sum / double(lateUs.size()), lateUs.size());
    return 0;
}
