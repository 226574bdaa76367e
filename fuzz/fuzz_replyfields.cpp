// The reply-field accessors and the decimal conversion on arbitrary reply texts: fields
// stay inside the text, have at most their length, and a conversion either gives a number
// or raises ConversionError.

#include "link/commands.h"

#include "require.h"

#include <cstdint>
#include <cstdlib>

using namespace qmr;

namespace {
void requireField(const QByteArray &text, const QByteArray &field, int offset, int length)
{
    require(field.size() <= length);
    require(field == text.mid(offset, length));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // A reply text never holds a zero byte: the reader takes it up to the first one.
    QByteArray text(reinterpret_cast<const char *>(data) + 2, qsizetype(size - 2));
    if (const qsizetype zero = text.indexOf('\0'); zero >= 0)
        text.truncate(zero);
    const int offset = int(data[0]) - 16; // negative offsets too
    const int length = int(data[1]) - 16;

    const QByteArray any = Reply::field(text, offset, length);
    require(any.size() <= qMax(0, length));
    if (offset >= 0 && length >= 0)
        requireField(text, any, offset, length);

    requireField(text, Reply::moduleId(text), 2, 2);
    requireField(text, Reply::serialNumber(text), 5, 8);
    requireField(text, Reply::version(text), 5, 8);
    requireField(text, Reply::modeChar(text), 5, 1);
    requireField(text, Reply::rs485Char(text), 7, 1);
    for (int replyLength : {int(text.size()), int(data[1]), -1, 0, 8, 9, 1023}) {
        const QByteArray poll = Reply::pollData(text, replyLength);
        require(poll.size() <= qMax<qsizetype>(0, text.size() - 6));
    }

    try {
        const int digit = Reply::unitDigit(text);
        require(text.size() > 12);
        (void)digit;
    } catch (const ConversionError &error) {
        require(!error.message().isEmpty());
    }
    try {
        const int value = fieldToInt(text);
        // A number the conversion took must read back the same.
        require(fieldToInt(QByteArray::number(value)) == value);
    } catch (const ConversionError &error) {
        require(error.message().endsWith(QLatin1String("is not a valid integer value")));
    }

    // Commands built from reply fields keep to one frame.
    const QByteArray setId = Command::setId(Reply::serialNumber(text), Reply::moduleId(text));
    require(setId.startsWith("A00C"));
    require(Command::poll(Reply::moduleId(text)).endsWith('F'));
    return 0;
}
