#pragma once

#include "modulecontext.h"

#include <string_view>
#include <functional>

namespace qmr {

enum class SettingOutcome
{
    NoScan, // "Start Scan Module!"
    Ok,
    Error,
    LineFixed, // refused before sending: the port's line is the server's (a raw network port)
};

// What one setting procedure gives the shared frame.
struct SettingProcedure
{
    // Runs once after the ScanOk check, before the port is opened (progress text, controls).
    std::function<void(ModuleContext &)> prepare;
    // One attempt of the command sequence; each step goes through SettingFrame::send().
    // Returns true when every command succeeded.
    std::function<bool(ModuleContext &, class SettingFrame &)> attempt;
    // Runs after a successful attempt, before the port is closed.
    std::function<void(ModuleContext &)> onSuccess;
    // The line setting (table index) the procedure moves the module to; -1 when it keeps it.
    std::function<int(ModuleContext &)> newLine;
    TextRow okMessage;
    TextRow errorMessage;
};

// The run every setting procedure shares: wait cursor and disabled window, the ScanOk
// check, the port opened at the remembered settings, at most two attempts with a 100 ms
// pause before every command, the port closed, and the outcome in lamp, message and beep.
// A procedure that would move the module off a raw network port's line is refused before
// anything is sent: the module would answer nobody after it.
class SettingFrame
{
public:
    static constexpr int Attempts = 2;
    static constexpr int PauseMs = 100;

    explicit SettingFrame(ModuleContext &ctx) : m_ctx(ctx) {}
    SettingOutcome run(const SettingProcedure &procedure);

    // Pauses 100 ms, sends command; true when SendCommand succeeded and, if
    // requiredLength > 0, the reply had exactly that length.
    bool send(std::string_view command, int requiredLength = 0);
    // The 100 ms pause alone, where a sequence pauses without sending.
    void pause();

private:
    ModuleContext &m_ctx;
};

} // namespace qmr
