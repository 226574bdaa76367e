#include "commands.h"

#include "vocabulary/decimal.h"
#include "linedefinition.h"

#include <algorithm>

namespace qmr {

ConversionError::ConversionError(std::string_view text)
    : std::runtime_error("'" + std::string(text) + "' is not a valid integer value")
{
}

int fieldToInt(std::string_view text)
{
    // Decimal only, like the conversion the module's fields were always read with: blanks
    // around the number and one sign are fine, hex or trailing letters are not.
    const auto value = parseInt32(text, Blanks::Allowed);
    if (!value)
        throw ConversionError(text);
    return *value;
}

namespace Command {

std::string readFirstReader()
{
    return "A00M";
}
std::string readSecondReader()
{
    return "A00N";
}
std::string readVersion()
{
    return "A00V";
}
std::string readMode()
{
    return "A00A";
}

std::string setMode(int modeIndex, int rs485Index)
{
    // The RS-485 list has three items; an index outside it would make a command the module
    // does not know, so it is held to the list.
    const char rs485 = char('0' + std::clamp(rs485Index, 0, int(Rs485Values.size()) - 1));
    std::string text = "A00A";
    text += modeIndex == 0 ? '0' : '1';
    text += '0';
    text += rs485;
    return text;
}

std::string setId(std::string_view serial, std::string_view id)
{
    return "A00C" + std::string(serial) + std::string(id);
}

std::string setLine(int baudRateNo)
{
    static constexpr char digits[] = "0123456789AB";
    return std::string("A00E") + digits[safeBaudRateNo(baudRateNo)];
}

std::string poll(std::string_view id)
{
    return "A" + std::string(id) + "F";
}

} // namespace Command

namespace Reply {

std::string field(std::string_view replyText, int offset, int length)
{
    if (offset < 0 || length <= 0 || std::size_t(offset) >= replyText.size())
        return {};
    return std::string(replyText.substr(std::size_t(offset), std::size_t(length)));
}

std::string moduleId(std::string_view replyText)
{
    return field(replyText, 2, 2);
}
std::string serialNumber(std::string_view replyText)
{
    return field(replyText, 5, 8);
}
int unitDigit(std::string_view replyText)
{
    return fieldToInt(field(replyText, 12, 1));
}
std::string version(std::string_view replyText)
{
    return field(replyText, 5, 8);
}
std::string modeChar(std::string_view replyText)
{
    return field(replyText, 5, 1);
}
std::string rs485Char(std::string_view replyText)
{
    return field(replyText, 7, 1);
}

std::string pollData(std::string_view replyText, int replyLength)
{
    if (replyLength <= 8)
        return {};
    return field(replyText, 6, replyLength - 9);
}

} // namespace Reply

} // namespace qmr
