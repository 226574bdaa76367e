#include "linedefinition.h"

#include "vocabulary/decimal.h"

#include <cctype>
#include <string>
#include <vector>

namespace qmr {

namespace {

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

} // namespace

std::optional<LineSettings> parseLineDefinition(std::string_view text)
{
    std::vector<std::string_view> items;
    for (;;) {
        const auto comma = text.find(',');
        items.push_back(trimmed(text.substr(0, comma)));
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    if (items.size() != 4)
        return std::nullopt;

    LineSettings line;
    const auto baud = parseDecimal(items[0], 1, INT32_MAX);
    if (!baud)
        return std::nullopt;
    line.baud = std::int32_t(*baud);

    if (items[1].size() != 1)
        return std::nullopt;
    const char parity = char(std::tolower(static_cast<unsigned char>(items[1][0])));
    if (std::string_view("neoms").find(parity) == std::string_view::npos)
        return std::nullopt;
    line.parity = parity;

    const auto data = parseDecimal(items[2], 5, 8);
    if (!data)
        return std::nullopt;
    line.dataBits = int(*data);

    const auto stop = parseDecimal(items[3], 1, 2);
    if (!stop)
        return std::nullopt;
    line.stopBits = int(*stop);
    return line;
}

} // namespace qmr
