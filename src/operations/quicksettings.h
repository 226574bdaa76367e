#pragma once

#include "settingframe.h"

namespace qmr {

enum class QuickSetting
{
    FactoryDefault, // btnFactory: IDs 01/05, two readers, RS485 32, 19200,e,8,1
    OneReader,      // btnOne: IDs 01/05, one reader, RS485 32, 19200,e,8,1
};

// One of the two quick settings: sets the controls, then sends IDs, mode and rate.
SettingOutcome RunQuickSetting(ModuleContext &ctx, QuickSetting which);

} // namespace qmr
