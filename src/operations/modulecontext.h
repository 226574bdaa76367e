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

// Opens the port at the remembered ScanCommNo and ScanBaudRate, as every operation but the
// sweep does. When it opens, the message line's detail is cleared, so the reason of an
// earlier failure no longer shows; when it does not, the detail names device and reason.
bool openRememberedPort(ModuleContext &ctx);

} // namespace qmr
