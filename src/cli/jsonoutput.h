#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace qmr {

// One JSON object as qmrctl prints it, on one line. Module bytes are put in as escapeControls
// gives them, so they come back exactly; here DEL and the C1 controls (U+0080-U+009F, which
// terminals act on) are written as \u escapes too, and any other text that is not UTF-8 has
// its broken bytes replaced by U+FFFD.
std::string jsonLine(const nlohmann::json &json);

} // namespace qmr
