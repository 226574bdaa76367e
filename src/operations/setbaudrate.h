#pragma once

#include "settingframe.h"

namespace qmr {

// Set Module Baud Rate (Reset): the line setting selected in cmbBaudRate; on success the
// in-memory ScanBaudRateNo/ScanBaudRate follow it (not saved).
SettingOutcome RunSetModuleBaudRate(ModuleContext &ctx);

} // namespace qmr
