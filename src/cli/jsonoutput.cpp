#include "jsonoutput.h"

namespace qmr {

std::string jsonLine(const nlohmann::json &json)
{
    const std::string text = json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    // DEL and the two-byte forms C2 80..C2 9F only ever stand inside strings, where a \u escape
    // means the same character.
    static constexpr char Hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        unsigned code = 0x100;
        if (c == 0x7F) {
            code = c;
        } else if (c == 0xC2 && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0x9F) {
                code = next;
                ++i;
            }
        }
        if (code == 0x100) {
            out += char(c);
            continue;
        }
        out += "\\u00";
        out += Hex[code >> 4];
        out += Hex[code & 0xF];
    }
    return out;
}

} // namespace qmr
