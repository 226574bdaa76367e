// The INI settings text in memory: parsing, the load rules over it, saving into it, and the
// quoting of texts. The file itself is tested in tests/platform/unix.
#include "settings/initext.h"
#include "support/samplesettings.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace qmr;

namespace {

void expectSettings(const Settings &actual, const Settings &expected)
{
    EXPECT_EQ(describe(actual), describe(expected));
}

Settings load(std::string_view contents)
{
    IniText text(contents);
    Settings s = sampleSettings(77, "junk", 77, "ChineseGB");
    LoadSettings(text, s);
    return s;
}

// Every line must be blank, a comment, a [group] or key=value, in UTF-8, each ended by '\n'.
bool isWellFormed(const std::string &data)
{
    if (!data.empty() && data.back() != '\n')
        return false;
    if (!ini::isValidUtf8(data))
        return false;
    std::size_t start = 0;
    while (start < data.size()) {
        const std::size_t end = data.find('\n', start);
        const std::string_view line(data.data() + start, end - start);
        start = end + 1;
        for (const char ch : line) {
            const auto c = static_cast<unsigned char>(ch);
            if ((c < 0x20 && c != '\t') || c == 0x7f)
                return false;
        }
        const std::string_view t = ini::trim(line);
        if (t.empty() || t.front() == '#' || t.front() == ';' ||
            (t.front() == '[' && t.back() == ']'))
            continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos || eq == 0 || ini::trim(line.substr(0, eq)).empty())
            return false;
    }
    return true;
}

const std::string DefBaud = "19200,e,8,1";
const std::string Rest = "ScanBaudRate=9600,n,8,1\nScanBaudRateNo=2\nLanguageFlag=ChineseGB\n";

} // namespace

TEST(IniTextLoad, AllFourAndOnlyOne)
{
    expectSettings(load("[QMRConfig]\nScanCommNo=3\n" + Rest),
                   sampleSettings(3, "9600,n,8,1", 2, "ChineseGB"));
    expectSettings(load("[QMRConfig]\nLanguageFlag=ChineseBIG5\n"),
                   sampleSettings(0, DefBaud, 5, "ChineseBIG5"));
    expectSettings(load(""), Settings{});
}

TEST(IniTextLoad, CommNumberThatIsNoIntegerEndsTheLoad)
{
    for (const char *bad : {"\"3\"", "abc", " 3", "3 ", "", "0x10", "3.0", "2147483648",
                            "-2147483649", "+", "-", "1e3", "٣", "3\t"}) {
        SCOPED_TRACE(bad);
        expectSettings(load("[QMRConfig]\nScanCommNo=" + std::string(bad) + "\n" + Rest),
                       Settings{});
    }
}

TEST(IniTextLoad, WrongTypeLaterKeepsWhatWasReadBefore)
{
    expectSettings(load("[QMRConfig]\nScanCommNo=4\nScanBaudRate=4800,n,8,1\nScanBaudRateNo=five\n"
                        "LanguageFlag=ChineseGB\n"),
                   sampleSettings(4, "4800,n,8,1", 5, "English"));
    // The order of the lines does not matter, the order of the reads does.
    expectSettings(load("[QMRConfig]\nLanguageFlag=ChineseGB\nScanBaudRateNo=x\nScanCommNo=2\n"),
                   sampleSettings(2, DefBaud, 5, "English"));
}

TEST(IniTextLoad, IntegersAsStored)
{
    for (std::int32_t v : {-1, 12, 0, -5, 99, 2147483647, -2147483647 - 1}) {
        SCOPED_TRACE(v);
        const std::string n = std::to_string(v);
        expectSettings(load("[QMRConfig]\nScanCommNo=" + n + "\nScanBaudRateNo=" + n + "\n"),
                       sampleSettings(v, DefBaud, v, "English"));
    }
    expectSettings(load("[QMRConfig]\nScanCommNo=+07\nScanBaudRateNo=-011\n"),
                   sampleSettings(7, DefBaud, -11, "English"));
    expectSettings(load("[QMRConfig]\nScanBaudRate=hello, world\n"),
                   sampleSettings(0, "hello, world", 5, "English"));
}

TEST(IniTextLoad, LanguageFlagIsComparedExactly)
{
    for (const char *flag : {"English", "chinesegb", "CHINESEBIG5", "ChineseGB ", " ChineseGB",
                             "Chinese", "", "ChineseBig5"}) {
        SCOPED_TRACE(flag);
        const Settings s = load("[QMRConfig]\nLanguageFlag=" + std::string(flag) + "\n");
        EXPECT_EQ(s.LanguageFlag, flag);
        EXPECT_EQ(s.LanguageIndex, 0);
    }
    EXPECT_EQ(load("[QMRConfig]\nLanguageFlag=\"ChineseGB\"\n").LanguageIndex, 1);
}

TEST(IniTextLoad, FileLayout)
{
    // CRLF, blanks around the key, comments, a byte order mark.
    expectSettings(load("\xEF\xBB\xBF[QMRConfig]\r\n; by hand\r\n  ScanCommNo =9\r\n# x\r\n"
                        "LanguageFlag=ChineseBIG5\r\n"),
                   sampleSettings(9, DefBaud, 5, "ChineseBIG5"));
    // Several marks at a line's start go too, so a save cannot turn the line into another key
    // that shadows the value it saved.
    IniText twoMarks("[QMRConfig]\n\xEF\xBB\xBF\xEF\xBB\xBFScanCommNo=3\n");
    Settings saved = sampleSettings(7, DefBaud, 5, "English");
    SaveScanSettings(twoMarks, saved);
    Settings reread;
    LoadSettings(twoMarks, reread);
    EXPECT_EQ(reread.ScanCommNo, 7) << twoMarks.bytes();
    IniText again(twoMarks.bytes());
    LoadSettings(again, reread);
    EXPECT_EQ(reread.ScanCommNo, 7) << again.bytes();
    // Unicode blanks around keys and group names are trimmed too.
    expectSettings(load("[\xC2\xA0QMRConfig\xE3\x80\x80]\n\xE2\x80\xA8ScanCommNo\xC2\x85=4\n"),
                   sampleSettings(4, DefBaud, 5, "English"));
    // Values of other groups and before any group are ignored.
    expectSettings(load("ScanCommNo=1\n[Other]\nScanCommNo=2\nLanguageFlag=ChineseGB\n"
                        "[QMRConfig]\nScanBaudRateNo=3\n"),
                   sampleSettings(0, DefBaud, 3, "English"));
    expectSettings(load("[qmrconfig]\nScanCommNo=2\n"), Settings{});
    expectSettings(load("[QMRConfig]\nscancommno=2\n"), Settings{});
    // The first occurrence counts, even in a second [QMRConfig].
    expectSettings(load("[QMRConfig]\nScanCommNo=2\n[Ports]\n[QMRConfig]\nScanCommNo=x\n"
                        "ScanCommNo=5\n"),
                   sampleSettings(2, DefBaud, 5, "English"));
    // Lines with control characters or broken UTF-8 are skipped.
    for (const std::string &bad :
         std::vector<std::string>{"ScanCommNo=1\x01", std::string("ScanCommNo=1\0", 13),
                                  "ScanCommNo=1\r\r", "ScanCommNo=1\xC3", "ScanCommNo=\xED\xA0\x80",
                                  "ScanCommNo=\xC0\x80", "ScanCommNo=1\x7f"}) {
        SCOPED_TRACE(bad);
        expectSettings(load("[QMRConfig]\n" + bad + "\nScanCommNo=6\n"),
                       sampleSettings(6, DefBaud, 5, "English"));
    }
}

TEST(IniTextParse, TruncatedTextLeavesOutItsLastLine)
{
    const std::string text = "[QMRConfig]\nScanCommNo=12\nScanBaudRateNo=3";
    EXPECT_EQ(IniText(text, true).bytes(), "[QMRConfig]\nScanCommNo=12\n");
    EXPECT_EQ(IniText(text, false).bytes(), text + "\n");
    EXPECT_EQ(IniText("no line break", true).bytes(), "");
}

TEST(IniTextParse, LinesKnowTheirKindAndGroup)
{
    const auto lines = ini::parse("top=1\n [ Ports ] \n\tCOM1 = x \n#c\n\n=novalue\njunk\n");
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0].kind(), ini::LineKind::Entry);
    EXPECT_EQ(lines[0].group(), "");
    EXPECT_EQ(lines[1].kind(), ini::LineKind::Group);
    EXPECT_EQ(lines[1].name(), "Ports");
    EXPECT_EQ(lines[2].kind(), ini::LineKind::Entry);
    EXPECT_EQ(lines[2].name(), "COM1");
    EXPECT_EQ(lines[2].value(), " x ");
    EXPECT_EQ(lines[2].group(), "Ports");
    EXPECT_EQ(lines[3].kind(), ini::LineKind::Comment);
    EXPECT_EQ(lines[4].kind(), ini::LineKind::Blank);
    EXPECT_EQ(lines[5].kind(), ini::LineKind::Other);
    EXPECT_EQ(lines[6].kind(), ini::LineKind::Other);
}

// A line's name and value lie in its own text: they must follow the line when the lines are
// copied or moved, short lines (held inside the string) included.
TEST(IniTextParse, NamesAndValuesFollowTheirLine)
{
    auto lines = ini::parse("[G]\na=1\nlong_key_of_a_long_line = some long value\n");
    ini::setEntry(lines, "G", "b", "2");
    const std::vector<ini::Line> copy = lines;
    lines.clear();
    ASSERT_EQ(copy.size(), 4u);
    EXPECT_EQ(copy[0].name(), "G");
    EXPECT_EQ(copy[1].name(), "a");
    EXPECT_EQ(copy[1].value(), "1");
    EXPECT_EQ(copy[2].name(), "long_key_of_a_long_line");
    EXPECT_EQ(copy[2].value(), " some long value");
    EXPECT_EQ(copy[3].name(), "b");
    EXPECT_EQ(copy[3].value(), "2");
    EXPECT_EQ(copy[3].group(), "G");
}

TEST(IniTextSave, FreshTextAndWriteOrder)
{
    IniText text;
    Settings s = sampleSettings(12, "9600,e,8,1", 3, "ChineseGB");
    SaveLanguage(text, s);
    EXPECT_EQ(text.bytes(), "[QMRConfig]\nLanguageFlag=ChineseGB\n");
    SaveScanSettings(text, s);
    EXPECT_EQ(text.bytes(), "[QMRConfig]\nLanguageFlag=ChineseGB\nScanCommNo=12\n"
                            "ScanBaudRateNo=3\nScanBaudRate=9600,e,8,1\n");
    // A language save leaves the scan values alone.
    SaveLanguage(text, sampleSettings(1, "x", 0, "English"));
    Settings loaded;
    LoadSettings(text, loaded);
    expectSettings(loaded, sampleSettings(12, "9600,e,8,1", 3, "English"));
}

TEST(IniTextSave, OtherLinesSurvive)
{
    IniText text("# TAVEX settings\n"
                 "general=1\n"
                 "[Ports]\n"
                 "COM3=/dev/ttyUSB0\n"
                 "; COM4 is not wired\n"
                 "COM4=\n"
                 "\n"
                 "[QMRConfig]\n"
                 "Unknown=keep me\n"
                 "ScanBaudRate=4800,n,8,1\n"
                 "  # indented comment\n"
                 "\n"
                 "[Other]\n"
                 "ScanCommNo=not ours\n");
    const Settings s = sampleSettings(5, "115200,e,8,1", 11, "ChineseBIG5");
    SaveScanSettings(text, s);
    SaveLanguage(text, s);
    SaveScanSettings(text, s);
    EXPECT_EQ(text.bytes(), "# TAVEX settings\n"
                            "general=1\n"
                            "[Ports]\n"
                            "COM3=/dev/ttyUSB0\n"
                            "; COM4 is not wired\n"
                            "COM4=\n"
                            "\n"
                            "[QMRConfig]\n"
                            "Unknown=keep me\n"
                            "ScanBaudRate=115200,e,8,1\n"
                            "ScanCommNo=5\n"
                            "ScanBaudRateNo=11\n"
                            "LanguageFlag=ChineseBIG5\n"
                            "  # indented comment\n"
                            "\n"
                            "[Other]\n"
                            "ScanCommNo=not ours\n");
    Settings loaded;
    LoadSettings(text, loaded);
    expectSettings(loaded, s);
}

// Lines the file's reader does not take (a Latin-1 comment, a device path with a Latin-1 byte,
// control bytes, CRLF, no '=') survive a save byte for byte; only the saved value's line changes.
TEST(IniTextSave, LinesNotUnderstoodAreKeptByteForByte)
{
    const std::string before = "; Einstellungen f\xfcr die Halle\r\n"
                               "[QMRConfig]\r\n"
                               "ScanCommNo=3\r\n"
                               "Note=\x01\x1b[31m\x7f\r\n"
                               "just words\r\n"
                               "[Ports]\r\n"
                               "COM5=/dev/serial/by-id/usb-M\xfcller\r\n"
                               "[Caf\xe9]\n"
                               "ScanBaudRateNo=1\n";
    IniText text(before);
    Settings s;
    LoadSettings(text, s);
    EXPECT_EQ(s.ScanCommNo, 3);
    EXPECT_EQ(s.ScanBaudRateNo, 5); // the value under the unreadable group is not this one
    s.ScanCommNo = 4;
    SaveScanSettings(text, s);
    const std::string after = text.bytes();
    // Before the saved values and after them, every byte is as it was.
    const std::size_t at = before.find("ScanCommNo=3\r\n");
    const std::size_t rest = at + std::string("ScanCommNo=3\r\n").size();
    EXPECT_EQ(after.substr(0, at), before.substr(0, at));
    ASSERT_GE(after.size(), before.size() - rest);
    EXPECT_EQ(after.substr(after.size() - (before.size() - rest)), before.substr(rest)) << after;
    IniText again(after);
    Settings reread;
    LoadSettings(again, reread);
    EXPECT_EQ(reread.ScanCommNo, 4);
    EXPECT_EQ(reread.ScanBaudRateNo, s.ScanBaudRateNo);
}

TEST(IniTextSave, NewGroupGoesAfterABlankLine)
{
    IniText text("[Ports]\nCOM1=/dev/ttyS0\n");
    SaveLanguage(text, Settings{});
    EXPECT_EQ(text.bytes(), "[Ports]\nCOM1=/dev/ttyS0\n\n[QMRConfig]\nLanguageFlag=English\n");
    IniText blankEnd("[Ports]\n\n");
    SaveLanguage(blankEnd, Settings{});
    EXPECT_EQ(blankEnd.bytes(), "[Ports]\n\n[QMRConfig]\nLanguageFlag=English\n");
}

TEST(IniTextSave, BinaryGarbageIsKeptAndGoodLinesRead)
{
    std::mt19937 random(42);
    std::string garbage(64 * 1024, '\0');
    for (char &c : garbage)
        c = static_cast<char>(random() & 0xFF);
    IniText text(garbage + "\n[QMRConfig]\nScanCommNo=6\n" + garbage +
                 "\n[Ports]\nCOM4=/dev/ttyACM0\n" + garbage);
    Settings s;
    LoadSettings(text, s);
    EXPECT_EQ(s.ScanCommNo, 6);
    EXPECT_EQ(text.portAssignments().at(4), "/dev/ttyACM0");

    s.LanguageFlag = "ChineseGB";
    SaveLanguage(text, s);
    const std::string saved = text.bytes();
    // Only the saved value's line is new; the garbage is all still there.
    EXPECT_NE(saved.find(garbage + "\n[QMRConfig]\nScanCommNo=6\nLanguageFlag=ChineseGB\n" +
                         garbage + "\n[Ports]\nCOM4=/dev/ttyACM0\n" + garbage),
              std::string::npos);
    IniText again(saved);
    Settings reread;
    LoadSettings(again, reread);
    EXPECT_EQ(reread.ScanCommNo, 6);
    EXPECT_EQ(reread.LanguageIndex, 1);
    EXPECT_EQ(again.portAssignments().at(4), "/dev/ttyACM0");
}

TEST(IniTextSave, TextsRoundTrip)
{
    const std::vector<std::string> texts = {"19200,e,8,1",
                                            "a=b=c",
                                            "  leading",
                                            "trailing  ",
                                            "#comment",
                                            ";semi",
                                            "[Ports]",
                                            "中文 繁體 ünï",
                                            "\"quoted\"",
                                            "\"",
                                            "back\\slash\\n",
                                            "two\nlines",
                                            "cr\rtab\t",
                                            "",
                                            " ",
                                            std::string("a\0b", 3),
                                            "\x01\x7f",
                                            "\\x41",
                                            "\xC2\xA0nbsp",
                                            "nel\xC2\x85",
                                            "\xF0\x9F\x98\x80",
                                            "\xC2\x80\xC2\x9F",
                                            "\xEF\xBB\xBF"
                                            "bom",
                                            "\xEF\xBF\xBE"};
    for (const std::string &t : texts) {
        SCOPED_TRACE(testing::PrintToString(t));
        EXPECT_EQ(ini::decodeText(ini::encodeText(t)), t);
        IniText text("[Ports]\nCOM1=/dev/ttyS0\n");
        const Settings saved = sampleSettings(1, t, 2, t);
        SaveScanSettings(text, saved);
        SaveLanguage(text, saved);
        const std::string bytes = text.bytes();
        EXPECT_TRUE(isWellFormed(bytes)) << bytes;
        IniText reread(bytes);
        Settings loaded;
        LoadSettings(reread, loaded);
        expectSettings(loaded, saved);
        EXPECT_EQ(reread.portAssignments().at(1), "/dev/ttyS0");
    }
}

TEST(IniTextSave, IntegersRoundTrip)
{
    for (std::int32_t v : {0, 1, 16, -1, 12, 2147483647, -2147483647 - 1}) {
        SCOPED_TRACE(v);
        IniText text;
        SaveScanSettings(text, sampleSettings(v, "4800,e,8,1", v, "English"));
        Settings loaded;
        IniText reread(text.bytes());
        LoadSettings(reread, loaded);
        expectSettings(loaded, sampleSettings(v, "4800,e,8,1", v, "English"));
    }
}

TEST(IniTextEncoding, PlainTextsStayPlain)
{
    for (const char *t : {"19200,e,8,1", "a=b", "", "中文", "x\"y", "#c", "a b"})
        EXPECT_EQ(ini::encodeText(t), t);
}

TEST(IniTextEncoding, OddTextsAreQuoted)
{
    EXPECT_EQ(ini::encodeText(" x"), "\" x\"");
    EXPECT_EQ(ini::encodeText("x\xC2\xA0"), "\"x\xC2\xA0\"");
    EXPECT_EQ(ini::encodeText("\"q\""), "\"\\\"q\\\"\"");
    EXPECT_EQ(ini::encodeText("a\tb\nc\rd\\e"), "\"a\\tb\\nc\\rd\\\\e\"");
    EXPECT_EQ(ini::encodeText(std::string("\0\x1f\x7f", 3)), "\"\\x00\\x1f\\x7f\"");
    // Broken UTF-8 is written as U+FFFD, so the line stays readable.
    EXPECT_EQ(ini::encodeText("a\xFF"), "a\xEF\xBF\xBD");
}

TEST(IniTextEncoding, DecodeTakesMalformedQuotingAsWritten)
{
    for (const char *v : {"\"", "\"a\"b\"", "\"a\\\"", "\"\\q\"", "\"\\x4\"", "\"\\xg0\"",
                          "plain \\n", "\"open", "close\""}) {
        SCOPED_TRACE(v);
        EXPECT_EQ(ini::decodeText(v), v);
    }
    EXPECT_EQ(ini::decodeText("\"\\x41\\x4a\\xe9\""), "AJ\xC3\xA9"); // \xHH is U+00HH
    EXPECT_EQ(ini::decodeText("\"\""), "");
}

TEST(IniTextPorts, OnlyComNumbersOfThePortsGroup)
{
    const IniText text("COM9=/dev/outside\n"
                       "[Ports]\n"
                       "COM3=/dev/ttyUSB0\n"
                       "COM10 = /dev/ttyACM1 \n"
                       "COM4=\n"
                       "COM3=/dev/second\n"
                       "COM0=/dev/zero\n"
                       "COM-1=/dev/neg\n"
                       "COM+5=/dev/plus\n"
                       "COMx=/dev/x\n"
                       "com6=/dev/lower\n"
                       "COM=/dev/none\n"
                       "COM99999999999=/dev/big\n"
                       "COM011=\"/dev/quoted\\x20\"\n"
                       "PORT7=/dev/ttyS7\n"
                       "[QMRConfig]\n"
                       "COM8=/dev/wrong-group\n");
    const std::map<int, std::string> expected{
        {3, "/dev/ttyUSB0"}, {4, ""}, {10, "/dev/ttyACM1"}, {11, "/dev/quoted"}};
    EXPECT_EQ(text.portAssignments(), expected);
}
