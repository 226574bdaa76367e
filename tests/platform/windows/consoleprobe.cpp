// consoleprobe.exe: runs a console program on a console of its own and reports what the
// program left of the console's state, run by console.sh:
//   consoleprobe.exe CTRL_C_COUNT DELAY_MS PROGRAM [ARGUMENTS...]
// The console starts with output code page 437 and output mode processed + wrap (no
// virtual-terminal processing). DELAY_MS after the program has set its code page the probe
// sends CTRL_C_COUNT Ctrl-C events to the console (1 ms apart; 0: none). It prints, one a line:
//   before CP MODE    the console as the program was given it
//   during CP VT      the code page other than 437 and the virtual-terminal bit, if they were
//                     ever seen while it ran
//   after CP MODE     the console once it ended
//   screen USED ESC   characters written on the screen, and escape characters or "[K" shown
//                     there as text (an escape sequence the console did not interpret)
//   exit CODE         its exit code (hexadecimal)
// and the screen's text (other than ASCII as '?') on standard error.
// and ends with 0, or 2 when it could not run the program at all.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr DWORD VirtualTerminalProcessing = 0x0004;

// The probe stays out of its own Ctrl-C: a handler (not the ignore flag, which the child
// would inherit) that takes every interrupt.
BOOL WINAPI ignoreInterrupt(DWORD event)
{
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

// One argument as the command line's parser reads it back.
std::wstring quoted(const wchar_t *argument)
{
    std::wstring result = L"\"";
    for (const wchar_t *c = argument; *c; ++c) {
        if (*c == L'"')
            result += L'\\';
        result += *c;
    }
    return result + L"\"";
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: consoleprobe CTRL_C_COUNT DELAY_MS PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    const int interrupts = _wtoi(argv[1]);
    const DWORD delayMs = DWORD(_wtoi(argv[2]));
    std::wstring commandLine;
    for (int i = 3; i < argc; ++i)
        commandLine += (i > 3 ? L" " : L"") + quoted(argv[i]);

    // The probe's output stays where it was sent (a file), the console is the program's.
    const HANDLE report = GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE screenText = GetStdHandle(STD_ERROR_HANDLE);
    FreeConsole();
    if (!AllocConsole()) {
        std::fprintf(stderr, "consoleprobe: no console (%lu)\n", GetLastError());
        return 2;
    }
    SetConsoleCtrlHandler(ignoreInterrupt, TRUE);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE out =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    const HANDLE in =
        CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    SetConsoleOutputCP(437);
    SetConsoleMode(out, ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT);

    std::string lines;
    auto line = [&](const char *format, unsigned long a, unsigned long b) {
        char text[64];
        std::snprintf(text, sizeof text, format, a, b);
        lines += text;
    };
    DWORD mode = 0;
    GetConsoleMode(out, &mode);
    line("before %lu 0x%lx\n", GetConsoleOutputCP(), mode);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::fprintf(stderr, "consoleprobe: cannot start the program (%lu)\n", GetLastError());
        return 2;
    }
    DWORD start = GetTickCount();
    bool setUp = false;
    int sent = 0;
    UINT runningCodePage = 437;
    bool runningEscapes = false;
    while (WaitForSingleObject(process.hProcess, 1) == WAIT_TIMEOUT) {
        // What the program set up, however briefly: it gives the console back as it ends.
        if (GetConsoleOutputCP() != 437)
            runningCodePage = GetConsoleOutputCP();
        if (GetConsoleMode(out, &mode) && (mode & VirtualTerminalProcessing) != 0)
            runningEscapes = true;
        // Counted from when the program has set up its console (its code page shows), so a
        // slow start under load does not move the interrupt before its handler is there.
        if (!setUp && runningCodePage != 437) {
            setUp = true;
            start = GetTickCount();
        }
        if (setUp && sent < interrupts && GetTickCount() - start >= delayMs + DWORD(sent)) {
            GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
            ++sent;
        }
    }
    line("during %lu %lu\n", runningCodePage, runningEscapes ? 1 : 0);
    GetConsoleMode(out, &mode);
    line("after %lu 0x%lx\n", GetConsoleOutputCP(), mode);
    // What the screen shows: an escape sequence the console did not interpret stays there as
    // text ("[K", "[2A"); count the escape characters and the "[K" left.
    CONSOLE_SCREEN_BUFFER_INFO screen{};
    GetConsoleScreenBufferInfo(out, &screen);
    std::wstring shown(std::size_t(screen.dwSize.X) * std::size_t(screen.dwSize.Y), L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(out, shown.data(), DWORD(shown.size()), {0, 0}, &read);
    shown.resize(read);
    unsigned long garbage = 0;
    for (std::size_t i = 0; i < shown.size(); ++i)
        if (shown[i] == L'\x1b' || shown.compare(i, 2, L"[K") == 0)
            ++garbage;
    std::size_t used = shown.find_last_not_of(L' ');
    // The screen as text on standard error, the lines' trailing blanks dropped, for a reader.
    std::string text;
    for (std::size_t row = 0;
         screen.dwSize.X > 0 && row * std::size_t(screen.dwSize.X) < shown.size(); ++row) {
        std::wstring cells =
            shown.substr(row * std::size_t(screen.dwSize.X), std::size_t(screen.dwSize.X));
        cells.erase(cells.find_last_not_of(L' ') + 1);
        for (const wchar_t c : cells)
            text += c < 0x80 ? char(c) : '?';
        if (!cells.empty())
            text += '\n';
    }

    line("screen %lu %lu\n", used == std::wstring::npos ? 0ul : (unsigned long)(used + 1), garbage);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    line("exit 0x%lx%.0lu\n", code, 0ul);
    DWORD written = 0;
    WriteFile(report, lines.data(), DWORD(lines.size()), &written, nullptr);
    WriteFile(screenText, text.data(), DWORD(text.size()), &written, nullptr);
    return 0;
}
