#pragma once

#include "settingframe.h"

namespace qmr {

// Set Module Mode: the reader mode and RS-485 setting selected in cmbMode and cmbRS485.
SettingOutcome RunSetModuleMode(ModuleContext &ctx);

} // namespace qmr
