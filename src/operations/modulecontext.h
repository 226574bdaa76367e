#pragma once

#include "link/clock.h"
#include "link/link.h"
#include "moduleview.h"
#include "settings/settings.h"
#include "settings/settingsstore.h"

namespace qmr {

// Everything an operation works with: the program-wide link, clock, remembered settings
// and their store, the two run-time flags, and the front end it reports to.
struct ModuleContext
{
    Link &link;
    Clock &clock;
    Settings &settings;
    SettingsStore &store;
    ModuleView &view;
    bool ScanOk = false;         // true only after a scan read all module information
    bool ProcessActive = false;  // true while process mode is to go on
    bool ProcessRunning = false; // the polling loop exists (running or stopping)
};

} // namespace qmr
