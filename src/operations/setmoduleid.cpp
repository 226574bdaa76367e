#include "setmoduleid.h"

#include "link/commands.h"

namespace qmr {

SettingOutcome RunSetModuleId(ModuleContext &ctx)
{
    SettingProcedure procedure;
    procedure.prepare = [](ModuleContext &c) {
        c.view.setMessage(c.view.text(TextRow::SetModuleId) + " = " + c.view.id1Text());
    };
    // The ID texts go out exactly as the panels show them, "__" included.
    procedure.attempt = [](ModuleContext &c, SettingFrame &frame) {
        if (!frame.send(Command::readFirstReader(), Reply::ReaderReplyLength))
            return false;
        const std::string serial1 = Reply::serialNumber(c.link.ReplyText);
        if (!frame.send(Command::setId(serial1, c.view.id1Text())))
            return false;
        // Read in both modes: the module must answer it with 16 bytes either way.
        if (!frame.send(Command::readSecondReader(), Reply::ReaderReplyLength))
            return false;
        const std::string serial2 = Reply::serialNumber(c.link.ReplyText);
        if (c.view.modeIndex() != 0) {
            frame.pause();
            return true;
        }
        return frame.send(Command::setId(serial2, c.view.id2Text()));
    };
    procedure.okMessage = TextRow::SetModuleIdOk;
    procedure.errorMessage = TextRow::SetModuleIdError;
    return SettingFrame(ctx).run(procedure);
}

} // namespace qmr
