#pragma once

#include "operations/modulecontext.h"

#include <ostream>
#include <string>

namespace qmr {

// qmrctl report FILE: writes one JSON file holding what support asks for: the tool's
// version, the system and architecture, COM1 to COM16 with each device's adapter and state,
// the settings as read, and a sweep of "A00M" over every port that is free at all twelve
// line settings with every frame and its time. Ports in use are not touched, nothing is
// remembered. Prints the file's path and how long it took; exit 0, or 1 when the file
// cannot be written.
int runReport(const std::string &file, ModuleContext &ctx, std::ostream &out, std::ostream &err);

} // namespace qmr
