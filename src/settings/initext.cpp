#include "settings/initext.h"

#include "vocabulary/decimal.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <variant>

namespace qmr {

namespace ini {

namespace {

constexpr std::string_view Bom = "\xEF\xBB\xBF";
constexpr std::string_view ReplacementCharacter = "\xEF\xBF\xBD"; // U+FFFD

bool isContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence at text[i], or 0 when there is none there
// (overlong forms, surrogates and values above U+10FFFF are not well-formed).
std::size_t sequenceLength(std::string_view text, std::size_t i)
{
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80)
        return 1;
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const std::size_t left = text.size() - i;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0)
            low = 0xA0;
        else if (c == 0xED)
            high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0)
            low = 0x90;
        else if (c == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (left < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (!isContinuation(byte(k)))
            return 0;
    }
    return length;
}

// The code point of the well-formed sequence of length bytes at text[i].
char32_t codePoint(std::string_view text, std::size_t i, std::size_t length)
{
    const auto c = static_cast<unsigned char>(text[i]);
    if (length == 1)
        return c;
    char32_t cp = c & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    return cp;
}

void appendUtf8(std::string &out, char32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// The Unicode blanks: ASCII white space, NEL, and the space, line and paragraph separators.
bool isSpace(char32_t cp)
{
    if (cp < 0x80) // the common case, tested first: every line is trimmed
        return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20;
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
           cp == 0x205F || cp == 0x3000;
}

bool startsWithSpace(std::string_view text, std::size_t *length = nullptr)
{
    if (text.empty())
        return false;
    const std::size_t n = sequenceLength(text, 0);
    if (length)
        *length = n;
    return n > 0 && isSpace(codePoint(text, 0, n));
}

bool endsWithSpace(std::string_view text, std::size_t *length = nullptr)
{
    if (text.empty())
        return false;
    if (const auto last = static_cast<unsigned char>(text.back()); last < 0x80) {
        if (length)
            *length = 1;
        return isSpace(last);
    }
    std::size_t start = text.size() - 1;
    while (start > 0 && text.size() - start < 4 &&
           isContinuation(static_cast<unsigned char>(text[start])))
        --start;
    const std::size_t n = sequenceLength(text, start);
    if (length)
        *length = n;
    return n == text.size() - start && isSpace(codePoint(text, start, n));
}

// Every byte of the file goes through the checks below, so they test eight ASCII bytes at a
// time and look at single bytes only where a word holds something else.
constexpr std::uint64_t Ones = 0x0101010101010101;
constexpr std::uint64_t HighBits = 0x8080808080808080;

std::uint64_t wordAt(std::string_view text, std::size_t i)
{
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, sizeof word);
    return word;
}

// Nonzero when a byte of word is below n (n <= 0x80) or equal to 0x7F.
std::uint64_t controlBytes(std::uint64_t word, std::uint64_t n)
{
    const std::uint64_t del = word ^ (Ones * 0x7F);
    return (((word - Ones * n) & ~word) | ((del - Ones) & ~del)) & HighBits;
}

bool isControl(unsigned char c)
{
    return (c < 0x20 && c != '\t') || c == 0x7F;
}

// Well-formed UTF-8 without control characters but tab: such a line survives being written
// and read back.
bool isPlainLine(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        if (text.size() - i >= 8) {
            const std::uint64_t word = wordAt(text, i);
            if ((word & HighBits) == 0 && controlBytes(word, 0x20) == 0) {
                i += 8;
                continue;
            }
        }
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (isControl(c))
                return false;
            ++i;
            continue;
        }
        const std::size_t n = sequenceLength(text, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

// Where the first broken sequence starts, or text.size().
std::size_t firstBrokenSequence(std::string_view text, std::size_t from = 0)
{
    for (std::size_t i = from; i < text.size();) {
        if (text.size() - i >= 8 && (wordAt(text, i) & HighBits) == 0) {
            i += 8;
            continue;
        }
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::size_t n = sequenceLength(text, i);
        if (n == 0)
            return i;
        i += n;
    }
    return text.size();
}

bool isValidUtf8Text(std::string_view text)
{
    return firstBrokenSequence(text) == text.size();
}

// Well-formed UTF-8: every broken sequence replaced by U+FFFD.
std::string wellFormed(std::string_view text)
{
    // Written into room for the worst case and cut to size: broken text is mostly broken
    // bytes, and appending them one at a time is what costs.
    std::string out(text.size() * ReplacementCharacter.size(), '\0');
    char *to = out.data();
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t broken = firstBrokenSequence(text, i);
        std::memcpy(to, text.data() + i, broken - i);
        to += broken - i;
        if (broken == text.size())
            break;
        std::memcpy(to, ReplacementCharacter.data(), ReplacementCharacter.size());
        to += ReplacementCharacter.size();
        i = broken + 1;
    }
    out.resize(std::size_t(to - out.data()));
    return out;
}

// No control characters at all, tab included: the plain form of a text value.
bool hasNoControl(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        if (text.size() - i >= 8 && controlBytes(wordAt(text, i), 0x20) == 0) {
            i += 8;
            continue;
        }
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F)
            return false;
        ++i;
    }
    return true;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Where part, a view into text, starts in it.
std::size_t offsetIn(std::string_view text, std::string_view part)
{
    return std::size_t(part.data() - text.data());
}

} // namespace

bool isValidUtf8(std::string_view text)
{
    return isValidUtf8Text(text);
}

std::string_view trim(std::string_view text)
{
    std::size_t n = 0;
    while (startsWithSpace(text, &n))
        text.remove_prefix(n);
    while (endsWithSpace(text, &n))
        text.remove_suffix(n);
    return text;
}

std::vector<Line> parse(std::string_view bytes, bool truncated)
{
    // A cut-off last line would be half a value: leave it out.
    std::size_t breaks = 0;
    std::size_t end = 0; // after the last line break
    for (std::size_t at = bytes.find('\n'); at != std::string_view::npos;
         at = bytes.find('\n', at + 1)) {
        ++breaks;
        end = at + 1;
    }
    if (truncated)
        bytes = bytes.substr(0, end);
    std::vector<Line> lines;
    lines.reserve(breaks + 1);
    std::shared_ptr<const std::string> group;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos)
            end = bytes.size();
        std::string_view raw = bytes.substr(start, end - start);
        start = end + 1;
        // Byte order marks at a line's start are not part of the line. All of them go: were one
        // kept, the next save would write it first on the line, the next load would drop it and
        // the line would turn into another key, one that could shadow a value just saved.
        while (raw.substr(0, Bom.size()) == Bom)
            raw.remove_prefix(Bom.size());
        std::string_view text = raw;
        if (!text.empty() && text.back() == '\r')
            text.remove_suffix(1);
        const bool plain = isPlainLine(text);
        const std::string_view trimmed = trim(text);
        if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
            // A header with broken bytes still ends the group before it: the lines under it
            // must not be read as that group's.
            const std::string_view name = trim(trimmed.substr(1, trimmed.size() - 2));
            // The raw line as the name of a group not understood: it matches no group.
            group = std::make_shared<const std::string>(plain ? name : raw);
            lines.emplace_back(plain ? LineKind::Group : LineKind::Other, std::string(raw), group,
                               offsetIn(raw, name), name.size());
        } else if (!plain) {
            lines.emplace_back(LineKind::Other, std::string(raw), group);
        } else if (trimmed.empty()) {
            lines.emplace_back(LineKind::Blank, std::string(raw), group);
        } else if (trimmed.front() == '#' || trimmed.front() == ';') {
            lines.emplace_back(LineKind::Comment, std::string(raw), group);
        } else if (const std::size_t eq = text.find('=');
                   eq != std::string_view::npos && eq > 0 && !trim(text.substr(0, eq)).empty()) {
            const std::string_view key = trim(text.substr(0, eq));
            lines.emplace_back(LineKind::Entry, std::string(raw), group, offsetIn(raw, key),
                               key.size(), eq + 1, text.size());
        } else {
            lines.emplace_back(LineKind::Other, std::string(raw), group);
        }
    }
    return lines;
}

namespace {

bool isEntry(const Line &line, std::string_view group, std::string_view key)
{
    return line.kind() == LineKind::Entry && line.name() == key && line.group() == group;
}

} // namespace

const Line *findEntry(const std::vector<Line> &lines, std::string_view group, std::string_view key)
{
    for (const Line &line : lines) {
        if (isEntry(line, group, key))
            return &line;
    }
    return nullptr;
}

void setEntry(std::vector<Line> &lines, std::string_view group, std::string_view key,
              std::string_view value)
{
    std::string text;
    text.reserve(key.size() + 1 + value.size());
    text.append(key).append(1, '=').append(value);
    // One pass finds the line of key or else the group's line.
    std::size_t groupAt = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        Line &line = lines[i];
        if (isEntry(line, group, key)) {
            line = Line(LineKind::Entry, std::move(text), line.sharedGroup(), 0, key.size(),
                        key.size() + 1);
            return;
        }
        if (groupAt == lines.size() && line.kind() == LineKind::Group && line.name() == group)
            groupAt = i;
    }
    if (groupAt == lines.size()) {
        if (!lines.empty() && lines.back().kind() != LineKind::Blank) {
            std::shared_ptr<const std::string> lastGroup = lines.back().sharedGroup();
            lines.emplace_back(LineKind::Blank, std::string(), std::move(lastGroup));
        }
        std::string header;
        header.reserve(group.size() + 2);
        header.append(1, '[').append(group).append(1, ']');
        lines.emplace_back(LineKind::Group, std::move(header),
                           std::make_shared<const std::string>(group), 1, group.size());
        groupAt = lines.size() - 1;
    }
    std::size_t insertAt = groupAt + 1;
    for (std::size_t i = groupAt + 1;
         i < lines.size() && lines[i].sharedGroup() == lines[groupAt].sharedGroup(); ++i) {
        if (lines[i].kind() == LineKind::Entry)
            insertAt = i + 1;
    }
    // The lines after the group line all lie in it, so they share its name.
    lines.insert(lines.begin() + std::ptrdiff_t(insertAt),
                 Line(LineKind::Entry, std::move(text), lines[groupAt].sharedGroup(), 0, key.size(),
                      key.size() + 1));
}

std::string serialize(const std::vector<Line> &lines)
{
    std::size_t size = 0;
    for (const Line &line : lines)
        size += line.text().size() + 1;
    std::string out;
    out.reserve(size);
    for (const Line &line : lines) {
        out += line.text();
        out += '\n';
    }
    return out;
}

namespace {

// The bytes a quoted text writes as an escape: the control characters, '\\' and '"'.
constexpr std::array<bool, 256> NeedsEscape = [] {
    std::array<bool, 256> table{};
    for (std::size_t c = 0; c < 0x20; ++c)
        table[c] = true;
    table[0x7F] = table['\\'] = table['"'] = true;
    return table;
}();

} // namespace

std::string encodeText(std::string_view input)
{
    std::string repaired;
    std::string_view text = input;
    if (!isValidUtf8Text(input)) {
        repaired = wellFormed(input);
        text = repaired;
    }
    bool plain = (text.empty() || text.front() != '"') && hasNoControl(text);
    if (plain && !text.empty())
        plain = !startsWithSpace(text) && !endsWithSpace(text);
    if (plain)
        return repaired.empty() ? std::string(text) : std::move(repaired);
    static constexpr char Hex[] = "0123456789abcdef";
    // Written into room for the worst case (every byte as \xHH) and cut to size.
    std::string out(text.size() * 4 + 2, '\0');
    char *to = out.data();
    *to++ = '"';
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (!NeedsEscape[c]) {
            *to++ = ch;
            continue;
        }
        *to++ = '\\';
        switch (c) {
        case '\\':
        case '"':
            *to++ = ch;
            break;
        case '\n':
            *to++ = 'n';
            break;
        case '\r':
            *to++ = 'r';
            break;
        case '\t':
            *to++ = 't';
            break;
        default:
            *to++ = 'x';
            *to++ = Hex[c >> 4];
            *to++ = Hex[c & 0xF];
        }
    }
    *to++ = '"';
    out.resize(std::size_t(to - out.data()));
    return out;
}

std::string decodeText(std::string_view value)
{
    if (value.size() < 2 || value.front() != '"' || value.back() != '"')
        return std::string(value);
    std::string out;
    out.reserve(value.size() - 2);
    const std::size_t last = value.size() - 1;
    // Characters up to the next backslash are copied a run at a time.
    std::size_t run = 1;
    for (std::size_t i = 1; i < last; ++i) {
        const char ch = value[i];
        if (ch == '"')
            return std::string(value); // not one quoted text: take the line as written
        if (ch != '\\')
            continue;
        out.append(value.substr(run, i - run));
        if (++i >= last)
            return std::string(value);
        run = i + 1;
        switch (value[i]) {
        case '\\':
            out += '\\';
            break;
        case '"':
            out += '"';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'x': {
            const int high = i + 1 < last ? hexDigit(value[i + 1]) : -1;
            const int low = i + 2 < last ? hexDigit(value[i + 2]) : -1;
            if (high < 0 || low < 0)
                return std::string(value);
            // \xHH names the character U+00HH.
            appendUtf8(out, char32_t(high * 16 + low));
            i += 2;
            run = i + 1;
            break;
        }
        default:
            return std::string(value);
        }
    }
    out.append(value.substr(run, last - run));
    return out;
}

std::map<int, std::string> portAssignments(const std::vector<Line> &lines)
{
    std::map<int, std::string> ports;
    for (const Line &line : lines) {
        if (line.kind() != LineKind::Entry || line.group() != PortsGroup ||
            !line.name().starts_with("COM"))
            continue;
        const std::string_view digits = line.name().substr(3);
        // Digits only: no sign ("COM+5" is no port).
        if (digits.empty() || digits.front() < '0' || digits.front() > '9')
            continue;
        const auto number = parseInt32(digits);
        if (!number || *number < 1 || ports.count(*number))
            continue;
        ports.emplace(*number, std::string(trim(decodeText(line.value()))));
    }
    return ports;
}

} // namespace ini

ReadResult IniText::readInt(std::string_view name, std::int32_t &value)
{
    const ini::Line *line = ini::findEntry(m_lines, ini::SettingsGroup, name);
    if (!line)
        return ReadResult::Missing;
    // A value is every character after the '=': "ScanCommNo= 3" holds a text.
    const auto number = parseInt32(line->value());
    if (!number)
        return ReadResult::WrongType;
    value = *number;
    return ReadResult::Read;
}

ReadResult IniText::readText(std::string_view name, std::string &value)
{
    const ini::Line *line = ini::findEntry(m_lines, ini::SettingsGroup, name);
    if (!line)
        return ReadResult::Missing;
    value = ini::decodeText(line->value());
    return ReadResult::Read;
}

void IniText::write(const std::vector<NamedValue> &values)
{
    for (const NamedValue &entry : values) {
        const std::string text = std::holds_alternative<std::int32_t>(entry.value)
                                     ? std::to_string(std::get<std::int32_t>(entry.value))
                                     : ini::encodeText(std::get<std::string>(entry.value));
        ini::setEntry(m_lines, ini::SettingsGroup, entry.name, text);
    }
}

} // namespace qmr
