// The reply-field accessors and the decimal conversion on arbitrary reply texts: fields
// stay inside the text, have at most their length, and a conversion either gives a number
// or raises ConversionError.

#include "link/commands.h"
#include "vocabulary/decimal.h"

#include "require.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace qmr;

namespace {
void requireField(std::string_view text, const std::string &field, int offset, int length)
{
    require(field.size() <= std::size_t(length));
    const std::string_view expected = std::size_t(offset) < text.size()
                                          ? text.substr(std::size_t(offset), std::size_t(length))
                                          : std::string_view();
    require(field == expected);
}

bool endsWith(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    // A reply text never holds a zero byte: the reader takes it up to the first one.
    std::string text(reinterpret_cast<const char *>(data) + 2, size - 2);
    if (const auto zero = text.find('\0'); zero != std::string::npos)
        text.resize(zero);
    const int offset = int(data[0]) - 16; // negative offsets too
    const int length = int(data[1]) - 16;

    const std::string any = Reply::field(text, offset, length);
    require(any.size() <= std::size_t(std::max(0, length)));
    if (offset >= 0 && length >= 0)
        requireField(text, any, offset, length);

    requireField(text, Reply::moduleId(text), 2, 2);
    requireField(text, Reply::serialNumber(text), 5, 8);
    requireField(text, Reply::version(text), 5, 8);
    requireField(text, Reply::modeChar(text), 5, 1);
    requireField(text, Reply::rs485Char(text), 7, 1);
    for (const int replyLength : {int(text.size()), int(data[1]), -1, 0, 8, 9, 1023}) {
        const std::string poll = Reply::pollData(text, replyLength);
        require(poll.size() <= (text.size() > 6 ? text.size() - 6 : 0));
    }

    try {
        const int digit = Reply::unitDigit(text);
        require(text.size() > 12);
        require(digit >= 0 && digit <= 9);
    } catch (const ConversionError &error) {
        require(std::string_view(error.what()).size() > 0);
    }
    try {
        const int value = fieldToInt(text);
        // A number the conversion took must read back the same, and agree with the parser.
        require(fieldToInt(std::to_string(value)) == value);
        require(parseInt32(text, Blanks::Allowed) == value);
    } catch (const ConversionError &error) {
        require(endsWith(error.what(), "is not a valid integer value"));
        require(!parseInt32(text, Blanks::Allowed));
    }

    // Commands built from reply fields keep to one frame.
    const std::string setId = Command::setId(Reply::serialNumber(text), Reply::moduleId(text));
    require(setId.rfind("A00C", 0) == 0);
    require(Command::poll(Reply::moduleId(text)).back() == 'F');
    return 0;
}
