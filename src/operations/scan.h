#pragma once

#include "modulecontext.h"

namespace qmr {

enum class ScanOutcome
{
    Ok,        // "Get Module Info Ok. (COM : #n)"
    InfoError, // the module answered "A00M", a later read failed
    NotFound,  // "Module Not Find"
};

// The module scan (the Scan button): finds the port and line setting at which the module
// answers, reads its identity into the view and sets ScanOk.
ScanOutcome RunScan(ModuleContext &ctx);

} // namespace qmr
