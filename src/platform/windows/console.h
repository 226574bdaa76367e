#pragma once

#include "cli/interruptsource.h"

#include <windows.h>

#include <atomic>

namespace qmr {

// The console qmrctl writes to, set up for the run and given back as it was found.
//
// For the run: the output code page is UTF-8 (the Chinese texts), and virtual-terminal
// processing is turned on for standard output and standard error where they are a console
// that supports it (Windows 10 and later) and is seen to act on a sequence. Where it is not
// supported the escape sequences of the progress lines must not be written at all: the
// callers ask outputWritesEscapes() / errorWritesEscapes() and write plain lines otherwise.
// Output that is no console (a file, a pipe) gets plain lines too.
//
// Given back on every way out: when the object ends (a normal end), and from the console's
// control handler before the system ends the program (Ctrl-C or Ctrl-Break outside process
// mode, a second one while the first is being handled, the console closed, log-off, shut-down).
// The handler is removed when the object ends.
//
// Ctrl-C or Ctrl-Break while process mode runs (after arm()) asks it to stop, so the port is
// closed and the program ends normally. A second one before that has happened ends the
// program at once (a port call that blocks cannot keep it running).
class Console : public InterruptSource
{
public:
    // One object for the run (the control handler finds it through a process-wide pointer).
    Console();
    ~Console() override;
    Console(const Console &) = delete;
    Console &operator=(const Console &) = delete;

    // True when standard output / standard error interprets escape sequences.
    bool outputWritesEscapes() const { return m_output.escapes; }
    bool errorWritesEscapes() const { return m_error.escapes; }
    // The columns of the console window on standard output; 0 when it is no console.
    int outputWidth() const;

    void arm() override { m_armed.store(true); }
    bool requested() const override { return m_requested.load(); }

    // Puts the code page and the modes back as they were found; only the first call acts.
    void restore();

private:
    struct Stream
    {
        HANDLE handle = nullptr;
        DWORD mode = 0;
        bool console = false; // a console screen buffer, whose mode was read
        bool escapes = false;
    };
    static BOOL WINAPI handle(DWORD event);
    static void enableEscapes(Stream &stream);
    // True when the console acts on an escape sequence rather than showing it.
    static bool interpretsEscapes(HANDLE handle);

    UINT m_outputCodePage = 0; // 0: no console to give back
    Stream m_output;
    Stream m_error;
    std::atomic<bool> m_armed{false};
    std::atomic<bool> m_requested{false};
    std::atomic<bool> m_restored{false};
    // The system calls the handler on a thread of its own with no object to hand: this is the
    // one program-wide value, and only this class touches it.
    static inline std::atomic<Console *> s_console{nullptr};
    static_assert(std::atomic<bool>::is_always_lock_free);
};

} // namespace qmr
