#include "modulecontext.h"

#include "portdetail.h"

namespace qmr {

bool openRememberedPort(ModuleContext &ctx)
{
    if (!ctx.link.ComOpen(ctx.settings.ScanCommNo, ctx.settings.ScanBaudRate.c_str())) {
        ctx.view.setMessageDetail(failedPortDetail(ctx.settings.ScanCommNo, ctx.link));
        return false;
    }
    ctx.view.setMessageDetail(std::string());
    return true;
}

} // namespace qmr
