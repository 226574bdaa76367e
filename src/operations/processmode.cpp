#include "processmode.h"

#include "link/commands.h"

namespace qmr {

namespace {

constexpr int MinDataReplyLength = 9;

void setLockedControlsEnabled(ModuleView &view, bool enabled)
{
    for (Control control : LockedControls)
        view.setControlEnabled(control, enabled);
}

// Polls the reader whose ID the panel shows now; the panel is read afresh for every
// command, so a moved scroll bar takes effect at once.
bool poll(ModuleContext &ctx, const std::string &id, void (ModuleView::*show)(const std::string &))
{
    if (!ctx.link.SendCommand(Command::poll(id)))
        return false;
    if (ctx.link.ReplyLength >= MinDataReplyLength)
        (ctx.view.*show)(Reply::pollData(ctx.link.ReplyText, ctx.link.ReplyLength));
    return true;
}

// Polls until the cancelling click clears ProcessActive or a command fails.
ProcessOutcome pollLoop(ModuleContext &ctx)
{
    ModuleView &view = ctx.view;
    view.SetBusy(true);
    view.setWindowEnabled(true); // btnProcess must stay usable to stop the mode
    while (ctx.ProcessActive) {
        PollPause(ctx.clock, view);
        if (!poll(ctx, view.id1Text(), &ModuleView::setReader1Data))
            break;
        if (view.modeIndex() != 0)
            continue;
        PollPause(ctx.clock, view);
        if (!poll(ctx, view.id2Text(), &ModuleView::setReader2Data))
            break;
    }
    // A command that fails after the cancelling click still counts as the user's stop.
    const bool userStop = !ctx.ProcessActive;
    view.SetBusy(false);
    view.setLamp(userStop ? LampColour::Yellow : LampColour::Red);
    view.sound(userStop ? SuccessTone : FailureTone);
    ctx.link.ComClose();
    return userStop ? ProcessOutcome::UserStop : ProcessOutcome::Failed;
}

} // namespace

void PollPause(Clock &clock, ModuleView &view)
{
    const std::int64_t start = clock.microseconds();
    for (int k = 1; k <= PollPauseSlices; ++k) {
        view.processMessages(); // the user's clicks and the blink timer
        clock.sleepUntil(start + std::int64_t(k) * PollPauseSliceMs * 1000);
    }
}

ProcessOutcome RunProcessMode(ModuleContext &ctx)
{
    ModuleView &view = ctx.view;
    if (!ctx.ScanOk) {
        view.setMessage(view.text(TextRow::StartScanModule));
        view.sound(FailureTone);
        return ProcessOutcome::NoScan;
    }
    if (ctx.ProcessActive) {
        ctx.ProcessActive = false;
        return ProcessOutcome::CancelClick;
    }
    // The loop is still finishing its cycle after a cancel and holds the port: a second
    // loop must not start.
    if (ctx.ProcessRunning)
        return ProcessOutcome::Ignored;

    ctx.ProcessActive = true;
    ctx.ProcessRunning = true;
    const std::string savedCaption = view.processCaption();
    view.setProcessCaption(view.text(TextRow::CancelProcessModule));
    view.setReader1Data(std::string());
    view.setReader2Data(std::string());
    setLockedControlsEnabled(view, false);

    ProcessOutcome outcome;
    if (openRememberedPort(ctx)) {
        outcome = pollLoop(ctx);
    } else {
        view.setLamp(LampColour::Red);
        view.setMessage(view.text(TextRow::OpenCom) + " : " +
                        std::to_string(ctx.settings.ScanCommNo) + " " + view.text(TextRow::Error));
        view.sound(FailureTone);
        outcome = ProcessOutcome::OpenFailed;
    }

    ctx.ProcessActive = false;
    setLockedControlsEnabled(view, true);
    view.setProcessCaption(savedCaption);
    ctx.ProcessRunning = false;
    return outcome;
}

} // namespace qmr
