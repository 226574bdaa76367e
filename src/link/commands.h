#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace qmr {

// Raised when an ID field or the unit digit holds no decimal number; what() is
// "'<text>' is not a valid integer value". The operation that reads the field is abandoned.
class ConversionError : public std::runtime_error
{
public:
    explicit ConversionError(std::string_view text);
};

// Decimal text-to-integer conversion of a reply field (surrounding blanks allowed, an
// optional sign, 32-bit range); throws ConversionError when the text holds no such number.
int fieldToInt(std::string_view text);

// The command texts the tool sends.
namespace Command {
std::string readFirstReader();  // "A00M"
std::string readSecondReader(); // "A00N"
std::string readVersion();      // "A00V"
std::string readMode();         // "A00A"
// "A00A" + mode digit + "0" + RS-485 digit: modeIndex 0 two readers, any other one reader;
// rs485Index 0..2 ("RS485 24", "32", "40").
std::string setMode(int modeIndex, int rs485Index);
// "A00C" + the reader's 8-character serial number + the new ID text (sent as given).
std::string setId(std::string_view serial, std::string_view id);
// "A00E" + the line-setting index 0..11 as one upper-case hex digit.
std::string setLine(int baudRateNo);
// "A" + ID text + "F": polls the reader with that ID.
std::string poll(std::string_view id);
} // namespace Command

// The reply fields, taken from a reply text (offsets count from its 0x0A). A field that
// reaches past the end is cut short; one that starts beyond it is empty.
namespace Reply {
// A reader's reply to "A00M" or "A00N" counts only with exactly this many bytes.
inline constexpr int ReaderReplyLength = 16;

std::string field(std::string_view replyText, int offset, int length);
std::string moduleId(std::string_view replyText);     // "A00M"/"A00N": offsets 2..3
std::string serialNumber(std::string_view replyText); // "A00M"/"A00N": offsets 5..12
// The serial number's last character (offset 12) as a number; throws ConversionError.
int unitDigit(std::string_view replyText);
std::string version(std::string_view replyText);   // "A00V": offsets 5..12
std::string modeChar(std::string_view replyText);  // "A00A": offset 5 (empty when missing)
std::string rs485Char(std::string_view replyText); // "A00A": offset 7 (empty when missing)
// Poll reply data: offsets 6..L-4; only meaningful when replyLength > 8.
std::string pollData(std::string_view replyText, int replyLength);
} // namespace Reply

} // namespace qmr
