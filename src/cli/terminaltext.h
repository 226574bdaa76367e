#pragma once

#include <string>
#include <string_view>

namespace qmr {

// Text for a terminal from bytes a module (or anyone else) sent: every control character
// (0x00-0x1F, 0x7F, the C1 controls U+0080-U+009F) and every byte that is not part of valid UTF-8
// becomes "\xHH", and a backslash becomes "\\", so no escape sequence reaches the terminal and the
// output still says exactly what came.
std::string escapeControls(std::string_view bytes);

// text followed by spaces up to a number of terminal columns (CJK characters take two).
std::string padded(std::string_view text, int columns);

} // namespace qmr
