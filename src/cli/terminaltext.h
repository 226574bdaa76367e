#pragma once

#include <string>
#include <string_view>

namespace qmr {

// Whether a backslash is doubled. Bytes from the module are printed so that the output says
// exactly what came (a backslash is doubled, so "\x1b" cannot be mistaken for an escaped ESC);
// the program's own texts, device names and system messages keep theirs ("\\.\COM3").
enum class Backslash
{
    Doubled,
    AsIs,
};

// Text for a terminal from bytes a module (or anyone else) sent: every control character
// (0x00-0x1F, 0x7F, the C1 controls U+0080-U+009F) and every byte that is not part of valid UTF-8
// becomes "\xHH", so no escape sequence reaches the terminal.
std::string escapeControls(std::string_view bytes, Backslash backslash = Backslash::Doubled);

// text followed by spaces up to a number of terminal columns (CJK characters take two).
std::string padded(std::string_view text, int columns);

} // namespace qmr
