#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace qmr::test {

// Two upper-case hex digits.
inline std::string upperHex(std::uint8_t value)
{
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", value);
    return digits;
}

// A command frame as the tool sends it, written out independently of the link's own code.
inline std::string cmd(const std::string &text)
{
    std::uint8_t check = 0x09;
    for (char c : text)
        check ^= std::uint8_t(c);
    return "\x09" + text + upperHex(check) + "\r";
}

} // namespace qmr::test
