#include "modulemodel.h"

#include "link/linedefinition.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace qmr {

namespace {

constexpr char FrameStart = 0x09;
constexpr char ReplyStart = 0x0A;
constexpr char FrameEnd = 0x0D;
// A frame longer than this cannot be a command (texts are at most 14 characters); the
// partial frame is dropped so a babbling line cannot grow it without bound.
constexpr std::size_t MaxFrameLength = 300;

// The line setting of a table index; an index outside the table stands for the default.
LineSettings lineOfIndex(int index)
{
    // Every table entry is a well-formed definition.
    return *parseLineDefinition(BaudRateTable[std::size_t(safeBaudRateNo(index))]);
}

std::uint8_t xorOf(char start, std::string_view text)
{
    auto value = std::uint8_t(start);
    for (char c : text)
        value ^= std::uint8_t(c);
    return value;
}

char hexDigit(int value)
{
    return char(value < 10 ? '0' + value : 'A' + value - 10);
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1; // lower case is not a check digit
}

bool hasLetter(std::uint8_t value)
{
    return (value >> 4) > 9 || (value & 0x0F) > 9;
}

bool isDecimalId(std::string_view id)
{
    return id.size() == 2 && id[0] >= '0' && id[0] <= '9' && id[1] >= '0' && id[1] <= '9' &&
           id != "00";
}

// The poll addresses a reader by its own ID; in one-reader mode only the first listens.
std::optional<std::string> pollReply(const ModuleConfig &config, std::string_view address)
{
    const ReaderState *reader = nullptr;
    if (address == config.reader1.id)
        reader = &config.reader1;
    else if (config.mode == '0' && address == config.reader2.id)
        reader = &config.reader2;
    if (!reader)
        return std::nullopt;
    return "F" + reader->id + ": " + reader->data;
}

// Serial number of the reader, then its new ID. No reader with that serial number, or an ID
// that is not two decimal digits 01..99: the command is not carried out and nothing answers,
// so the sender cannot mistake it for done.
std::optional<std::string> setReaderId(ModuleConfig &config, std::string_view params)
{
    if (params.size() != 10)
        return std::nullopt;
    const std::string_view serial = params.substr(0, 8);
    const std::string_view id = params.substr(8);
    if (!isDecimalId(id))
        return std::nullopt;
    if (serial == config.reader1.serial)
        config.reader1.id = id;
    else if (serial == config.reader2.serial)
        config.reader2.id = id;
    else
        return std::nullopt;
    return std::string("COK");
}

// Carries out one command on the module; returns the reply text, or nothing when the
// module stays silent. A line change is handed back in newLineIndex, not made here.
std::optional<std::string> carryOut(ModuleConfig &config, std::string_view text, int &newLineIndex)
{
    if (text.size() < 4 || text[0] != 'A')
        return std::nullopt;
    const std::string_view address = text.substr(1, 2);
    const char letter = text[3];
    const std::string_view params = text.substr(4);

    if (letter == 'F')
        return params.empty() ? pollReply(config, address) : std::nullopt;

    if (address != "00")
        return std::nullopt;
    switch (letter) {
    case 'M':
    case 'N': {
        if (!params.empty())
            return std::nullopt;
        const ReaderState &reader = letter == 'M' ? config.reader1 : config.reader2;
        return std::string(1, letter) + reader.id + ":" + reader.serial;
    }
    case 'V':
        if (!params.empty())
            return std::nullopt;
        return "V00:" + config.version;
    case 'A':
        if (params.empty()) {
            std::string settings = "A00:";
            settings += config.mode;
            settings += '0';
            settings += config.rs485;
            return settings + "00000";
        }
        if (params.size() != 3 || (params[0] != '0' && params[0] != '1') || params[1] != '0' ||
            params[2] < '0' || params[2] >= '0' + int(Rs485Values.size()))
            return std::nullopt;
        config.mode = params[0];
        config.rs485 = params[2];
        return std::string("AOK");
    case 'C':
        return setReaderId(config, params);
    case 'E': {
        if (params.size() != 1)
            return std::nullopt;
        const int index = hexValue(params[0]);
        if (index < 0 || index >= int(BaudRateTable.size()))
            return std::nullopt;
        newLineIndex = index;
        return std::string("EOK");
    }
    default:
        return std::nullopt;
    }
}

} // namespace

LineSettings ModuleModel::line() const
{
    return lineOfIndex(m_config.lineIndex);
}

std::vector<ModuleReply> ModuleModel::hear(std::string_view bytes, const LineSettings &line,
                                           bool parityKnown)
{
    std::vector<ModuleReply> replies;
    for (char byte : bytes) {
        // Checked per byte: an "A00E" earlier in the same run moves the module off the line.
        const LineSettings own = this->line();
        if (line.baud != own.baud || (parityKnown && line.parity != own.parity)) {
            m_partial.clear();
            break;
        }
        if (byte == FrameStart) {
            m_partial.assign(1, byte); // a new start byte begins a new frame
            continue;
        }
        if (m_partial.empty())
            continue; // noise between frames
        m_partial += byte;
        if (m_partial.size() > MaxFrameLength) {
            m_partial.clear();
            continue;
        }
        if (byte != FrameEnd)
            continue;
        const std::string frame = std::move(m_partial);
        m_partial.clear();
        if (frame.size() < 4)
            continue;
        std::string text = frame.substr(1, frame.size() - 4);
        const int high = hexValue(frame[frame.size() - 3]);
        const int low = hexValue(frame[frame.size() - 2]);
        if (high < 0 || low < 0 || std::uint8_t(high * 16 + low) != xorOf(FrameStart, text))
            continue;
        m_commands.push_back(text);
        if (auto reply = answer(text))
            replies.push_back(std::move(*reply));
    }
    return replies;
}

std::optional<ModuleReply> ModuleModel::answer(const std::string &command)
{
    int newLineIndex = -1;
    std::optional<std::string> text = carryOut(m_config, command, newLineIndex);
    // The acknowledgement of a line change is sent at the old setting (the caller sends it
    // right away); the module listens at the new one from the next byte on.
    if (newLineIndex >= 0)
        m_config.lineIndex = newLineIndex;
    if (!text || m_faults.silent)
        return std::nullopt;
    ++m_replyCount;
    if (m_faults.dropEvery > 0 && m_replyCount % m_faults.dropEvery == 0)
        return std::nullopt;

    ModuleReply reply;
    reply.delayMs = m_faults.delayMs;
    if (m_faults.endless) {
        // Starts like a reply, never ends: a start byte then text, repeated, with no 0x0D.
        reply.bytes = std::string(1, ReplyStart) + "0123456789ABCDE";
        reply.endless = true;
        return reply;
    }
    if (m_faults.floodBytes > 0) {
        reply.bytes =
            std::string(1, ReplyStart) + std::string(std::size_t(m_faults.floodBytes - 1), 'X');
        return reply;
    }

    std::string body = std::move(*text);
    if (m_faults.lengthDelta > 0)
        body.append(std::size_t(m_faults.lengthDelta), '0');
    else if (m_faults.lengthDelta < 0)
        body.resize(body.size() -
                    std::min(std::size_t(-std::int64_t(m_faults.lengthDelta)), body.size()));
    std::uint8_t check = xorOf(ReplyStart, body);
    if (m_faults.wrongCheck)
        check = std::uint8_t(check + 1);
    if (m_faults.lowerCaseCheck && !hasLetter(check) && !body.empty()) {
        // Digits without a letter have no lower-case form; change the first text character
        // (never read by the tool in any reply) until the check carries a letter.
        for (char c = 'a'; c <= 'z'; ++c) {
            const auto candidate = std::uint8_t(check ^ std::uint8_t(body[0]) ^ std::uint8_t(c));
            if (hasLetter(candidate)) {
                body[0] = c;
                check = candidate;
                break;
            }
        }
    }
    std::string digits;
    digits += hexDigit(check >> 4);
    digits += hexDigit(check & 0x0F);
    if (m_faults.lowerCaseCheck) {
        for (char &c : digits)
            c = char(std::tolower(static_cast<unsigned char>(c)));
    }

    if (m_faults.leadingGarbage)
        reply.bytes += char(0x55);
    reply.bytes += ReplyStart;
    reply.bytes += body;
    reply.bytes += digits;
    reply.bytes += FrameEnd;
    return reply;
}

} // namespace qmr
