#include "vocabulary/decimal.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

using namespace qmr;

namespace {

constexpr std::int64_t I64Min = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t I64Max = std::numeric_limits<std::int64_t>::max();

struct Case
{
    const char *name;
    std::string text;
    std::optional<std::int64_t> value;
};

} // namespace

// Usable where the emulator and the settings need numbers at compile time.
static_assert(parseDecimal("42", 0, 100) == 42);
static_assert(!parseInt32("2147483648"));

TEST(ParseDecimal, SignsAndDigits)
{
    const Case rows[] = {
        {"zero", "0", 0},
        {"plain", "42", 42},
        {"leading zeros", "0007", 7},
        {"plus", "+5", 5},
        {"minus", "-5", -5},
        {"minus zero", "-0", 0},
        {"plus zero", "+0", 0},
        {"empty", "", std::nullopt},
        {"sign only", "+", std::nullopt},
        {"minus only", "-", std::nullopt},
        {"two signs", "--5", std::nullopt},
        {"sign after", "5-", std::nullopt},
        {"trailing letter", "12a", std::nullopt},
        {"leading letter", "a12", std::nullopt},
        {"hex", "0x10", std::nullopt},
        {"decimal point", "1.0", std::nullopt},
        {"exponent", "1e3", std::nullopt},
        {"inner blank", "1 2", std::nullopt},
        {"zero byte",
         std::string("1\0"
                     "2",
                     3),
         std::nullopt},
        {"full-width digit", "\xef\xbc\x91", std::nullopt},
        {"high byte", "\xb9", std::nullopt},
    };
    for (const Case &r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(parseDecimal(r.text, I64Min, I64Max), r.value);
    }
}

TEST(ParseDecimal, BlanksOnlyWhenAllowed)
{
    const Case rows[] = {
        {"leading space", " 7", 7},
        {"trailing space", "7 ", 7},
        {"tabs and line ends", "\t7\r\n", 7},
        {"signed", "  -7  ", -7},
        {"only blanks", "   ", std::nullopt},
        {"blank after sign", "- 7", std::nullopt},
        {"blank inside", " 7 7 ", std::nullopt},
        {"zero byte is no blank", std::string("7\0", 2), std::nullopt},
    };
    for (const Case &r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(parseDecimal(r.text, I64Min, I64Max, Blanks::Allowed), r.value);
        // Refused by default, however the number looks inside.
        EXPECT_EQ(parseDecimal(r.text, I64Min, I64Max), std::nullopt);
    }
    EXPECT_EQ(parseDecimal("7", 0, 9, Blanks::Allowed), 7);
}

TEST(ParseDecimal, Int64Edges)
{
    const Case rows[] = {
        {"largest", "9223372036854775807", I64Max},
        {"smallest", "-9223372036854775808", I64Min},
        {"one past largest", "9223372036854775808", std::nullopt},
        {"one past smallest", "-9223372036854775809", std::nullopt},
        // 2^64 + 1 would read as 1 if the magnitude wrapped.
        {"wraps an unsigned 64-bit", "18446744073709551617", std::nullopt},
        {"many digits", std::string(40, '9'), std::nullopt},
        {"leading zeros before the largest", "0009223372036854775807", I64Max},
    };
    for (const Case &r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(parseDecimal(r.text, I64Min, I64Max), r.value);
    }
}

TEST(ParseDecimal, CallersLimits)
{
    EXPECT_EQ(parseDecimal("1", 1, 12), 1);
    EXPECT_EQ(parseDecimal("12", 1, 12), 12);
    EXPECT_EQ(parseDecimal("0", 1, 12), std::nullopt);
    EXPECT_EQ(parseDecimal("13", 1, 12), std::nullopt);
    EXPECT_EQ(parseDecimal("-1", 0, 12), std::nullopt);
    EXPECT_EQ(parseDecimal("-0", 0, 12), 0);
    EXPECT_EQ(parseDecimal("-5", -10, -1), -5);
    EXPECT_EQ(parseDecimal("5", -10, -1), std::nullopt);
    EXPECT_EQ(parseDecimal("0", -10, -1), std::nullopt);
    EXPECT_EQ(parseDecimal("-11", -10, -1), std::nullopt);
    // A range of one value.
    EXPECT_EQ(parseDecimal("3", 3, 3), 3);
    EXPECT_EQ(parseDecimal("4", 3, 3), std::nullopt);
    // Far beyond a small limit: refused, not wrapped into range.
    EXPECT_EQ(parseDecimal("18446744073709551619", 1, 12), std::nullopt);
    EXPECT_EQ(parseDecimal("-18446744073709551619", -12, 12), std::nullopt);
}

TEST(ParseInt32, Int32Edges)
{
    const struct
    {
        const char *text;
        std::optional<std::int32_t> value;
    } rows[] = {
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"+2147483647", INT32_MAX},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"4294967296", std::nullopt}, // 2^32 would read as 0 if cut to 32 bits
        {"4294967295", std::nullopt},
        {"9223372036854775807", std::nullopt},
        {"0", 0},
        {"-1", -1},
        {"", std::nullopt},
        {" 1", std::nullopt},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(parseInt32(r.text), r.value);
    }
    EXPECT_EQ(parseInt32(" -2147483648 ", Blanks::Allowed), INT32_MIN);
    EXPECT_EQ(parseInt32(" 2147483648 ", Blanks::Allowed), std::nullopt);
}
