#include "setbaudrate.h"

#include "link/commands.h"
#include "link/linedefinition.h"

namespace qmr {

namespace {

bool isTableIndex(int index)
{
    return index >= 0 && index < int(BaudRateTable.size());
}

} // namespace

SettingOutcome RunSetModuleBaudRate(ModuleContext &ctx)
{
    SettingProcedure procedure;
    procedure.prepare = [](ModuleContext &c) {
        const int index = c.view.baudRateIndex();
        const std::string line = isTableIndex(index) ? BaudRateTable[index] : "";
        c.view.setMessage(c.view.text(TextRow::SetModuleBaudRate) + " = " + line);
    };
    // The rate command travels at the old rate; the port is not reopened at the new one.
    // With no line setting chosen there is nothing to send, and the procedure fails.
    procedure.attempt = [](ModuleContext &c, SettingFrame &frame) {
        const int index = c.view.baudRateIndex();
        if (!isTableIndex(index))
            return false;
        return frame.send(Command::readFirstReader(), Reply::ReaderReplyLength) && frame.send(Command::setLine(index));
    };
    // Only the in-memory settings follow; the store keeps what the last sweep found.
    procedure.onSuccess = [](ModuleContext &c) {
        const int index = c.view.baudRateIndex();
        c.settings.ScanBaudRateNo = index;
        c.settings.ScanBaudRate = BaudRateTable[index];
    };
    procedure.newLine = [](ModuleContext &c) { return c.view.baudRateIndex(); };
    procedure.okMessage = TextRow::SetModuleBaudRateOk;
    procedure.errorMessage = TextRow::SetModuleBaudRateError;
    return SettingFrame(ctx).run(procedure);
}

} // namespace qmr
