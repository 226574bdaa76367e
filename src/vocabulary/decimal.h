#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace qmr {

// The one reader of decimal numbers in the program: reply fields, stored settings, command
// line arguments and emulator options all go through it, each with its own limits.
//
// Accepts an optional '+' or '-' and at least one digit 0-9, nothing else: no hex, no
// spaces inside, no trailing letters. With Blanks::Allowed, spaces and tabs around the
// number are ignored (reply fields are read that way). Returns nothing when the text is not
// such a number or the value lies outside min..max.
enum class Blanks
{
    Refused,
    Allowed,
};

constexpr std::optional<std::int64_t> parseDecimal(std::string_view text, std::int64_t min,
                                                   std::int64_t max,
                                                   Blanks blanks = Blanks::Refused)
{
    if (blanks == Blanks::Allowed) {
        auto isBlank = [](char c) {
            return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
        };
        while (!text.empty() && isBlank(text.front()))
            text.remove_prefix(1);
        while (!text.empty() && isBlank(text.back()))
            text.remove_suffix(1);
    }
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    // The magnitude is bounded by the larger of |min| and |max|, so it never overflows.
    const std::uint64_t limit = negative ? (min < 0 ? std::uint64_t(-(min + 1)) + 1 : 0)
                                         : (max > 0 ? std::uint64_t(max) : 0);
    std::uint64_t magnitude = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        // Checked before the step, so magnitude * 10 + digit cannot wrap past 2^64.
        const auto digit = std::uint64_t(c - '0');
        if (digit > limit || magnitude > (limit - digit) / 10)
            return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }
    const std::int64_t value = negative ? (magnitude == 0 ? 0 : -std::int64_t(magnitude - 1) - 1)
                                        : std::int64_t(magnitude);
    if (value < min || value > max)
        return std::nullopt;
    return value;
}

// A plain run of at most nine decimal digits (no sign, no blanks) within [low, high]: the numbers
// a person types on the command line or in an emulator option ("0000000005" is refused).
constexpr std::optional<int> parsePlainNumber(std::string_view text, int low, int high)
{
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    const auto value = parseDecimal(text, low, high);
    if (!value)
        return std::nullopt;
    return int(*value);
}

// The same for a 32-bit signed value, the type of the stored settings and of reply fields.
constexpr std::optional<std::int32_t> parseInt32(std::string_view text,
                                                 Blanks blanks = Blanks::Refused)
{
    const auto v = parseDecimal(text, INT32_MIN, INT32_MAX, blanks);
    if (!v)
        return std::nullopt;
    return std::int32_t(*v);
}

} // namespace qmr
