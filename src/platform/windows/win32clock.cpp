#include "platform/windows/win32clock.h"

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

// The most a pause is cut short of its due time to be waited out on the CPU: it bounds what
// the busy wait costs (a few per cent of a core in process mode at 2 ms pauses).
constexpr std::int64_t MostMarginUs = 250;

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

Win32Clock::Win32Clock()
    : m_periodRaised(timeBeginPeriod(1) == TIMERR_NOERROR), m_optedOut(optOutOfTimerThrottling())
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency); // never fails on Windows XP and later
    m_frequency = frequency.QuadPart;
    m_mostMargin = MostMarginUs * m_frequency / 1'000'000;
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
    m_margin = 0;
    m_lateMean = 0;
    m_lateSpread = 0;
}

bool Win32Clock::timerIsFiner()
{
    // A few 1 ms sleeps each way (some 10 ms in all); the median of how late each ends.
    constexpr int Tries = 5;
    const std::int64_t oneMs = m_frequency / 1000;
    auto lateness = [&] {
        std::array<std::int64_t, Tries> late{};
        for (std::int64_t &l : late) {
            const std::int64_t start = counter();
            sleepFor(oneMs);
            l = counter() - start - oneMs;
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

bool Win32Clock::fineSleep() const
{
    return m_timer || m_delay;
}

void Win32Clock::sleepFor(std::int64_t ticks)
{
    // Relative (negative) in 100 ns units, rounded up.
    LARGE_INTEGER relative;
    relative.QuadPart = -((ticks * 10'000'000 + m_frequency - 1) / m_frequency);
    if (m_timer && SetWaitableTimer(m_timer, &relative, 0, nullptr, nullptr, FALSE) &&
        WaitForSingleObject(m_timer, INFINITE) == WAIT_OBJECT_0)
        return;
    if (m_delay && m_delay(FALSE, &relative) >= 0)
        return;
    Sleep(DWORD((ticks * 1000 + m_frequency - 1) / m_frequency));
}

void Win32Clock::learn(std::int64_t late)
{
    // How late a sleep ends, as a running mean and spread (1/16 of each new value); the
    // margin is the mean plus twice the spread, at most MostMarginUs.
    m_lateMean += (late - m_lateMean) / 16;
    const std::int64_t off = late > m_lateMean ? late - m_lateMean : m_lateMean - late;
    m_lateSpread += (off - m_lateSpread) / 16;
    m_margin = std::clamp<std::int64_t>(m_lateMean + 2 * m_lateSpread, 0, m_mostMargin);
}

Win32Clock::~Win32Clock()
{
    if (m_timer)
        CloseHandle(m_timer);
    if (m_periodRaised)
        timeEndPeriod(1);
}

std::int64_t Win32Clock::counter() const
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

std::uint32_t Win32Clock::milliseconds()
{
    // In two parts, so the product cannot overflow however long the machine has been up.
    const std::int64_t now = counter();
    const std::int64_t ms = now / m_frequency * 1000 + now % m_frequency * 1000 / m_frequency;
    return std::uint32_t(ms);
}

void Win32Clock::sleep(int ms)
{
    if (ms <= 0)
        return;
    // The due time in counter ticks, rounded up.
    const std::int64_t due = counter() + (std::int64_t(ms) * m_frequency + 999) / 1000;
    if (!fineSleep()) {
        // Whole milliseconds, again for what is left until the counter says the time is due.
        for (std::int64_t left = due - counter(); left > 0; left = due - counter())
            Sleep(DWORD((std::min(left, m_frequency) * 1000 + m_frequency - 1) / m_frequency));
        return;
    }
    // Sleeps to the learnt margin before the due time, then waits out the rest on the CPU:
    // a woken thread runs a little late, and 25 pauses a poll add up.
    for (std::int64_t left = due - counter(); left > m_margin; left = due - counter()) {
        // At most a second at a time, so the conversions cannot overflow.
        const std::int64_t length = std::min(left - m_margin, m_frequency);
        const std::int64_t start = counter();
        sleepFor(length);
        learn(counter() - start - length);
    }
    while (counter() < due)
        YieldProcessor();
}

} // namespace qmr
