#include "link/commands.h"
#include "link/linedefinition.h"

#include <gtest/gtest.h>

#include <string>

using namespace qmr;

TEST(Commands, FixedCommands)
{
    EXPECT_EQ(Command::readFirstReader(), "A00M");
    EXPECT_EQ(Command::readSecondReader(), "A00N");
    EXPECT_EQ(Command::readVersion(), "A00V");
    EXPECT_EQ(Command::readMode(), "A00A");
}

TEST(Commands, SetLine)
{
    const struct
    {
        int index;
        const char *command;
    } rows[] = {
        {0, "A00E0"},  {5, "A00E5"},  {9, "A00E9"},
        {10, "A00EA"}, {11, "A00EB"}, {12, "A00E5"}, // out of range is the default
        {-1, "A00E5"},                               // negative is the default
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.index);
        EXPECT_EQ(Command::setLine(r.index), r.command);
    }
}

TEST(Commands, SetMode)
{
    const struct
    {
        int mode;
        int rs485;
        const char *command;
    } rows[] = {
        {0, 0, "A00A000"},  {0, 1, "A00A001"}, {0, 2, "A00A002"}, {1, 0, "A00A100"},
        {1, 1, "A00A101"},  {1, 2, "A00A102"}, {3, 2, "A00A102"}, // any other mode is one reader
        {0, 7, "A00A002"},  // an RS-485 index past the list is held to its last item
        {1, -4, "A00A100"}, // and one before it to the first
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::to_string(r.mode) + "/" + std::to_string(r.rs485));
        EXPECT_EQ(Command::setMode(r.mode, r.rs485), r.command);
    }
}

TEST(Commands, SetIdAndPoll)
{
    const std::string command = Command::setId("12345670", "12");
    EXPECT_EQ(command, "A00C1234567012");
    EXPECT_EQ(command.size(), 14u);
    EXPECT_EQ(Command::poll("07"), "A07F");
    EXPECT_EQ(Command::poll("__"), "A__F");
}

TEST(Reply, FieldsOfReplyCutAnywhere)
{
    const std::string full("\n 07 12345679XX\r");
    const struct
    {
        const char *name;
        std::string reply;
        const char *moduleId;
        const char *serial;
        const char *mode;
        const char *rs485;
    } rows[] = {
        {"sixteen bytes", full, "07", "12345679", "1", "3"},
        {"cut in the serial", full.substr(0, 9), "07", "1234", "1", "3"},
        {"cut in the ID", full.substr(0, 3), "0", "", "", ""},
        {"mode but no RS-485", full.substr(0, 7), "07", "12", "1", ""},
        {"empty", "", "", "", "", ""},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(Reply::moduleId(r.reply), r.moduleId);
        EXPECT_EQ(Reply::serialNumber(r.reply), r.serial);
        EXPECT_EQ(Reply::version(r.reply), r.serial);
        EXPECT_EQ(Reply::modeChar(r.reply), r.mode);
        EXPECT_EQ(Reply::rs485Char(r.reply), r.rs485);
    }
}

TEST(Reply, FieldStaysInsideText)
{
    const std::string reply("\nabcdef\r");
    EXPECT_EQ(Reply::field(reply, 1, 3), "abc");
    EXPECT_EQ(Reply::field(reply, 6, 5), "f\r");
    EXPECT_EQ(Reply::field(reply, 8, 1), "");
    EXPECT_EQ(Reply::field(reply, 40, 2), "");
    EXPECT_EQ(Reply::field(reply, -1, 2), "");
    EXPECT_EQ(Reply::field(reply, 1, 0), "");
    EXPECT_EQ(Reply::field(reply, 1, -3), "");
}

TEST(Reply, UnitDigit)
{
    EXPECT_EQ(Reply::unitDigit("\n 07 12345670XX\r"), 0);
    EXPECT_EQ(Reply::unitDigit("\n 07 12345679XX\r"), 9);
    EXPECT_THROW(Reply::unitDigit("\n 07 1234567AXX\r"), ConversionError);
    EXPECT_THROW(Reply::unitDigit("\n 07 12"), ConversionError);
}

TEST(Reply, PollData)
{
    const struct
    {
        const char *name;
        std::string reply;
        const char *data;
    } rows[] = {
        {"eight bytes: nothing", "\n12345XX", ""},
        {"nine bytes: empty", "\n12345XX\r", ""},
        {"ten bytes: one character", "\n12345dXX\r", "d"},
        {"longer", "\n12345CARD0042XX\r", "CARD0042"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(Reply::pollData(r.reply, int(r.reply.size())), r.data);
    }
}

TEST(Reply, PollDataCutShort)
{
    // A zero byte in the reply ends its text before ReplyLength does.
    EXPECT_EQ(Reply::pollData("\n12345ab", 14), "ab");
}

TEST(FieldToInt, ConvertsOrRaises)
{
    const struct
    {
        const char *name;
        std::string text;
        bool valid;
        int value;
    } rows[] = {
        {"two digits", "07", true, 7},
        {"99", "99", true, 99},
        {"blanks", " 5 ", true, 5},
        {"tab", "\t5", true, 5},
        {"plus", "+3", true, 3},
        {"minus", "-3", true, -3},
        {"largest", "2147483647", true, 2147483647},
        {"smallest", "-2147483648", true, -2147483647 - 1},
        {"placeholder", "__", false, 0},
        {"empty", "", false, 0},
        {"blank", "  ", false, 0},
        {"sign only", "-", false, 0},
        {"trailing letter", "1a", false, 0},
        {"hex", "0x1", false, 0},
        {"dollar hex", "$1", false, 0},
        {"inner blank", "1 2", false, 0},
        {"blank after sign", "- 1", false, 0},
        {"too large", "2147483648", false, 0},
        {"too small", "-2147483649", false, 0},
        {"two signs", "+-1", false, 0},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        if (r.valid) {
            EXPECT_EQ(fieldToInt(r.text), r.value);
            continue;
        }
        try {
            fieldToInt(r.text);
            ADD_FAILURE() << "no exception";
        } catch (const ConversionError &e) {
            EXPECT_EQ(std::string(e.what()), "'" + r.text + "' is not a valid integer value");
        }
    }
}

TEST(LineDefinition, Parses)
{
    const struct
    {
        const char *text;
        bool valid;
        LineSettings line;
    } rows[] = {
        {"19200,e,8,1", true, {19200, 'e', 8, 1}},
        {"4800,n,8,1", true, {4800, 'n', 8, 1}},
        {"115200,e,8,1", true, {115200, 'e', 8, 1}},
        {"9600,o,7,2", true, {9600, 'o', 7, 2}},
        {"300,M,5,1", true, {300, 'm', 5, 1}},
        {"300,s,6,2", true, {300, 's', 6, 2}},
        {" 9600, E ,8, 1", true, {9600, 'e', 8, 1}},
        {"\t9600\t,e,8,1 ", true, {9600, 'e', 8, 1}},
        {"2147483647,n,8,1", true, {2147483647, 'n', 8, 1}},
        {"9600,n,8", false, {}},
        {"9600,n,8,1,", false, {}},
        {"9600,x,8,1", false, {}},
        {"9600,,8,1", false, {}},
        {"9600,ne,8,1", false, {}},
        {"fast,n,8,1", false, {}},
        {"0,n,8,1", false, {}},
        {"-9600,n,8,1", false, {}},
        {"2147483648,n,8,1", false, {}},
        {"9 600,n,8,1", false, {}},
        {"9600,n,9,1", false, {}},
        {"9600,n,4,1", false, {}},
        {"9600,n,8,0", false, {}},
        {"9600,n,8,3", false, {}},
        {"", false, {}},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.text);
        const auto line = parseLineDefinition(r.text);
        ASSERT_EQ(line.has_value(), r.valid);
        if (r.valid) {
            EXPECT_EQ(*line, r.line);
        }
    }
}

TEST(LineDefinition, EveryTableEntryParsesAndIsFound)
{
    for (int i = 0; i < int(BaudRateTable.size()); ++i) {
        SCOPED_TRACE(BaudRateTable[std::size_t(i)]);
        EXPECT_TRUE(parseLineDefinition(BaudRateTable[std::size_t(i)]).has_value());
        EXPECT_EQ(baudRateIndexOf(BaudRateTable[std::size_t(i)]), i);
    }
    EXPECT_EQ(BaudRateTable[std::size_t(DefaultBaudRateNo)], std::string("19200,e,8,1"));
    // Only the exact text is found.
    EXPECT_EQ(baudRateIndexOf("19200,E,8,1"), -1);
    EXPECT_EQ(baudRateIndexOf(" 19200,e,8,1"), -1);
    EXPECT_EQ(baudRateIndexOf(""), -1);
}

TEST(LineDefinition, SafeBaudRateNo)
{
    EXPECT_EQ(safeBaudRateNo(0), 0);
    EXPECT_EQ(safeBaudRateNo(11), 11);
    EXPECT_EQ(safeBaudRateNo(12), DefaultBaudRateNo);
    EXPECT_EQ(safeBaudRateNo(-1), DefaultBaudRateNo);
    EXPECT_EQ(safeBaudRateNo(INT32_MIN), DefaultBaudRateNo);
}

TEST(LineDefinition, Rs485IndexOf)
{
    EXPECT_EQ(rs485IndexOf(24), 0);
    EXPECT_EQ(rs485IndexOf(32), 1);
    EXPECT_EQ(rs485IndexOf(40), 2);
    for (const int value : {0, 1, 2, 23, 25, 48, -24})
        EXPECT_EQ(rs485IndexOf(value), -1) << value;
}
