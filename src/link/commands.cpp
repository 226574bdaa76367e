#include "commands.h"

#include "linedefinition.h"

#include <limits>

namespace qmr {

ConversionError::ConversionError(const QByteArray &text)
    : std::runtime_error(("'" + text + "' is not a valid integer value").toStdString())
{
}

int fieldToInt(const QByteArray &text)
{
    // Decimal only, like the conversion the module's fields were always read with: blanks
    // around the number and one sign are fine, hex or trailing letters are not.
    const QByteArray t = text.trimmed();
    int pos = 0;
    bool negative = false;
    if (pos < t.size() && (t[pos] == '+' || t[pos] == '-')) {
        negative = t[pos] == '-';
        ++pos;
    }
    if (pos >= t.size())
        throw ConversionError(text);
    qint64 value = 0;
    for (; pos < t.size(); ++pos) {
        const char c = t[pos];
        if (c < '0' || c > '9')
            throw ConversionError(text);
        value = value * 10 + (c - '0');
        if (value > qint64(std::numeric_limits<int>::max()) + 1)
            throw ConversionError(text);
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min())
        throw ConversionError(text);
    return int(value);
}

namespace Command {

QByteArray readFirstReader()
{
    return QByteArrayLiteral("A00M");
}
QByteArray readSecondReader()
{
    return QByteArrayLiteral("A00N");
}
QByteArray readVersion()
{
    return QByteArrayLiteral("A00V");
}
QByteArray readMode()
{
    return QByteArrayLiteral("A00A");
}

QByteArray setMode(int modeIndex, int rs485Index)
{
    // The RS-485 list has three items; an index outside it would make a command the module
    // does not know, so it is held to the list.
    const char rs485 = char('0' + qBound(0, rs485Index, 2));
    return QByteArrayLiteral("A00A") + (modeIndex == 0 ? '0' : '1') + '0' + rs485;
}

QByteArray setId(const QByteArray &serial, const QByteArray &id)
{
    return QByteArrayLiteral("A00C") + serial + id;
}

QByteArray setLine(int baudRateNo)
{
    static constexpr char digits[] = "0123456789AB";
    return QByteArrayLiteral("A00E") + digits[safeBaudRateNo(baudRateNo)];
}

QByteArray poll(const QByteArray &id)
{
    return 'A' + id + 'F';
}

} // namespace Command

namespace Reply {

QByteArray field(const QByteArray &replyText, int offset, int length)
{
    if (offset < 0 || length <= 0 || offset >= replyText.size())
        return {};
    return replyText.mid(offset, length);
}

QByteArray moduleId(const QByteArray &replyText)
{
    return field(replyText, 2, 2);
}
QByteArray serialNumber(const QByteArray &replyText)
{
    return field(replyText, 5, 8);
}
int unitDigit(const QByteArray &replyText)
{
    return fieldToInt(field(replyText, 12, 1));
}
QByteArray version(const QByteArray &replyText)
{
    return field(replyText, 5, 8);
}
QByteArray modeChar(const QByteArray &replyText)
{
    return field(replyText, 5, 1);
}
QByteArray rs485Char(const QByteArray &replyText)
{
    return field(replyText, 7, 1);
}

QByteArray pollData(const QByteArray &replyText, int replyLength)
{
    if (replyLength <= 8)
        return {};
    return field(replyText, 6, replyLength - 9);
}

} // namespace Reply

} // namespace qmr
