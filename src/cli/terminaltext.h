#pragma once

#include <optional>
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
// (0x00-0x1F, 0x7F, the C1 controls U+0080-U+009F, the bidirectional controls U+202A-U+202E and
// U+2066-U+2069) and every byte that is not part of valid UTF-8 becomes "\xHH" (each byte of
// it), so no escape sequence reaches the terminal. With the backslash doubled the text is
// valid UTF-8 free of controls and gives back the exact bytes (unescapeBytes): the provisioning
// record and every --json output store module bytes so.
std::string escapeControls(std::string_view bytes, Backslash backslash = Backslash::Doubled);
// The bytes of a text escapeControls (backslash doubled) gave; nothing for any other text,
// also for another spelling of the same bytes ("\x41" for "A", upper-case hex).
std::optional<std::string> unescapeBytes(std::string_view text);

// text cut to at most a number of terminal columns (CJK characters take two).
std::string cutToColumns(std::string_view text, int columns);

// text followed by spaces up to a number of terminal columns (CJK characters take two).
std::string padded(std::string_view text, int columns);

} // namespace qmr
