#include "setmode.h"

#include "link/commands.h"
#include "link/linedefinition.h"

namespace qmr {

SettingOutcome RunSetModuleMode(ModuleContext &ctx)
{
    SettingProcedure procedure;
    // No progress text: the message line keeps its text until the outcome.
    // Only the six mode commands may go out, so an RS-485 list without a valid selection
    // fails the procedure before anything is sent.
    procedure.attempt = [](ModuleContext &c, SettingFrame &frame) {
        const int rs485 = c.view.rs485Index();
        if (rs485 < 0 || rs485 >= int(Rs485Values.size()))
            return false;
        if (!frame.send(Command::readFirstReader(), Reply::ReaderReplyLength))
            return false;
        const int mode = c.view.modeIndex() == 0 ? 0 : 1;
        return frame.send(Command::setMode(mode, c.view.rs485Index()));
    };
    procedure.okMessage = TextRow::SetModuleModeOk;
    procedure.errorMessage = TextRow::SetModuleModeError;
    return SettingFrame(ctx).run(procedure);
}

} // namespace qmr
