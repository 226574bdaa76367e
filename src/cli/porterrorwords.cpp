#include "porterrorwords.h"

#include <array>

namespace qmr {

namespace {

struct PortErrorWords
{
    PortError error;
    std::string_view name;
    std::string_view why;
};

// Io and Other have no words of their own for a user: the port just does not open.
constexpr std::array<PortErrorWords, 7> Words = {{
    {PortError::NoError, "none", "it does not open"},
    {PortError::NotFound, "not-found", "no such device"},
    {PortError::PermissionDenied, "permission-denied", "no permission to open it"},
    {PortError::Busy, "busy", "held by another program"},
    {PortError::NotASerialPort, "not-a-serial-port", "not a serial port"},
    {PortError::Io, "io", "it does not open"},
    {PortError::Other, "other", "it does not open"},
}};

const PortErrorWords &wordsFor(PortError error)
{
    for (const PortErrorWords &words : Words) {
        if (words.error == error)
            return words;
    }
    return Words.back();
}

} // namespace

std::string_view portErrorName(PortError error)
{
    return wordsFor(error).name;
}

std::string_view portErrorWhy(PortError error)
{
    return wordsFor(error).why;
}

} // namespace qmr
