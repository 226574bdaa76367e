#pragma once

#include "link/serialport.h"

#include <string_view>

namespace qmr {

// A port error as qmrctl names it in JSON ("not-found") and as it tells a user why a port
// named on the command line did not open ("no such device").
std::string_view portErrorName(PortError error);
std::string_view portErrorWhy(PortError error);

} // namespace qmr
