#pragma once

#include "cli/interruptsource.h"

#include <atomic>

namespace qmr {

// The terminal qmrctl writes to: whether standard output and standard error are a terminal
// (which interprets the escape sequences of the progress lines; a file or a pipe gets plain
// lines), the terminal's width, and Ctrl-C. The text is UTF-8 on any current Unix, so there
// is no code page to set.
//
// Ctrl-C (or a TERM signal) while process mode runs (after arm()) asks it to stop, so the
// port is closed and the program ends normally. Before that the default action applies.
class Console : public InterruptSource
{
public:
    Console();

    // True when standard output / standard error interprets escape sequences.
    bool outputWritesEscapes() const { return m_outputTerminal; }
    bool errorWritesEscapes() const { return m_errorTerminal; }
    // The columns of the terminal on standard output; 0 when it is no terminal or says none.
    int outputWidth() const;

    void arm() override;
    bool requested() const override { return s_requested.load(); }

private:
    // A signal handler can reach nothing but static storage; this flag is the one
    // program-wide value, and only this class touches it.
    static void handle(int);
    static inline std::atomic<bool> s_requested{false};
    static_assert(std::atomic<bool>::is_always_lock_free);

    bool m_outputTerminal = false;
    bool m_errorTerminal = false;
};

} // namespace qmr
