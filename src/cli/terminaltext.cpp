#include "terminaltext.h"

#include <cstdint>
#include <optional>

namespace qmr {

namespace {

// The length of the valid UTF-8 sequence at the start of bytes, or 0 when there is none
// (overlong forms, surrogates and values above U+10FFFF are not valid).
std::size_t utf8Length(std::string_view bytes, char32_t *codePoint = nullptr)
{
    const auto b0 = std::uint8_t(bytes[0]);
    std::size_t length = 0;
    char32_t value = 0;
    char32_t least = 0;
    if (b0 < 0x80) {
        length = 1;
        value = b0;
    } else if ((b0 & 0xE0) == 0xC0) {
        length = 2;
        value = b0 & 0x1F;
        least = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3;
        value = b0 & 0x0F;
        least = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4;
        value = b0 & 0x07;
        least = 0x10000;
    } else {
        return 0;
    }
    if (bytes.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto b = std::uint8_t(bytes[i]);
        if ((b & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (b & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    if (codePoint)
        *codePoint = value;
    return length;
}

// C0, DEL, the C1 controls (some terminals act on U+009B as on ESC [) and the bidirectional
// embeddings, overrides and isolates, which reorder the rest of a terminal line.
bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

// CJK characters take two terminal columns.
int columnsOf(char32_t c, std::size_t length)
{
    return length > 0 && c >= 0x2E80 ? 2 : 1;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

std::string escapeControls(std::string_view bytes, Backslash backslash)
{
    static constexpr char Hex[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size());
    while (!bytes.empty()) {
        const auto b = std::uint8_t(bytes[0]);
        char32_t c = 0;
        const std::size_t length = utf8Length(bytes, &c);
        if (b == '\\' && backslash == Backslash::Doubled) {
            text += "\\\\";
        } else if (length == 0 || isControl(c)) {
            for (std::size_t i = 0; i < (length > 0 ? length : 1); ++i) {
                text += "\\x";
                text += Hex[std::uint8_t(bytes[i]) >> 4];
                text += Hex[std::uint8_t(bytes[i]) & 0x0F];
            }
            bytes.remove_prefix(length > 0 ? length : 1);
            continue;
        } else {
            text.append(bytes.substr(0, length));
            bytes.remove_prefix(length);
            continue;
        }
        bytes.remove_prefix(1);
    }
    return text;
}

std::optional<std::string> unescapeBytes(std::string_view text)
{
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\\') {
            bytes += '\\';
            ++i;
            continue;
        }
        const int high = i + 3 < text.size() && text[i + 1] == 'x' ? hexValue(text[i + 2]) : -1;
        const int low = high >= 0 ? hexValue(text[i + 3]) : -1;
        if (low < 0)
            return std::nullopt;
        bytes += char(high * 16 + low);
        i += 3;
    }
    // Only the one spelling escapeControls gives: "\x41" is not "A" written otherwise.
    if (escapeControls(bytes) != text)
        return std::nullopt;
    return bytes;
}

std::string cutToColumns(std::string_view text, int columns)
{
    int width = 0;
    for (std::string_view rest = text; !rest.empty();) {
        char32_t c = 0;
        const std::size_t length = utf8Length(rest, &c);
        const int w = columnsOf(c, length);
        if (width + w > columns)
            return std::string(text.substr(0, text.size() - rest.size()));
        width += w;
        rest.remove_prefix(length > 0 ? length : 1);
    }
    return std::string(text);
}

std::string padded(std::string_view text, int columns)
{
    int width = 0;
    for (std::string_view rest = text; !rest.empty();) {
        char32_t c = 0;
        const std::size_t length = utf8Length(rest, &c);
        width += columnsOf(c, length);
        rest.remove_prefix(length > 0 ? length : 1);
    }
    std::string result(text);
    if (width < columns)
        result.append(std::size_t(columns - width), ' ');
    return result;
}

} // namespace qmr
