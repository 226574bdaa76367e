#include "link/commands.h"
#include "sim/commandframe.h"
#include "sim/modulemodel.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using namespace qmr;
using qmr::test::cmd;
using qmr::test::upperHex;

namespace {

const LineSettings Line19200e{19200, 'e', 8, 1};

// True when a reply is framed and its upper-case check digits are right.
bool replyCheckOk(const std::string &reply)
{
    if (reply.size() < 4 || reply[0] != 0x0A || reply.back() != '\r')
        return false;
    std::uint8_t check = 0;
    for (std::size_t i = 0; i + 3 < reply.size(); ++i)
        check ^= std::uint8_t(reply[i]);
    return reply.substr(reply.size() - 3, 2) == upperHex(check);
}

// Bytes from spaced upper-case hex pairs: "0A 4D".
std::string hex(std::string_view spaced)
{
    auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
    std::string out;
    for (std::size_t i = 0; i + 1 < spaced.size(); i += 3)
        out += char(nibble(spaced[i]) * 16 + nibble(spaced[i + 1]));
    return out;
}

std::string upper(std::string s)
{
    for (char &c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Sends one command at 19200,e,8,1; the single reply's bytes, or empty when none came.
std::string ask(ModuleModel &m, const std::string &text, const LineSettings &line = Line19200e)
{
    const std::vector<ModuleReply> replies = m.hear(cmd(text), line);
    return replies.empty() ? std::string() : replies.front().bytes;
}

using Texts = std::vector<std::string>;

} // namespace

TEST(ModuleModel, CommandFrameHelper)
{
    // The tool's own worked example, so the helper is known to be right.
    EXPECT_EQ(cmd("A00M"), hex("09 41 30 30 4D 30 35 0D"));
}

TEST(ModuleModel, RepliesToEachCommand)
{
    struct Row
    {
        const char *command;
        const char *reply;
    };
    const Row rows[] = {
        {"A00M", "0A 4D 30 31 3A 32 30 32 35 30 30 31 30 37 38 0D"},
        {"A00N", "0A 4E 30 35 3A 32 30 32 35 30 30 32 31 37 44 0D"},
        {"A00V", "0A 56 30 30 3A 30 33 2E 32 30 2D 30 31 36 35 0D"},
        {"A00A", "0A 41 30 30 3A 30 30 31 30 30 30 30 30 37 30 0D"},
        {"A01F", "0A 46 30 31 3A 20 30 30 30 30 30 31 32 33 34 35 35 36 0D"},
        {"A05F", "0A 46 30 35 3A 20 30 30 30 30 30 36 37 38 39 30 35 33 0D"},
        {"A00A001", "0A 41 4F 4B 34 46 0D"},
        {"A00C2025001007", "0A 43 4F 4B 34 44 0D"},
        {"A00E5", "0A 45 4F 4B 34 42 0D"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.command);
        ModuleModel m;
        const std::vector<ModuleReply> replies = m.hear(cmd(row.command), Line19200e);
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies.front().bytes, hex(row.reply));
        EXPECT_EQ(replies.front().delayMs, 0);
        EXPECT_FALSE(replies.front().endless);
        EXPECT_EQ(m.commands(), Texts{row.command});
    }
}

TEST(ModuleModel, FieldsAtTheirOffsets)
{
    ModuleConfig c;
    c.reader1 = {"42", "ABCDEFG9", "x"};
    c.reader2 = {"77", "HIJKLMN3", "y"};
    c.version = "12.34-56";
    c.mode = '1';
    c.rs485 = '2';
    ModuleModel m(c);
    const std::string r1 = ask(m, "A00M");
    ASSERT_EQ(r1.size(), std::size_t(Reply::ReaderReplyLength));
    EXPECT_EQ(Reply::moduleId(r1), "42");
    EXPECT_EQ(Reply::serialNumber(r1), "ABCDEFG9");
    const std::string r2 = ask(m, "A00N");
    ASSERT_EQ(r2.size(), std::size_t(Reply::ReaderReplyLength));
    EXPECT_EQ(Reply::moduleId(r2), "77");
    EXPECT_EQ(Reply::serialNumber(r2), "HIJKLMN3");
    EXPECT_EQ(Reply::version(ask(m, "A00V")), "12.34-56");
    const std::string a = ask(m, "A00A");
    ASSERT_EQ(a.size(), 16u);
    EXPECT_EQ(a.substr(5, 3), "102");
    const std::string poll = ask(m, "A42F");
    EXPECT_EQ(Reply::pollData(poll, int(poll.size())), "x");
    for (const std::string &r : {r1, r2, a, poll})
        EXPECT_TRUE(replyCheckOk(r)) << r;
}

TEST(ModuleModel, CommandsHeardButNotCarriedOutGetNoReply)
{
    const struct
    {
        const char *name;
        const char *command;
    } rows[] = {
        {"other address M", "A01M"},
        {"other address E", "A05E3"},
        {"unknown letter", "A00X"},
        {"M with parameter", "A00M1"},
        {"not an A", "B00M"},
        {"too short", "A00"},
        {"poll of no reader", "A07F"},
        {"poll with placeholder ID", "A__F"},
        {"mode with two characters", "A00A10"},
        {"mode 2", "A00A200"},
        {"RS-485 3", "A00A003"},
        {"line C", "A00EC"},
        {"line lower-case a", "A00Ea"},
        {"line two digits", "A00E10"},
        {"ID of an unknown serial", "A00C9999999912"},
        {"ID placeholder", "A00C20250021__"},
        {"ID 00", "A00C2025001000"},
        {"ID short", "A00C202500101"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        ModuleModel m;
        const ModuleConfig before = m.config();
        EXPECT_TRUE(m.hear(cmd(row.command), Line19200e).empty());
        // Heard (the frame was good) but not carried out.
        EXPECT_EQ(m.commands(), Texts{row.command});
        EXPECT_EQ(m.config().reader1.id, before.reader1.id);
        EXPECT_EQ(m.config().reader2.id, before.reader2.id);
        EXPECT_EQ(m.config().mode, before.mode);
        EXPECT_EQ(m.config().rs485, before.rs485);
        EXPECT_EQ(m.config().lineIndex, before.lineIndex);
    }
}

TEST(ModuleModel, Framing)
{
    ModuleModel m;
    // Bad check value: ignored and not recorded.
    EXPECT_TRUE(m.hear(hex("09 41 30 30 4D 30 36 0D"), Line19200e).empty());
    // Lower-case check digits are not check digits (A00V checks 0x1E).
    EXPECT_TRUE(m.hear("\x09"
                       "A00V1e\r",
                       Line19200e)
                    .empty());
    EXPECT_TRUE(m.commands().empty());
    // Noise before the start byte is skipped.
    EXPECT_EQ(m.hear("\x55\x0D\x41" + cmd("A00M"), Line19200e).size(), 1u);
    // A frame that arrives in pieces.
    const std::string frame = cmd("A00N");
    EXPECT_TRUE(m.hear(frame.substr(0, 3), Line19200e).empty());
    EXPECT_TRUE(m.hear(frame.substr(3, 2), Line19200e).empty());
    EXPECT_EQ(m.hear(frame.substr(5), Line19200e).size(), 1u);
    // A start byte in the middle of a frame begins a new one.
    EXPECT_EQ(m.hear("\x09"
                     "A0" +
                         cmd("A00V"),
                     Line19200e)
                  .size(),
              1u);
    // Two frames in one run give two replies, in order.
    const std::vector<ModuleReply> two = m.hear(cmd("A00M") + cmd("A00N"), Line19200e);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].bytes[1], 'M');
    EXPECT_EQ(two[1].bytes[1], 'N');
    EXPECT_EQ(m.commands(), (Texts{"A00M", "A00N", "A00V", "A00M", "A00N"}));
    // A bare end byte, and a frame too short to hold check digits.
    EXPECT_TRUE(m.hear("\x09\r\x09"
                       "0\r",
                       Line19200e)
                    .empty());
}

TEST(ModuleModel, OverlongFrameIsDropped)
{
    // A correctly checked frame longer than any command: the partial frame is dropped on
    // the way, so it is never heard, and a good frame after it still is.
    ModuleModel m;
    EXPECT_TRUE(m.hear(cmd(std::string(400, 'A')), Line19200e).empty());
    EXPECT_TRUE(m.commands().empty());
    EXPECT_EQ(m.hear(cmd("A00M"), Line19200e).size(), 1u);
}

TEST(ModuleModel, SetId)
{
    ModuleModel m;
    EXPECT_FALSE(ask(m, "A00C2025001012").empty());
    EXPECT_EQ(m.config().reader1.id, "12");
    EXPECT_EQ(Reply::moduleId(ask(m, "A00M")), "12");
    EXPECT_TRUE(ask(m, "A00C2025002033").empty()); // serial of nobody
    EXPECT_FALSE(ask(m, "A00C2025002134").empty());
    EXPECT_EQ(m.config().reader2.id, "34");
    EXPECT_EQ(Reply::moduleId(ask(m, "A00N")), "34");
    // The poll follows the new IDs; the old ones are gone.
    EXPECT_TRUE(ask(m, "A01F").empty());
    EXPECT_FALSE(ask(m, "A12F").empty());
    EXPECT_FALSE(ask(m, "A34F").empty());
}

TEST(ModuleModel, SetModeAndOneReaderPoll)
{
    ModuleModel m;
    EXPECT_FALSE(ask(m, "A00A102").empty());
    EXPECT_EQ(m.config().mode, '1');
    EXPECT_EQ(m.config().rs485, '2');
    EXPECT_EQ(ask(m, "A00A").substr(5, 3), "102");
    // One reader: only the first answers its poll.
    EXPECT_FALSE(ask(m, "A01F").empty());
    EXPECT_TRUE(ask(m, "A05F").empty());
    // Still, both identities can be read.
    EXPECT_EQ(ask(m, "A00N").size(), std::size_t(Reply::ReaderReplyLength));
    EXPECT_FALSE(ask(m, "A00A000").empty());
    EXPECT_EQ(ask(m, "A05F").substr(6, 10), "0000067890");
}

TEST(ModuleModel, SetLine)
{
    ModuleModel m;
    EXPECT_EQ(m.line(), Line19200e);
    // The acknowledgement comes at the old setting...
    EXPECT_EQ(ask(m, "A00EA"), hex("0A 45 4F 4B 34 42 0D"));
    EXPECT_EQ(m.config().lineIndex, 10);
    const LineSettings fast{115200, 'n', 8, 1};
    EXPECT_EQ(m.line(), fast);
    // ...and from then on only the new one is heard.
    EXPECT_TRUE(ask(m, "A00M").empty());
    EXPECT_EQ(ask(m, "A00M", fast).size(), std::size_t(Reply::ReaderReplyLength));
    EXPECT_EQ(m.commands().size(), 2u);

    // In one run of bytes, what follows the change is noise at the old rate.
    ModuleModel n;
    EXPECT_EQ(n.hear(cmd("A00E0") + cmd("A00M"), Line19200e).size(), 1u);
    EXPECT_EQ(n.commands(), Texts{"A00E0"});
    EXPECT_EQ(ask(n, "A00M", LineSettings{4800, 'n', 8, 1}).size(),
              std::size_t(Reply::ReaderReplyLength));
}

TEST(ModuleModel, LineOfEveryTableIndex)
{
    // Pairs of no parity / even parity per baud rate; an index outside the table is the
    // default 19200,e,8,1.
    const std::int32_t bauds[] = {4800, 9600, 19200, 38400, 57600, 115200};
    for (int i = -1; i <= 12; ++i) {
        SCOPED_TRACE(i);
        ModuleConfig c;
        c.lineIndex = i;
        const LineSettings expected =
            i < 0 || i > 11 ? Line19200e : LineSettings{bauds[i / 2], i % 2 ? 'e' : 'n', 8, 1};
        EXPECT_EQ(ModuleModel(c).line(), expected);
    }
}

TEST(ModuleModel, LineMismatch)
{
    const struct
    {
        const char *name;
        LineSettings line;
        bool parityKnown;
        bool answered;
    } rows[] = {
        {"same", Line19200e, true, true},
        {"other baud", {9600, 'e', 8, 1}, true, false},
        {"other baud, parity unknown", {38400, 'e', 8, 1}, false, false},
        {"no parity", {19200, 'n', 8, 1}, true, false},
        {"no parity, parity unknown", {19200, 'n', 8, 1}, false, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        ModuleModel m;
        EXPECT_EQ(m.hear(cmd("A00M"), row.line, row.parityKnown).size(), row.answered ? 1u : 0u);
        EXPECT_EQ(m.commands().size(), row.answered ? 1u : 0u);
    }
}

TEST(ModuleModel, NoiseDropsThePartialFrame)
{
    ModuleModel m;
    const std::string frame = cmd("A00M");
    EXPECT_TRUE(m.hear(frame.substr(0, 4), Line19200e).empty());
    EXPECT_TRUE(m.hear("xx", LineSettings{4800, 'n', 8, 1}).empty());
    EXPECT_TRUE(m.hear(frame.substr(4), Line19200e).empty());
    EXPECT_TRUE(m.commands().empty());
    EXPECT_EQ(m.hear(frame, Line19200e).size(), 1u);
}

TEST(ModuleModelFaults, WrongAndLowerCaseCheck)
{
    ModuleModel m;
    m.faults().wrongCheck = true;
    // A00M checks 0x78: off by one gives 0x79.
    EXPECT_EQ(ask(m, "A00M"), hex("0A 4D 30 31 3A 32 30 32 35 30 30 31 30 37 39 0D"));

    ModuleModel lower;
    lower.faults().lowerCaseCheck = true;
    // "AOK" checks 0x4F: the same reply with "4f".
    EXPECT_EQ(ask(lower, "A00A001"), hex("0A 41 4F 4B 34 66 0D"));
    // A00M checks 0x78, which has no letter: the unread first character is changed so
    // that the digits do, and they come in lower case.
    const std::string r = ask(lower, "A00M");
    ASSERT_EQ(r.size(), 16u);
    EXPECT_EQ(r.substr(2, 11), "01:20250010");
    const std::string digits = r.substr(13, 2);
    EXPECT_NE(digits, upper(digits));
    EXPECT_FALSE(replyCheckOk(r));
    EXPECT_TRUE(replyCheckOk(r.substr(0, 13) + upper(digits) + "\r"));
}

TEST(ModuleModelFaults, Length)
{
    const struct
    {
        int delta;
        std::size_t length;
    } rows[] = {{1, 17}, {-1, 15}, {-12, 4}, {-20, 4}}; // -12: no text; -20: no more than all
    for (const auto &row : rows) {
        SCOPED_TRACE(row.delta);
        ModuleModel m;
        m.faults().lengthDelta = row.delta;
        const std::string r = ask(m, "A00M");
        EXPECT_EQ(r.size(), row.length);
        EXPECT_TRUE(replyCheckOk(r)); // the check stays right: only the length is off
        if (row.delta > 0) {
            EXPECT_EQ(r.substr(0, 13), hex("0A 4D 30 31 3A 32 30 32 35 30 30 31 30"));
        }
    }
}

TEST(ModuleModelFaults, Streams)
{
    ModuleModel garbage;
    garbage.faults().leadingGarbage = true;
    EXPECT_EQ(ask(garbage, "A00E5"), hex("55 0A 45 4F 4B 34 42 0D"));

    ModuleModel delayed;
    delayed.faults().delayMs = 250;
    const std::vector<ModuleReply> d = delayed.hear(cmd("A00M"), Line19200e);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].delayMs, 250);

    ModuleModel flood;
    flood.faults().floodBytes = 2000;
    const std::string f = ask(flood, "A00M");
    ASSERT_EQ(f.size(), 2000u);
    EXPECT_EQ(f[0], '\x0A');
    EXPECT_EQ(f.find('\r'), std::string::npos);

    ModuleModel endless;
    endless.faults().endless = true;
    const std::vector<ModuleReply> e = endless.hear(cmd("A00M"), Line19200e);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_TRUE(e[0].endless);
    ASSERT_FALSE(e[0].bytes.empty());
    EXPECT_EQ(e[0].bytes[0], '\x0A');
    EXPECT_EQ(e[0].bytes.find('\r'), std::string::npos);
}

TEST(ModuleModelFaults, SilenceAndDrops)
{
    ModuleModel silent;
    silent.faults().silent = true;
    EXPECT_TRUE(ask(silent, "A00M").empty());
    // Silent, yet it carries the command out (as a module whose replies are lost).
    EXPECT_TRUE(ask(silent, "A00C2025001042").empty());
    EXPECT_EQ(silent.config().reader1.id, "42");

    ModuleModel drop;
    drop.faults().dropEvery = 3;
    std::vector<bool> answered;
    for (int i = 0; i < 7; ++i)
        answered.push_back(!ask(drop, "A00M").empty());
    EXPECT_EQ(answered, (std::vector<bool>{true, true, false, true, true, false, true}));
    // Commands that get no reply anyway do not count.
    ModuleModel drop2;
    drop2.faults().dropEvery = 2;
    EXPECT_FALSE(ask(drop2, "A00M").empty());
    EXPECT_TRUE(ask(drop2, "A09F").empty());
    EXPECT_TRUE(ask(drop2, "A00M").empty());
}
