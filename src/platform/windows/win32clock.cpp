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
    // Fails with ERROR_INVALID_PARAMETER before Windows 10 1803: then Sleep serves.
    m_timer = CreateWaitableTimerExW(nullptr, nullptr, HighResolutionTimerFlag, TIMER_ALL_ACCESS);
    if (m_timer && !timerIsFiner()) {
        CloseHandle(m_timer);
        m_timer = nullptr;
    }
}

bool Win32Clock::timerIsFiner()
{
    // A few 1 ms pauses each way (some 10 ms in all); the median of how late each ends.
    constexpr int Tries = 5;
    auto lateness = [&] {
        std::array<std::int64_t, Tries> late{};
        for (std::int64_t &l : late) {
            const std::int64_t start = counter();
            sleep(1);
            l = counter() - start;
        }
        std::sort(late.begin(), late.end());
        return late[Tries / 2];
    };
    const std::int64_t withTimer = lateness();
    const HANDLE timer = std::exchange(m_timer, nullptr);
    const std::int64_t withSleep = lateness();
    m_timer = timer;
    return withTimer <= withSleep;
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
    for (std::int64_t left = due - counter(); left > 0; left = due - counter()) {
        // At most a second at a time, so the conversions below cannot overflow.
        if (left > m_frequency)
            left = m_frequency;
        if (m_timer) {
            // Relative due time (negative) in 100 ns units, rounded up.
            LARGE_INTEGER relative;
            relative.QuadPart = -((left * 10'000'000 + m_frequency - 1) / m_frequency);
            if (SetWaitableTimer(m_timer, &relative, 0, nullptr, nullptr, FALSE) &&
                WaitForSingleObject(m_timer, INFINITE) == WAIT_OBJECT_0)
                continue;
        }
        Sleep(DWORD((left * 1000 + m_frequency - 1) / m_frequency));
    }
}

} // namespace qmr
