#include "platform/windows/systemclock.h"

#include <timeapi.h>

#include <algorithm>
#include <array>
#include <utility>

namespace qmr {

namespace {

// Declared here: older SDK headers lack them, and the function is looked up at run time.
constexpr DWORD HighResolutionTimerFlag = 0x00000002; // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
constexpr int ProcessPowerThrottlingClass = 4;        // ProcessPowerThrottling
constexpr ULONG ThrottlingCurrentVersion = 1;
constexpr ULONG IgnoreTimerResolution = 0x4; // PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION

struct PowerThrottlingState
{
    ULONG Version;
    ULONG ControlMask;
    ULONG StateMask;
};

using SetProcessInformationFunction = BOOL(WINAPI *)(HANDLE, int, LPVOID, DWORD);

// The longest single sleep, so the conversions cannot overflow.
constexpr std::int64_t LongestSleepUs = 1'000'000;

// The system time now in 100 ns units since 1601, the base of absolute due times.
std::int64_t systemTime100ns()
{
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    return std::int64_t((std::uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

// Asks Windows to keep honouring the timer resolution this process asked for, also while its
// window is minimised or hidden. False where Windows has no such call or refuses it.
bool optOutOfTimerThrottling()
{
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (!kernel)
        return false;
    const auto function = reinterpret_cast<SetProcessInformationFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetProcessInformation")));
    if (!function)
        return false;
    // The control bit says which behaviour is decided, the state bit clear says "not throttled".
    PowerThrottlingState state{ThrottlingCurrentVersion, IgnoreTimerResolution, 0};
    return function(GetCurrentProcess(), ProcessPowerThrottlingClass, &state, sizeof state) != 0;
}

} // namespace

SystemClock::SystemClock()
    : m_periodRaised(timeBeginPeriod(1) == TIMERR_NOERROR), m_optedOut(optOutOfTimerThrottling())
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency); // never fails on Windows XP and later
    m_frequency = frequency.QuadPart;
    // The system's own sleep with a 100 ns interval, which Sleep calls with whole
    // milliseconds; where it exists it can sleep to a fraction of a millisecond (how close it
    // comes depends on the system: the timer resolution on Windows, none under Wine).
    if (const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll"))
        m_delay = reinterpret_cast<DelayFunction>(
            reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "NtDelayExecution")));
    // Fails with ERROR_INVALID_PARAMETER before Windows 10 1803.
    m_timer = CreateWaitableTimerExW(nullptr, nullptr, HighResolutionTimerFlag, TIMER_ALL_ACCESS);
    if (m_timer && m_delay && !timerIsFiner()) {
        CloseHandle(m_timer);
        m_timer = nullptr;
    }
}

bool SystemClock::timerIsFiner()
{
    // A few 1 ms sleeps each way (some 10 ms in all); the median of how late each ends.
    constexpr int Tries = 5;
    auto lateness = [&] {
        std::array<std::int64_t, Tries> late{};
        for (std::int64_t &l : late) {
            const std::int64_t start = microseconds();
            sleepUntil(start + 1000);
            l = microseconds() - start - 1000;
        }
        std::sort(late.begin(), late.end());
        return late[Tries / 2];
    };
    const std::int64_t withTimer = lateness();
    const HANDLE timer = std::exchange(m_timer, nullptr);
    const std::int64_t withDelay = lateness();
    m_timer = timer;
    return withTimer <= withDelay;
}

void SystemClock::sleepOnce(std::int64_t leftUs)
{
    if (m_timer) {
        // Due at an absolute time, so a thread that loses the CPU before the timer is armed
        // still wakes at the deadline. That time is the system's, which may be set back while
        // the timer runs: the wait ends by its own (relative) time-out then, a tick or two
        // after the deadline, and the caller sleeps again for what is left.
        LARGE_INTEGER due;
        due.QuadPart = systemTime100ns() + leftUs * 10;
        if (SetWaitableTimer(m_timer, &due, 0, nullptr, nullptr, FALSE)) {
            const DWORD bound = DWORD(leftUs / 1000 + 2);
            if (WaitForSingleObject(m_timer, bound) != WAIT_FAILED)
                return;
        }
    }
    // Relative (negative) in 100 ns units.
    LARGE_INTEGER relative;
    relative.QuadPart = -leftUs * 10;
    if (m_delay && m_delay(FALSE, &relative) >= 0)
        return;
    Sleep(DWORD((leftUs + 999) / 1000));
}

SystemClock::~SystemClock()
{
    if (m_timer)
        CloseHandle(m_timer);
    if (m_periodRaised)
        timeEndPeriod(1);
}

std::int64_t SystemClock::counter() const
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

std::uint32_t SystemClock::milliseconds()
{
    // In two parts, so the product cannot overflow however long the machine has been up.
    const std::int64_t now = counter();
    const std::int64_t ms = now / m_frequency * 1000 + now % m_frequency * 1000 / m_frequency;
    return std::uint32_t(ms);
}

std::int64_t SystemClock::microseconds()
{
    const std::int64_t now = counter();
    return now / m_frequency * 1'000'000 + now % m_frequency * 1'000'000 / m_frequency;
}

void SystemClock::sleepUntil(std::int64_t deadlineUs)
{
    // Sleeps again for what is left whenever a wake-up comes before the deadline; accepts a
    // late one as it comes.
    for (std::int64_t left = deadlineUs - microseconds(); left > 0;
         left = deadlineUs - microseconds())
        sleepOnce(std::min(left, LongestSleepUs));
}

} // namespace qmr
