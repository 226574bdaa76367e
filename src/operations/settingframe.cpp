#include "settingframe.h"

#include "portdetail.h"

namespace qmr {

SettingOutcome SettingFrame::run(const SettingProcedure &procedure)
{
    ModuleView &view = m_ctx.view;
    view.setWaitCursor(true);
    view.setWindowEnabled(false);
    view.processMessages(); // draw the disabled window before the work starts

    SettingOutcome outcome;
    if (!m_ctx.ScanOk) {
        view.setLamp(LampColour::Red);
        view.setMessage(view.text(TextRow::StartScanModule));
        view.beep(300, 300);
        outcome = SettingOutcome::NoScan;
    } else {
        if (procedure.prepare)
            procedure.prepare(m_ctx);
        bool ok = false;
        const QByteArray line = m_ctx.settings.ScanBaudRate.toLatin1();
        if (m_ctx.link.ComOpen(m_ctx.settings.ScanCommNo, line.constData())) {
            // A failed attempt starts again from its first command.
            for (int attempt = 0; attempt < Attempts && !ok; ++attempt)
                ok = procedure.attempt(m_ctx, *this);
            if (ok && procedure.onSuccess)
                procedure.onSuccess(m_ctx);
            m_ctx.link.ComClose();
        } else {
            view.setMessageDetail(failedPortDetail(m_ctx.settings.ScanCommNo, m_ctx.link));
        }
        if (ok) {
            view.setLamp(LampColour::Yellow);
            view.setMessage(view.text(procedure.okMessage));
            view.beep(1000, 300);
            outcome = SettingOutcome::Ok;
        } else {
            view.setLamp(LampColour::Red);
            view.setMessage(view.text(procedure.errorMessage));
            view.beep(300, 300);
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

bool SettingFrame::send(const QByteArray &command, int requiredLength)
{
    pause();
    if (!m_ctx.link.SendCommand(command))
        return false;
    return requiredLength <= 0 || m_ctx.link.ReplyLength == requiredLength;
}

} // namespace qmr
