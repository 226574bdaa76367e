#include "platform/windows/console.h"

#include <cstdio>

namespace qmr {

namespace {

// Declared here for SDK headers that lack it (it came with Windows 10).
constexpr DWORD VirtualTerminalProcessing = 0x0004; // ENABLE_VIRTUAL_TERMINAL_PROCESSING

} // namespace

Console::Console()
{
    m_output.handle = GetStdHandle(STD_OUTPUT_HANDLE);
    m_error.handle = GetStdHandle(STD_ERROR_HANDLE);
    // Both modes are read before either is changed: the two handles may be one screen buffer,
    // and what is given back must be what was found.
    for (Stream *stream : {&m_output, &m_error})
        stream->console = stream->handle && stream->handle != INVALID_HANDLE_VALUE &&
                          GetConsoleMode(stream->handle, &stream->mode);
    // 0 when the program has no console.
    m_outputCodePage = GetConsoleOutputCP();

    // The handler before any change, so a Ctrl-C while the console is set up gives back what
    // was found too.
    s_console.store(this);
    SetConsoleCtrlHandler(&Console::handle, TRUE);

    enableEscapes(m_output);
    enableEscapes(m_error);
    if (m_outputCodePage)
        SetConsoleOutputCP(CP_UTF8);
}

Console::~Console()
{
    SetConsoleCtrlHandler(&Console::handle, FALSE);
    s_console.store(nullptr);
    // What is still buffered goes out in the code page it was written for.
    std::fflush(stdout);
    std::fflush(stderr);
    restore();
}

int Console::outputWidth() const
{
    CONSOLE_SCREEN_BUFFER_INFO screen{};
    return GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &screen)
               ? screen.srWindow.Right - screen.srWindow.Left + 1
               : 0;
}

void Console::enableEscapes(Stream &stream)
{
    if (!stream.console)
        return;
    // A console before Windows 10 refuses the flag: then nothing changes and lines stay plain.
    const DWORD wanted = stream.mode | ENABLE_PROCESSED_OUTPUT | VirtualTerminalProcessing;
    DWORD now = 0;
    if (!SetConsoleMode(stream.handle, wanted) || !GetConsoleMode(stream.handle, &now) ||
        (now & VirtualTerminalProcessing) == 0)
        return;
    stream.escapes = interpretsEscapes(stream.handle);
    if (!stream.escapes)
        SetConsoleMode(stream.handle, stream.mode);
}

bool Console::interpretsEscapes(HANDLE handle)
{
    // A console may take the flag and still show the sequences as text (Wine's does): one
    // harmless sequence (attributes back to normal) is written and the cursor watched. Shown
    // as text, it moves the cursor; then it is blanked out and the cursor put back.
    CONSOLE_SCREEN_BUFFER_INFO before{};
    if (!GetConsoleScreenBufferInfo(handle, &before))
        return false;
    static constexpr wchar_t Probe[] = L"\x1b[0m";
    constexpr DWORD ProbeLength = sizeof Probe / sizeof Probe[0] - 1;
    DWORD written = 0;
    if (!WriteConsoleW(handle, Probe, ProbeLength, &written, nullptr))
        return false;
    CONSOLE_SCREEN_BUFFER_INFO after{};
    if (!GetConsoleScreenBufferInfo(handle, &after))
        return false;
    if (after.dwCursorPosition.X == before.dwCursorPosition.X &&
        after.dwCursorPosition.Y == before.dwCursorPosition.Y)
        return true;
    DWORD blanked = 0;
    FillConsoleOutputCharacterW(handle, L' ', ProbeLength, before.dwCursorPosition, &blanked);
    SetConsoleCursorPosition(handle, before.dwCursorPosition);
    return false;
}

void Console::restore()
{
    if (m_restored.exchange(true))
        return;
    if (m_outputCodePage)
        SetConsoleOutputCP(m_outputCodePage);
    for (const Stream *stream : {&m_output, &m_error})
        if (stream->console)
            SetConsoleMode(stream->handle, stream->mode);
}

BOOL WINAPI Console::handle(DWORD event)
{
    Console *console = s_console.load();
    if (!console)
        return FALSE;
    const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    // The first interrupt in process mode stops it; the program then ends normally.
    if (interrupt && console->m_armed.load() && !console->m_requested.exchange(true))
        return TRUE;
    // Every other event ends the program: the console goes back as it was first. An interrupt
    // ends it here, with the code Windows' own default gives (Wine's would give 0, which a
    // script would take for success); the others end it through the system's default.
    console->restore();
    if (interrupt)
        ExitProcess(STATUS_CONTROL_C_EXIT);
    return FALSE;
}

} // namespace qmr
