#include "quicksettings.h"

#include "link/commands.h"
#include "link/linedefinition.h"

namespace qmr {

namespace {

constexpr int QuickRs485 = 1; // "RS485 32"

// The controls take the fixed configuration in this order, through the scroll bars so that
// their change handlers rewrite the ID panels.
void setControls(ModuleView &view, QuickSetting which)
{
    view.setId1Position(1);
    if (which == QuickSetting::FactoryDefault) {
        // 1 then 5: the handler runs, and pnID2 reads "05", even when it already stood at 5.
        view.setId2Position(1);
        view.setId2Position(5);
        view.selectBaudRate(DefaultBaudRateNo);
        view.selectMode(0);
        view.selectRs485(QuickRs485);
    } else {
        view.selectBaudRate(DefaultBaudRateNo);
        view.selectMode(1);
        view.selectRs485(QuickRs485);
        view.setId2Position(5);
        view.setId2Text("__");
    }
}

} // namespace

SettingOutcome RunQuickSetting(ModuleContext &ctx, QuickSetting which)
{
    SettingProcedure procedure;
    procedure.prepare = [which](ModuleContext &c) {
        setControls(c.view, which);
        c.view.setMessage(c.view.text(TextRow::SetFactoryDefault));
    };
    // Both configurations give the second reader ID 05, one-reader mode included.
    procedure.attempt = [which](ModuleContext &c, SettingFrame &frame) {
        if (!frame.send(Command::readFirstReader(), Reply::ReaderReplyLength))
            return false;
        if (!frame.send(Command::setId(Reply::serialNumber(c.link.ReplyText), "01")))
            return false;
        if (!frame.send(Command::readSecondReader(), Reply::ReaderReplyLength))
            return false;
        if (!frame.send(Command::setId(Reply::serialNumber(c.link.ReplyText), "05")))
            return false;
        const int mode = which == QuickSetting::FactoryDefault ? 0 : 1;
        if (!frame.send(Command::setMode(mode, QuickRs485)))
            return false;
        return frame.send(Command::setLine(DefaultBaudRateNo));
    };
    procedure.newLine = [](ModuleContext &) { return DefaultBaudRateNo; };
    procedure.okMessage = TextRow::SetFactoryDefaultOk;
    procedure.errorMessage = TextRow::SetFactoryDefaultError;
    return SettingFrame(ctx).run(procedure);
}

} // namespace qmr
