#pragma once

#include <QByteArray>
#include <QString>
#include <stdexcept>

namespace qmr {

// Raised when an ID field or the unit digit holds no decimal number; what() is
// "'<text>' is not a valid integer value". The operation that reads the field is abandoned.
class ConversionError : public std::runtime_error
{
public:
    explicit ConversionError(const QByteArray &text);
    QString message() const { return QString::fromUtf8(what()); }
};

// Decimal text-to-integer conversion of a reply field (surrounding blanks allowed, an
// optional sign); throws ConversionError when the text holds no decimal number.
int fieldToInt(const QByteArray &text);

// The command texts the tool sends.
namespace Command {
QByteArray readFirstReader();  // "A00M"
QByteArray readSecondReader(); // "A00N"
QByteArray readVersion();      // "A00V"
QByteArray readMode();         // "A00A"
// "A00A" + mode digit + "0" + RS-485 digit: modeIndex 0 two readers, any other one reader;
// rs485Index 0..2 ("RS485 24", "32", "40").
QByteArray setMode(int modeIndex, int rs485Index);
// "A00C" + the reader's 8-character serial number + the new ID text (sent as given).
QByteArray setId(const QByteArray &serial, const QByteArray &id);
// "A00E" + the line-setting index 0..11 as one upper-case hex digit.
QByteArray setLine(int baudRateNo);
// "A" + ID text + "F": polls the reader with that ID.
QByteArray poll(const QByteArray &id);
} // namespace Command

// The reply fields, taken from a reply text (offsets count from its 0x0A). A field that
// reaches past the end is cut short; one that starts beyond it is empty.
namespace Reply {
QByteArray field(const QByteArray &replyText, int offset, int length);
QByteArray moduleId(const QByteArray &replyText);     // "A00M"/"A00N": offsets 2..3
QByteArray serialNumber(const QByteArray &replyText); // "A00M"/"A00N": offsets 5..12
// The serial number's last character (offset 12) as a number; throws ConversionError.
int unitDigit(const QByteArray &replyText);
QByteArray version(const QByteArray &replyText);   // "A00V": offsets 5..12
QByteArray modeChar(const QByteArray &replyText);  // "A00A": offset 5 (empty when missing)
QByteArray rs485Char(const QByteArray &replyText); // "A00A": offset 7 (empty when missing)
// Poll reply data: offsets 6..L-4; only meaningful when replyLength > 8.
QByteArray pollData(const QByteArray &replyText, int replyLength);
} // namespace Reply

} // namespace qmr
