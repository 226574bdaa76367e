#pragma once

#include "serialport.h"
#include "vocabulary/vocabulary.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace qmr {

// Reads a line definition ("baud,parity,data,stop", parity n/e/o/m/s in either case, blanks
// around each item allowed); nullopt when malformed.
std::optional<LineSettings> parseLineDefinition(std::string_view text);

} // namespace qmr
