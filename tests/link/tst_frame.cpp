#include "link/link.h"

#include <gtest/gtest.h>

#include <string>

using namespace qmr;

TEST(Frame, CheckDigitsAreUpperCaseHex)
{
    const struct
    {
        std::uint8_t value;
        const char *digits;
    } rows[] = {
        {0x00, "00"}, {0x05, "05"}, {0x0A, "0A"}, {0xBF, "BF"}, {0x90, "90"}, {0xFF, "FF"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(int(r.value));
        EXPECT_EQ(Link::checkDigits(r.value), r.digits);
    }
}

TEST(Frame, CommandFrames)
{
    const struct
    {
        std::string text;
        std::string frame;
    } rows[] = {
        {"A00M", "\x09"
                 "A00M05\r"},
        {"", "\x09"
             "09\r"},
        {"A00EB", "\x09"
                  "A00EB4F\r"},
        {"A07F", "\x09"
                 "A07F09\r"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(Link::frame(r.text), r.frame);
    }
}

TEST(Frame, LengthIsOneByte)
{
    // The length travels as one byte: 256 + 4 bytes of text send only 4 of them.
    const std::string out = Link::frame(std::string(256, 'x') + "A00M");
    ASSERT_EQ(out.size(), 8u);
    EXPECT_EQ(out.substr(1, 4), "xxxx");
    EXPECT_EQ(out.substr(5), Link::checkDigits(0x09) + "\r"); // x ^ x ^ x ^ x leaves the start byte
}

TEST(Frame, ReplyCheck)
{
    const struct
    {
        const char *name;
        std::string reply;
        bool ok;
    } rows[] = {
        {"worked example", "\n1209\r", true},
        {"shortest", "\n0A\r", true},
        {"lower-case digits", "\n0a\r", false},
        {"wrong value", "\n1208\r", false},
        {"digits swapped", "\n1290\r", false},
        {"two bytes", "\n\r", false},
        {"three bytes", "\nA\r", false},
        {"one byte", "\r", false},
        {"sixteen bytes", "\n 01 123456700B\r", true},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(Link::ReplyCheck(r.reply.data(), std::int32_t(r.reply.size())), r.ok);
    }
}
