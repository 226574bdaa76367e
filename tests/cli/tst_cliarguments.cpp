// qmrctl's command line: every command and option, a message naming the argument for every
// kind of bad one, and the manual showing each command as the help text does.

#include "cli/cliarguments.h"
#include "cli/clitable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include <string>
#include <vector>

using namespace qmr;

namespace {

using Args = std::vector<std::string>;

std::string joined(const Args &args)
{
    std::string text;
    for (const std::string &a : args)
        text += "[" + a + "] ";
    return text;
}

// What a line asks for: the command's name, "--help", "--version", or nothing.
std::string asked(const CliArguments &a)
{
    switch (a.action) {
    case CliAction::Help:
        return "--help";
    case CliAction::Version:
        return "--version";
    case CliAction::Command:
        return std::string(a.command->name);
    default:
        return std::string();
    }
}

} // namespace

TEST(CliArguments, Commands)
{
    const struct
    {
        Args args;
        std::string command;
    } rows[] = {
        {{"ports"}, "ports"},
        {{"scan"}, "scan"},
        {{"factory"}, "factory"},
        {{"one-reader"}, "one-reader"},
        {{"poll"}, "poll"},
        {{"--help"}, "--help"},
        {{"scan", "-h"}, "--help"},
        {{"--version"}, "--version"},
        {{"--json", "--trace", "scan"}, "scan"},
        {{"scan", "--json", "--all-lines"}, "scan"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(joined(row.args));
        const CliArguments a = parseCliArguments(row.args);
        EXPECT_TRUE(a.ok()) << a.error;
        EXPECT_EQ(asked(a), row.command);
    }
}

TEST(CliArguments, SetId)
{
    const struct
    {
        Args args;
        int id1;
        int id2; // 0: not given
    } rows[] = {
        {{"set-id", "12"}, 12, 0},
        {{"set-id", "1", "99"}, 1, 99},
        {{"set-id", "05", "007"}, 5, 7},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(joined(row.args));
        const CliArguments a = parseCliArguments(row.args);
        ASSERT_TRUE(a.ok()) << a.error;
        EXPECT_EQ(asked(a), "set-id");
        EXPECT_EQ(a.id1, row.id1);
        EXPECT_EQ(a.id2.value_or(0), row.id2);
    }
}

TEST(CliArguments, SetLine)
{
    const struct
    {
        const char *line;
        int index;
    } rows[] = {
        {"4800,n,8,1", 0}, {"19200,e,8,1", 5}, {"115200,e,8,1", 11}, {"38400,E,8,1", 7},
        {"0", 0},          {"10", 10},         {"11", 11},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.line);
        const CliArguments a = parseCliArguments({"set-line", row.line});
        ASSERT_TRUE(a.ok()) << a.error;
        EXPECT_EQ(asked(a), "set-line");
        EXPECT_EQ(a.baudRateNo, row.index);
    }
}

TEST(CliArguments, SetMode)
{
    const struct
    {
        Args args;
        int mode;
        int rs485; // -1: keep the module's
    } rows[] = {
        {{"set-mode", "two"}, 0, -1},
        {{"set-mode", "one"}, 1, -1},
        {{"set-mode", "two", "--rs485", "24"}, 0, 0},
        {{"set-mode", "--rs485=32", "one"}, 1, 1},
        {{"--rs485", "40", "set-mode", "two"}, 0, 2},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(joined(row.args));
        const CliArguments a = parseCliArguments(row.args);
        ASSERT_TRUE(a.ok()) << a.error;
        EXPECT_EQ(asked(a), "set-mode");
        EXPECT_EQ(a.modeIndex, row.mode);
        EXPECT_EQ(a.rs485Index.value_or(-1), row.rs485);
    }
}

TEST(CliArguments, Options)
{
    CliArguments a =
        parseCliArguments({"--json", "--trace", "--bell", "--lang", "big5", "--config=/tmp/q.conf",
                           "poll", "--count", "3", "--all-lines"});
    ASSERT_TRUE(a.ok()) << a.error;
    EXPECT_TRUE(a.json && a.trace && a.bell && a.allLines);
    EXPECT_EQ(a.languageIndex.value_or(-1), 2);
    EXPECT_EQ(a.configFile, "/tmp/q.conf");
    EXPECT_EQ(a.count.value_or(0), 3);

    a = parseCliArguments({"scan"});
    EXPECT_FALSE(a.json || a.trace || a.bell || a.allLines);
    EXPECT_FALSE(a.languageIndex);
    EXPECT_TRUE(a.configFile.empty());

    EXPECT_EQ(parseCliArguments({"--lang=en", "scan"}).languageIndex.value_or(-1), 0);
    EXPECT_EQ(parseCliArguments({"--lang", "gb", "scan"}).languageIndex.value_or(-1), 1);
    // An option given twice: the last one counts.
    EXPECT_EQ(parseCliArguments({"--lang", "gb", "scan", "--lang=en"}).languageIndex.value_or(-1),
              0);
    // A value is the next argument whatever it looks like: a file may be called "-h" or "5".
    a = parseCliArguments({"--config", "-h", "scan"});
    EXPECT_EQ(asked(a), "scan");
    EXPECT_EQ(a.configFile, "-h");
    EXPECT_EQ(parseCliArguments({"--config", "--json", "scan"}).configFile, "--json");
    EXPECT_EQ(parseCliArguments({"poll", "--count", "999999999"}).count.value_or(0), 999999999);
}

TEST(CliArguments, BadArgumentsAreNamed)
{
    const struct
    {
        Args args;
        const char *named; // what the message must name
    } rows[] = {
        {{}, "no command"},
        {{"scna"}, "'scna'"},
        {{"scan", "--jsno"}, "'--jsno'"},
        {{"-x", "scan"}, "'-x'"},
        {{"-hx", "scan"}, "'-hx'"}, // not "-h" and "-x"
        {{"--", "scan"}, "'--'"},
        {{"set-id", "0"}, "'0'"},
        {{"set-id", "100"}, "'100'"},
        {{"set-id", "ab"}, "'ab'"},
        {{"set-id", "-5"}, "'-5'"},
        {{"set-id", "+5"}, "'+5'"},
        {{"set-id", " 5"}, "' 5'"},
        {{"set-id", "0000000005"}, "'0000000005'"},
        {{"set-id", "5", "0"}, "ID2 '0'"},
        {{"set-id", "5", "100"}, "ID2 '100'"},
        {{"set-id", "5", "ab"}, "ID2 'ab'"},
        {{"set-id"}, "ID1"},
        {{"set-id", "1", "2", "3"}, "'3'"},
        {{"set-line", "14400,n,8,1"}, "'14400,n,8,1'"},
        {{"set-line", "19200,o,8,1"}, "'19200,o,8,1'"},
        {{"set-line", "12"}, "'12'"},
        {{"set-line", "-1"}, "'-1'"},
        {{"set-line"}, "LINE"},
        {{"set-mode", "three"}, "'three'"},
        {{"set-mode", "2"}, "'2'"},
        {{"set-mode"}, "MODE"},
        {{"set-mode", "two", "--rs485", "33"}, "'33'"},
        {{"set-mode", "two", "--rs485", "024"}, "'024'"},
        {{"set-mode", "two", "--rs485"}, "--rs485"},
        {{"scan", "--rs485", "24"}, "--rs485"},
        {{"poll", "--count", "0"}, "'0'"},
        {{"poll", "--count=x"}, "'x'"},
        {{"poll", "--count", "-1"}, "'-1'"},
        {{"poll", "--count", "1000000000"}, "'1000000000'"},
        {{"scan", "--count", "3"}, "--count"},
        {{"--lang", "fr", "scan"}, "'fr'"},
        {{"scan", "--lang"}, "--lang"},
        // Each --lang is checked where it stands, even when a later one is good.
        {{"--lang=fr", "--lang=en", "scan"}, "'fr'"},
        {{"--config=", "scan"}, "--config"},
        {{"--json=yes", "scan"}, "--json"},
        {{"scan", "now"}, "'now'"},
        {{"ports", "--all-lines"}, "--all-lines"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(joined(row.args));
        const CliArguments a = parseCliArguments(row.args);
        EXPECT_FALSE(a.ok());
        EXPECT_EQ(asked(a), "");
        EXPECT_NE(a.error.find(row.named), std::string::npos) << a.error;
        EXPECT_EQ(a.error.find('\n'), std::string::npos) << a.error;
    }
}

TEST(CliArguments, ExactMessages)
{
    // The texts users (and scripts) see.
    EXPECT_EQ(parseCliArguments({"set-id", "100"}).error, "invalid ID1 '100' (1 to 99)");
    EXPECT_EQ(parseCliArguments({"scan", "--jsno=1"}).error, "unknown option '--jsno'");
    EXPECT_EQ(parseCliArguments({"scan", "--lang"}).error, "option --lang needs a value");
    EXPECT_EQ(parseCliArguments({"--trace=1", "scan"}).error, "option --trace takes no value");
    EXPECT_EQ(parseCliArguments({"poll", "--count=0"}).error,
              "invalid count '0' for --count (a whole number from 1)");
    EXPECT_EQ(parseCliArguments({"set-mode", "one", "--rs485=1"}).error,
              "invalid RS-485 setting '1' for --rs485 (24, 32 or 40)");
    EXPECT_EQ(parseCliArguments({"scan", "x"}).error, "unexpected argument 'x' for scan");
    EXPECT_EQ(parseCliArguments({"set-line"}).error, "set-line needs LINE");
    EXPECT_EQ(parseCliArguments({"--completion=ksh"}).error,
              "unknown shell 'ksh' for --completion (bash, zsh or fish)");
    EXPECT_EQ(parseCliArguments({"scan", "--completion", "zsh"}).shell, "zsh");
    // The first bad option in the line is the one named.
    EXPECT_EQ(parseCliArguments({"--jsno", "--lang", "fr", "scan"}).error,
              "unknown option '--jsno'");
}

TEST(CliArguments, HelpWinsOverErrors)
{
    EXPECT_EQ(asked(parseCliArguments({"set-id", "100", "--help"})), "--help");
    EXPECT_EQ(asked(parseCliArguments({"--bogus", "-h"})), "--help");
    EXPECT_EQ(asked(parseCliArguments({"--bogus", "--version"})), "--version");
    EXPECT_NE(cliUsage().find("set-id ID1 [ID2]"), std::string::npos);
}

TEST(CliArguments, Provision)
{
    CliArguments a = parseCliArguments(
        {"provision", "--ports", "COM3,COM4,/dev/ttyUSB0", "--first-id", "11", "--mode", "one",
         "--rs485=40", "--line", "38400,e,8,1", "--record", "site.csv", "--again", "--all-lines"});
    ASSERT_TRUE(a.ok()) << a.error;
    EXPECT_EQ(asked(a), "provision");
    EXPECT_EQ(a.ports, (std::vector<std::string>{"COM3", "COM4", "/dev/ttyUSB0"}));
    EXPECT_EQ(a.firstId, 11);
    EXPECT_EQ(a.modeIndex, 1);
    EXPECT_EQ(a.rs485Index, 2);
    EXPECT_EQ(a.lineNo, 7);
    EXPECT_EQ(a.recordFile, "site.csv");
    EXPECT_TRUE(a.again);
    EXPECT_TRUE(a.allLines);

    a = parseCliArguments({"provision", "--ports", "COM3"});
    ASSERT_TRUE(a.ok()) << a.error;
    EXPECT_EQ(a.firstId, 1);
    EXPECT_EQ(a.modeIndex, 0);
    EXPECT_FALSE(a.rs485Index);
    EXPECT_FALSE(a.lineNo);

    a = parseCliArguments({"--port", "COM5", "scan"});
    ASSERT_TRUE(a.ok()) << a.error;
    EXPECT_EQ(a.port, "COM5");
}

TEST(CliArguments, BadProvisionArgumentsAreNamed)
{
    const struct
    {
        Args args;
        const char *message;
    } rows[] = {
        {{"provision"}, "provision needs --ports (e.g. --ports COM3,COM4)"},
        {{"provision", "--ports", "COM3,,COM4"}, "empty port name in --ports 'COM3,,COM4'"},
        {{"provision", "--ports", "COM3,COM3"}, "port 'COM3' given twice in --ports"},
        {{"provision", "--ports", "COM3", "--first-id", "100"},
         "invalid first ID '100' for --first-id (1 to 99)"},
        {{"provision", "--ports", "COM3", "--mode", "three"},
         "unknown mode 'three' for --mode (two or one)"},
        {{"provision", "--ports", "COM3", "--line", "12"},
         "unknown line definition '12' for --line (e.g. 19200,e,8,1, or an index 0 to 11)"},
        {{"scan", "--again"}, "option --again applies only to provision"},
        {{"scan", "--ports", "COM3"}, "option --ports applies only to provision"},
        {{"scan", "--record", "x.csv"}, "option --record applies only to provision"},
        {{"ports", "--port", "COM3"}, "option --port does not apply to ports"},
        {{"provision", "--ports", "COM3", "--port", "COM3"},
         "option --port does not apply to provision (use --ports)"},
        {{"check-port"}, "check-port needs PORT"},
        {{"check-port", "COM3", "--all-lines"}, "option --all-lines does not apply to check-port"},
        {{"report", "--port", "COM3", "r.json"}, "option --port does not apply to report"},
        {{"report", "a.json", "b.json"}, "unexpected argument 'b.json' for report"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(joined(row.args));
        const CliArguments a = parseCliArguments(row.args);
        EXPECT_EQ(asked(a), "");
        EXPECT_EQ(a.error, row.message);
    }
}

namespace {

// A roff request's text as the reader sees it: the font changes of .B, .BI and .BR joined
// without spaces, escapes taken out.
std::string plainRoff(const std::string &line)
{
    std::string text;
    if (line.rfind(".B ", 0) == 0) {
        text = line.substr(3);
    } else {
        // .BI and .BR: alternating words, each word or quoted string in its own font.
        bool quoted = false;
        for (std::size_t i = line.find(' '); i < line.size(); ++i) {
            const char c = line[i];
            if (c == '"')
                quoted = !quoted;
            else if (c != ' ' || quoted)
                text += c;
        }
    }
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\\f") == 0) {
            i += 2; // \fB, \fI, \fR
        } else if (text.compare(i, 2, "\\-") == 0) {
            plain += '-';
            ++i;
        } else {
            plain += text[i];
        }
    }
    return plain;
}

} // namespace

TEST(CliArguments, EveryCommandsSynopsisStandsInTheManualAsInTheHelpText)
{
#ifdef _WIN32
    GTEST_SKIP() << "the manual is the Linux package's";
#endif
    std::ifstream manual(QMR_SOURCE_DIR "/dist/qmrctl.1");
    ASSERT_TRUE(manual.is_open());
    std::vector<std::string> documented;
    std::vector<std::string> options;
    std::string line;
    std::string section;
    bool header = false;
    while (std::getline(manual, line)) {
        if (line.rfind(".SH", 0) == 0)
            section = line;
        else if (header && section == ".SH COMMANDS")
            documented.push_back(plainRoff(line));
        else if (header && section == ".SH OPTIONS")
            options.push_back(plainRoff(line));
        header = line == ".TP";
    }
    // Every option of the help text's list, with its value, and no other.
    std::vector<std::string> listed;
    for (const CliOption &option : cliOptions()) {
        if (option.help.empty())
            continue;
        std::string shown(option.shown.empty() ? option.name : option.shown);
        listed.push_back(option.valueName.empty() ? shown
                                                  : shown + " " + std::string(option.valueName));
    }
    std::sort(listed.begin(), listed.end());
    std::sort(options.begin(), options.end());
    EXPECT_EQ(options, listed);
    EXPECT_EQ(documented, cliSynopses());
    // The help text wraps a long synopsis: compared with its blanks and line ends as one.
    std::string usage;
    for (const char c : cliUsage()) {
        const bool blank = c == ' ' || c == '\n';
        if (!blank || (!usage.empty() && usage.back() != ' '))
            usage += blank ? ' ' : c;
    }
    for (const std::string &synopsis : cliSynopses())
        EXPECT_NE(usage.find(" " + synopsis + " "), std::string::npos) << synopsis;
}
