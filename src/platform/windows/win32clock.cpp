#include "platform/windows/win32clock.h"

#include <windows.h>

#include <timeapi.h>

namespace qmr {

Win32Clock::Win32Clock() : m_periodRaised(timeBeginPeriod(1) == TIMERR_NOERROR) {}

Win32Clock::~Win32Clock()
{
    if (m_periodRaised)
        timeEndPeriod(1);
}

std::uint32_t Win32Clock::milliseconds()
{
    return timeGetTime();
}

void Win32Clock::sleep(int ms)
{
    if (ms <= 0)
        return;
    const DWORD start = timeGetTime();
    const DWORD length = DWORD(ms);
    for (DWORD elapsed = 0; elapsed < length; elapsed = timeGetTime() - start)
        Sleep(length - elapsed);
}

} // namespace qmr
