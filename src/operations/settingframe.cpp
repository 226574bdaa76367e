#include "settingframe.h"

#include "linechange.h"

namespace qmr {

SettingOutcome SettingFrame::run(const SettingProcedure &procedure)
{
    ModuleView &view = m_ctx.view;
    view.setWaitCursor(true);
    view.setWindowEnabled(false);
    view.processMessages(); // draw the disabled window before the work starts

    SettingOutcome outcome = SettingOutcome::Error;
    if (!m_ctx.ScanOk) {
        view.setLamp(LampColour::Red);
        view.setMessage(view.text(TextRow::StartScanModule));
        view.sound(FailureTone);
        outcome = SettingOutcome::NoScan;
    } else {
        if (procedure.prepare)
            procedure.prepare(m_ctx);
        const std::string refusal =
            lineChangeRefusal(m_ctx, procedure.newLine ? procedure.newLine(m_ctx) : -1);
        bool ok = false;
        const ConnectionHold hold(m_ctx.link);
        if (!refusal.empty()) {
            view.setLamp(LampColour::Red);
            view.setMessage(refusal);
            view.setMessageDetail(std::string());
            view.sound(FailureTone);
            outcome = SettingOutcome::LineFixed;
        } else if (openRememberedPort(m_ctx)) {
            // A failed attempt starts again from its first command.
            for (int attempt = 0; attempt < Attempts && !ok; ++attempt)
                ok = procedure.attempt(m_ctx, *this);
            if (ok && procedure.onSuccess)
                procedure.onSuccess(m_ctx);
            m_ctx.link.ComClose();
        }
        if (!refusal.empty()) {
            // said above
        } else if (ok) {
            view.setLamp(LampColour::Yellow);
            view.setMessage(view.text(procedure.okMessage));
            view.sound(SuccessTone);
            outcome = SettingOutcome::Ok;
        } else {
            view.setLamp(LampColour::Red);
            view.setMessage(view.text(procedure.errorMessage));
            view.sound(FailureTone);
            outcome = SettingOutcome::Error;
        }
    }

    view.setWindowEnabled(true);
    view.setWaitCursor(false);
    return outcome;
}

void SettingFrame::pause()
{
    m_ctx.clock.sleep(PauseMs); // a plain sleep: the window processes no messages meanwhile
}

bool SettingFrame::send(std::string_view command, int requiredLength)
{
    pause();
    if (!m_ctx.link.SendCommand(command))
        return false;
    return requiredLength <= 0 || m_ctx.link.ReplyLength == requiredLength;
}

} // namespace qmr
