#pragma once

#include "settingframe.h"

namespace qmr {

// Set Module ID: gives the module the IDs shown in pnID (and pnID2 in two-reader mode).
SettingOutcome RunSetModuleId(ModuleContext &ctx);

} // namespace qmr
