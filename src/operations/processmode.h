#pragma once

#include "modulecontext.h"

namespace qmr {

// Between two polls the loop lets the window's events run PollPauseSlices times, sleeping
// PollPauseSliceMs after each: the pause that paces the polls and keeps the window live.
inline constexpr int PollPauseSlices = 20;
inline constexpr int PollPauseSliceMs = 2;

// The pause before a poll, as the module hears it: one pause of PollPauseSlices x
// PollPauseSliceMs. Slice k ends k x PollPauseSliceMs after the pause began, whenever the
// slices before it woke, so late wake-ups do not add up; each slice first lets the window's
// events run. Never shorter than the whole; a slice whose deadline has passed does not sleep.
void PollPause(Clock &clock, ModuleView &view);

enum class ProcessOutcome
{
    NoScan,      // refused: "Start Scan Module!"
    CancelClick, // this run only asked the running loop to stop
    Ignored,     // a click while the loop is stopping: nothing happens
    OpenFailed,  // "Open COM : n Error"
    UserStop,    // stopped by the cancel click (yellow lamp, high beep)
    Failed,      // a poll command failed (red lamp, low beep)
};

// One click on the Process button: starts the polling loop and stays in it until the loop
// ends, or (a nested click while it runs) asks the running loop to stop.
ProcessOutcome RunProcessMode(ModuleContext &ctx);

} // namespace qmr
