#include "devicefactory.h"

#include "link/decimal.h"

#include <algorithm>

namespace qmr {

std::optional<int> comNumberOf(std::string_view portName)
{
    if (portName.size() < 4 || portName.size() > 6)
        return std::nullopt;
    const std::string_view prefix = portName.substr(0, 3);
    const std::string_view digits = portName.substr(3);
    const bool com = std::equal(prefix.begin(), prefix.end(), "COM",
                                [](char a, char b) { return a == b || a == char(b - 'A' + 'a'); });
    if (!com || digits[0] == '0' ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const auto number = parseDecimal(digits, 1, 255);
    if (!number)
        return std::nullopt;
    return int(*number);
}

} // namespace qmr

namespace qmr {

std::filesystem::path filePath(const std::string &utf8)
{
#ifdef _WIN32
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
#else
    return std::filesystem::path(utf8); // the bytes as they are, whatever they hold
#endif
}

std::string pathText(const std::filesystem::path &path)
{
#ifdef _WIN32
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
#else
    return path.string();
#endif
}

} // namespace qmr
