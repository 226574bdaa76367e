// Every qmrctl command against the module model on the in-memory port, on a fake clock.

#include "cli/commandrunner.h"
#include "cli/terminaltext.h"
#include "link/linedefinition.h"
#include "link/link.h"
#include "link/portmap.h"
#include "memorydevices.h"
#include "sim/fakeclock.h"
#include "sim/memoryport.h"
#include "sim/modulemodel.h"
#include "support/memorysettingsstore.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using namespace qmr;
using nlohmann::json;

namespace {

using Args = std::vector<std::string>;

const std::string Device = "/dev/ttyQMR";
const std::string LockedDevice = "/dev/ttyLOCKED";

bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

bool startsWith(const std::string &text, const std::string &prefix)
{
    return text.rfind(prefix, 0) == 0;
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty())
            result.push_back(line);
    }
    return result;
}

std::string joined(const Args &args)
{
    std::string text;
    for (const std::string &a : args)
        text += a + ' ';
    return text;
}

// A port map whose system knows the adapters behind some devices.
struct AdapterPortMap : FixedPortMap
{
    explicit AdapterPortMap(std::map<int, std::string> devices) : FixedPortMap(std::move(devices))
    {
    }
    AdapterIdentity adapterFor(const std::string &device) const override
    {
        const auto it = adapters.find(device);
        return it == adapters.end() ? AdapterIdentity{} : it->second;
    }
    std::map<std::string, AdapterIdentity> adapters;
};

struct Rig
{
    FakeClock clock;
    MemoryPort port{clock};
    ModuleModel model;
    AdapterPortMap map{{{3, Device}, {5, LockedDevice}}};
    MemorySettingsStore store;
    Link link{port, clock, map};
    std::ostringstream liveOut; // what the running command has printed so far
    std::string out;
    std::string err;
    int factoryCalls = 0;
    bool progress = false;
    MemoryDevices devices; // ports named with --port

    Rig()
    {
        port.addDevice(Device, &model);
        port.addDevice(LockedDevice);
        port.refuseOpen(LockedDevice, PortError::PermissionDenied);
    }

    int run(const Args &args, InterruptSource *interrupt = nullptr)
    {
        liveOut.str({});
        std::ostringstream e;
        CommandRunner runner(
            [this](ModuleView &view, Settings &settings) {
                ++factoryCalls;
                return ModuleContext{link, clock, settings, store, view};
            },
            liveOut, e);
        runner.setInterruptSource(interrupt);
        runner.setProgressAllowed(progress);
        runner.setDeviceFactory(&devices);
        runner.setFileServices(&devices);
        const int code = runner.run(args);
        out = liveOut.str();
        err = e.str();
        return code;
    }

    // The output as one JSON object (an empty one, and a failure, when it is not).
    json object() const
    {
        const json doc = json::parse(out, nullptr, false);
        EXPECT_TRUE(doc.is_object()) << "not one JSON object: " << out;
        return doc.is_object() ? doc : json::object();
    }

    bool sent(const std::string &command) const
    {
        const auto &c = model.commands();
        return std::find(c.begin(), c.end(), command) != c.end();
    }
};

class FakeInterrupt : public InterruptSource
{
public:
    std::function<bool()> when;
    bool armed = false;
    void arm() override { armed = true; }
    bool requested() const override { return armed && when(); }
};

} // namespace

TEST(CommandRunner, ScanPrintsIdentity)
{
    Rig rig;
    ASSERT_EQ(rig.run({"scan"}), 0);
    EXPECT_TRUE(startsWith(rig.out, "Get Module Info Ok. (COM : #3)\n")) << rig.out;
    for (const char *expected :
         {"COM:        3 (/dev/ttyQMR)\n", "BaudRate:   19200,e,8,1\n", "S/N:        20250010-1\n",
          "VER:        03.20-01\n", "Mode:       Two Reader\n", "RS-485:     RS485 32\n",
          "ID 1:       01\n", "ID 2:       05\n"})
        EXPECT_TRUE(contains(rig.out, expected)) << expected;
    EXPECT_EQ(rig.err, "");
    EXPECT_FALSE(rig.port.isOpen());
}

TEST(CommandRunner, ScanJson)
{
    Rig rig;
    rig.model.config().reader1 = {"42", "12345679", "x"}; // unit digit 9: suffix 10
    rig.model.config().rs485 = '2';
    rig.model.config().lineIndex = 9;
    ASSERT_EQ(rig.run({"--json", "--all-lines", "scan"}), 0);
    const json doc = rig.object();
    EXPECT_EQ(doc.value("command", ""), "scan");
    EXPECT_EQ(doc.value("ok", false), true);
    EXPECT_EQ(doc.value("message", ""), "Get Module Info Ok. (COM : #3)");
    const json module = doc.value("module", json::object());
    EXPECT_EQ(module.value("com", 0), 3);
    EXPECT_EQ(module.value("device", ""), Device);
    EXPECT_EQ(module.value("line", ""), "57600,e,8,1");
    EXPECT_EQ(module.value("lineIndex", -1), 9);
    EXPECT_EQ(module.value("serialText", ""), "12345679-10");
    EXPECT_EQ(module.value("serial", ""), "12345679");
    EXPECT_EQ(module.value("suffix", ""), "10");
    EXPECT_EQ(module.value("version", ""), "03.20-01");
    EXPECT_EQ(module.value("mode", ""), "two");
    EXPECT_EQ(module.value("modeText", ""), "Two Reader");
    EXPECT_EQ(module.value("rs485", 0), 40);
    EXPECT_EQ(module.value("rs485Text", ""), "RS485 40");
    EXPECT_EQ(module.value("id1", ""), "42");
    EXPECT_EQ(module.value("id2", ""), "05");
    // One compact line, the keys in name order, as scripts have been reading it.
    EXPECT_TRUE(startsWith(rig.out, "{\"command\":\"scan\",\"message\":")) << rig.out;
    EXPECT_EQ(std::count(rig.out.begin(), rig.out.end(), '\n'), 1);
}

TEST(CommandRunner, IdentityNeedsNoEnglishLabels)
{
    // The identity comes from what the module sent, in every language.
    Rig rig;
    rig.model.config().reader1.serial = "87654321";
    ASSERT_EQ(rig.run({"--lang", "big5", "--json", "scan"}), 0);
    const json module = rig.object().value("module", json::object());
    EXPECT_EQ(module.value("serialText", ""), "87654321-2");
    EXPECT_EQ(module.value("version", ""), "03.20-01");
}

TEST(CommandRunner, UnknownRs485DigitIsNotReported)
{
    // The identity says what the module sent: no RS-485 setting rather than a default.
    Rig rig;
    rig.model.config().rs485 = '7';
    ASSERT_EQ(rig.run({"scan"}), 0);
    EXPECT_TRUE(contains(rig.out, "\nRS-485:     \n")) << rig.out;
    ASSERT_EQ(rig.run({"scan", "--json"}), 0);
    const json module = rig.object().value("module", json::object());
    EXPECT_FALSE(module.contains("rs485"));
    EXPECT_FALSE(module.contains("rs485Text"));
}

TEST(CommandRunner, ScanRemembersThePort)
{
    Rig rig;
    ASSERT_EQ(rig.run({"scan"}), 0);
    EXPECT_EQ(rig.store.intValue("ScanCommNo").value_or(0), 3);
    EXPECT_EQ(rig.store.textValue("ScanBaudRate").value_or(""), "19200,e,8,1");

    // The next call finds the module at once on the remembered port and saves nothing.
    rig.store.clearRecords();
    const std::size_t opensBefore = rig.port.opens().size();
    ASSERT_EQ(rig.run({"scan"}), 0);
    EXPECT_EQ(rig.port.opens().size() - opensBefore, 2u); // stage 1, then the information read
    EXPECT_TRUE(rig.store.saves().empty());
}

TEST(CommandRunner, ScanWithoutModule)
{
    Rig rig;
    rig.model.faults().silent = true;
    EXPECT_EQ(rig.run({"scan"}), 1);
    EXPECT_EQ(rig.out, "");
    EXPECT_TRUE(startsWith(rig.err, "Module Not Find")) << rig.err;
    // The port that could not be opened for lack of permission is named.
    EXPECT_TRUE(contains(rig.err, "COM5")) << rig.err;

    EXPECT_EQ(rig.run({"scan", "--json"}), 1);
    const json doc = rig.object();
    EXPECT_EQ(doc.value("ok", true), false);
    EXPECT_EQ(doc.value("message", ""), "Module Not Find");
    EXPECT_TRUE(contains(doc.value("detail", ""), "COM5"));
    EXPECT_FALSE(doc.contains("module"));
    EXPECT_FALSE(rig.store.contains("ScanCommNo"));
}

TEST(CommandRunner, LockAndAllLines)
{
    Rig rig;
    rig.model.config().lineIndex = 7; // 38400,e,8,1
    EXPECT_EQ(rig.run({"scan"}), 1);  // the lock keeps the sweep at the remembered index 5
    EXPECT_TRUE(startsWith(rig.err, "Module Not Find"));
    EXPECT_EQ(rig.run({"scan", "--all-lines"}), 0);
    EXPECT_TRUE(contains(rig.out, "38400,e,8,1"));
    EXPECT_EQ(rig.store.intValue("ScanBaudRateNo").value_or(-1), 7);
    // Remembered now: the lock finds it without sweeping every line setting.
    EXPECT_EQ(rig.run({"scan"}), 0);
}

TEST(CommandRunner, ScanOneReaderModule)
{
    Rig rig;
    rig.model.config().mode = '1';
    rig.model.config().reader2.id = "33";
    ASSERT_EQ(rig.run({"scan"}), 0);
    EXPECT_TRUE(contains(rig.out, "Mode:       One Reader\n"));
    EXPECT_TRUE(contains(rig.out, "ID 2:       33 (not used in one-reader mode)\n"));
    ASSERT_EQ(rig.run({"scan", "--json"}), 0);
    const json module = rig.object().value("module", json::object());
    EXPECT_EQ(module.value("mode", ""), "one");
    EXPECT_EQ(module.value("id2", ""), "33");
}

TEST(CommandRunner, Languages)
{
    Rig rig;
    ASSERT_EQ(rig.run({"--lang", "gb", "scan"}), 0);
    EXPECT_TRUE(startsWith(rig.out, "读取模组资讯完成. (串口 : #3)")) << rig.out;
    // Labels are padded by terminal columns: a Chinese character takes two.
    EXPECT_TRUE(contains(rig.out, "\n序号:       20250010-1\n")) << rig.out;

    // Without --lang the remembered language is used, and --lang does not change it.
    rig.store.setValue("LanguageFlag", std::string("ChineseBIG5"));
    ASSERT_EQ(rig.run({"scan"}), 0);
    EXPECT_TRUE(startsWith(rig.out, "讀取模組資訊完成. (串口 : #3)")) << rig.out;
    ASSERT_EQ(rig.run({"scan", "--lang=en"}), 0);
    EXPECT_TRUE(startsWith(rig.out, "Get Module Info Ok."));
    EXPECT_EQ(rig.store.textValue("LanguageFlag").value_or(""), "ChineseBIG5");
}

TEST(CommandRunner, FieldThatIsNoNumber)
{
    Rig rig;
    rig.model.config().reader1.id = "x1";
    EXPECT_EQ(rig.run({"scan"}), 1);
    EXPECT_TRUE(contains(rig.err, "qmrctl: 'x1' is not a valid integer value\n")) << rig.err;
    EXPECT_FALSE(rig.port.isOpen());
    EXPECT_EQ(rig.run({"scan", "--json"}), 1);
    const json doc = rig.object();
    EXPECT_EQ(doc.value("ok", true), false);
    ASSERT_TRUE(doc.contains("errors"));
    EXPECT_EQ(doc["errors"].at(0), "'x1' is not a valid integer value");
}

// A module whose fields carry terminal control sequences must not retitle or recolour the
// terminal: text output shows them escaped, and JSON holds the same escaped text, which gives
// back exactly the bytes the module sent (controls, C1, invalid UTF-8).
TEST(CommandRunner, ControlCharactersFromTheModuleAreEscaped)
{
    const std::string hostile = "\x1b]0;pwned\x07\x1b[31mRED\\";
    Rig rig;
    rig.model.config().reader1.data = hostile;
    rig.model.config().version = "\x1b[2J\xff-01";
    ASSERT_EQ(rig.run({"poll", "--count", "1"}), 0);
    for (const std::string *text : {&rig.out, &rig.err}) {
        EXPECT_EQ(text->find('\x1b'), std::string::npos) << *text;
        EXPECT_EQ(text->find('\x07'), std::string::npos) << *text;
    }
    EXPECT_TRUE(contains(rig.out, "  \\x1b]0;pwned\\x07\\x1b[31mRED\\\\\n")) << rig.out;
    // A right-to-left override would turn the rest of the terminal line around.
    rig.model.config().reader1.data = "ab\u202edc\u2066";
    ASSERT_EQ(rig.run({"poll", "--count", "1"}), 0);
    EXPECT_TRUE(contains(rig.out, "  ab\\xe2\\x80\\xaedc\\xe2\\x81\\xa6\n")) << rig.out;
    rig.model.config().reader1.data = hostile;

    ASSERT_EQ(rig.run({"scan"}), 0);
    EXPECT_EQ(rig.out.find('\x1b'), std::string::npos) << rig.out;
    EXPECT_TRUE(contains(rig.out, "VER:        \\x1b[2J\\xff-01\n")) << rig.out;

    ASSERT_EQ(rig.run({"poll", "--count", "1", "--json"}), 0);
    EXPECT_EQ(rig.out.find('\x1b'), std::string::npos) << rig.out;
    const std::vector<std::string> objects = lines(rig.out);
    ASSERT_EQ(objects.size(), 3u);
    EXPECT_EQ(unescapeBytes(json::parse(objects[1]).value("data", "")), hostile);
    EXPECT_EQ(unescapeBytes(json::parse(objects[0])["module"].value("version", "")),
              "\x1b[2J\xff-01");

    // Two serial numbers that differ only in C1 and broken bytes stay two, and no DEL or C1
    // character reaches the output raw.
    for (const std::string serial : {"\xc2\x9b\x7f\xfe\\234", "\xc2\x9b\x7f\xff\\234"}) {
        rig.model.config().reader1.serial = serial;
        ASSERT_EQ(rig.run({"scan", "--json"}), 0);
        EXPECT_EQ(rig.out.find('\x7f'), std::string::npos) << rig.out;
        EXPECT_EQ(rig.out.find("\xc2\x9b"), std::string::npos) << rig.out;
        EXPECT_EQ(unescapeBytes(rig.object()["module"].value("serial", "")), serial);
    }
}

// Device names are the system's, not the module's: a Windows name keeps its backslashes,
// while a backslash the module sends is doubled so that it cannot pass for an escape.
TEST(CommandRunner, DeviceNamesKeepTheirBackslashes)
{
    Rig rig;
    rig.map.set(3, "\\\\.\\COM3");
    rig.port.addDevice("\\\\.\\COM3", &rig.model);
    ASSERT_EQ(rig.run({"scan"}), 0);
    EXPECT_TRUE(contains(rig.out, "(\\\\.\\COM3)\n")) << rig.out;
    EXPECT_EQ(escapeControls("a\\x1b", Backslash::AsIs), "a\\x1b");
    EXPECT_EQ(escapeControls("a\\x1b\x1b"), "a\\\\x1b\\x1b");
}

TEST(CommandRunner, ProgressOnlyWhenAllowed)
{
    Rig rig;
    ASSERT_EQ(rig.run({"scan"}), 0);
    EXPECT_EQ(rig.err, "");
    rig.progress = true;
    ASSERT_EQ(rig.run({"scan"}), 0);
    EXPECT_TRUE(contains(rig.err, "\rScan COM : #3  (19200,e,8,1)\x1b[K")) << rig.err;
    // The progress line is wiped before the result.
    EXPECT_EQ(rig.err.substr(rig.err.size() - 4), "\r\x1b[K");
    EXPECT_TRUE(startsWith(rig.out, "Get Module Info Ok."));
    // A trace takes the place of the progress line.
    ASSERT_EQ(rig.run({"scan", "--trace"}), 0);
    EXPECT_FALSE(contains(rig.err, "\x1b[K"));

    // The outcome beep is silent on the console unless the bell is asked for.
    rig.progress = false;
    ASSERT_EQ(rig.run({"scan", "--bell"}), 0);
    EXPECT_EQ(rig.err, "\a");
}

TEST(CommandRunner, SetId)
{
    const struct
    {
        Args args;
        const char *id1;
        const char *id2;
    } rows[] = {
        {{"set-id", "12", "34"}, "12", "34"},
        {{"set-id", "7"}, "07", "05"}, // ID2 kept
        {{"set-id", "1", "5"}, "01", "05"},
        {{"set-id", "99", "1"}, "99", "01"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(joined(row.args));
        Rig rig;
        ASSERT_EQ(rig.run(row.args), 0);
        EXPECT_EQ(rig.out, "Set Module ID Ok\n");
        EXPECT_EQ(rig.model.config().reader1.id, row.id1);
        EXPECT_EQ(rig.model.config().reader2.id, row.id2);
        EXPECT_TRUE(rig.sent(std::string("A00C20250010") + row.id1));
        EXPECT_TRUE(rig.sent(std::string("A00C20250021") + row.id2));
        EXPECT_FALSE(rig.port.isOpen());
    }
}

TEST(CommandRunner, SetIdInOneReaderMode)
{
    Rig rig;
    rig.model.config().mode = '1';
    ASSERT_EQ(rig.run({"set-id", "12", "34", "--json"}), 0);
    EXPECT_EQ(rig.model.config().reader1.id, "12");
    EXPECT_EQ(rig.model.config().reader2.id, "05"); // no ID2 in one-reader mode
    const json doc = rig.object();
    EXPECT_EQ(doc.value("ok", false), true);
    EXPECT_EQ(doc.value("message", ""), "Set Module ID Ok");
    EXPECT_EQ(doc.value("id2Sent", true), false);
    EXPECT_TRUE(doc["id2"].is_null());

    // Without --json the user is told that ID2 was not sent.
    ASSERT_EQ(rig.run({"set-id", "12", "34"}), 0);
    EXPECT_TRUE(contains(rig.err, "ID2 is not sent"));
}

TEST(CommandRunner, SetLine)
{
    const struct
    {
        const char *line;
        int index;
    } rows[] = {{"38400,e,8,1", 7}, {"11", 11}, {"5", 5}, {"0", 0}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.line);
        Rig rig;
        ASSERT_EQ(rig.run({"set-line", row.line}), 0);
        EXPECT_EQ(rig.out, "Set Module BaudRate Ok\n");
        EXPECT_EQ(rig.model.config().lineIndex, row.index);
        // Remembered, so the next call finds the module at its new line setting.
        const std::string line = BaudRateTable[std::size_t(row.index)];
        EXPECT_EQ(rig.store.intValue("ScanBaudRateNo").value_or(-1), row.index);
        EXPECT_EQ(rig.store.textValue("ScanBaudRate").value_or(""), line);
        ASSERT_EQ(rig.run({"scan"}), 0);
        EXPECT_TRUE(contains(rig.out, line));
    }
}

TEST(CommandRunner, SetMode)
{
    const struct
    {
        Args args;
        char rs485Before;
        const char *command;
    } rows[] = {
        {{"set-mode", "one", "--rs485", "40"}, '1', "A00A102"},
        {{"set-mode", "two", "--rs485", "24"}, '1', "A00A000"},
        {{"set-mode", "one"}, '2', "A00A102"}, // RS-485 kept
        {{"set-mode", "two"}, '0', "A00A000"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(joined(row.args));
        Rig rig;
        rig.model.config().rs485 = row.rs485Before;
        ASSERT_EQ(rig.run(row.args), 0);
        EXPECT_EQ(rig.out, "Set Module Mode Ok\n");
        const std::string command = row.command;
        ASSERT_FALSE(rig.model.commands().empty());
        EXPECT_EQ(rig.model.commands().back(), command);
        EXPECT_EQ(rig.model.config().mode, command[4]);
        EXPECT_EQ(rig.model.config().rs485, command[6]);
    }
}

TEST(CommandRunner, QuickSettings)
{
    for (const auto &[command, mode] : {std::pair{"factory", '0'}, std::pair{"one-reader", '1'}}) {
        SCOPED_TRACE(command);
        Rig rig;
        ModuleConfig &config = rig.model.config();
        config.reader1.id = "07";
        config.reader2.id = "08";
        config.mode = char('1' + '0' - mode); // the other mode
        config.rs485 = '2';
        config.lineIndex = 9;
        ASSERT_EQ(rig.run({command, "--all-lines"}), 0);
        EXPECT_EQ(rig.out, "Set Factory Default Ok\n");
        EXPECT_EQ(config.reader1.id, "01");
        EXPECT_EQ(config.reader2.id, "05");
        EXPECT_EQ(config.mode, mode);
        EXPECT_EQ(config.rs485, '1');
        EXPECT_EQ(config.lineIndex, 5);
        // The module now answers at 19200,e,8,1: the next call finds it without a full sweep.
        EXPECT_EQ(rig.store.intValue("ScanBaudRateNo").value_or(-1), 5);
        EXPECT_EQ(rig.run({"scan"}), 0);
    }
}

TEST(CommandRunner, ProcedureFailureIsExitOne)
{
    Rig rig;
    // The scan gets its four replies, then the module falls silent for the setting.
    rig.clock.setOnAdvance([&rig](std::uint32_t) {
        if (rig.model.commands().size() >= 4)
            rig.model.faults().silent = true;
    });
    EXPECT_EQ(rig.run({"set-id", "12", "--json"}), 1);
    const json doc = rig.object();
    EXPECT_EQ(doc.value("ok", true), false);
    EXPECT_EQ(doc.value("message", ""), "Set Module ID Error");
    EXPECT_EQ(rig.model.config().reader1.id, "01");
    EXPECT_FALSE(rig.port.isOpen());
}

TEST(CommandRunner, NoModuleSendsNoSetting)
{
    const Args rows[] = {{"set-id", "5"}, {"set-line", "3"}, {"set-mode", "one"},
                         {"factory"},     {"one-reader"},    {"poll", "--count", "1"}};
    for (const Args &args : rows) {
        SCOPED_TRACE(joined(args));
        Rig rig;
        rig.model.config().lineIndex = 2; // not where the locked sweep looks
        EXPECT_EQ(rig.run(args), 1);
        EXPECT_TRUE(startsWith(rig.err, "Module Not Find")) << rig.err;
        EXPECT_TRUE(rig.model.commands().empty());
        EXPECT_EQ(rig.model.config().lineIndex, 2);
    }
}

TEST(CommandRunner, PollCount)
{
    Rig rig;
    ASSERT_EQ(rig.run({"poll", "--count", "3"}), 0);
    const std::vector<std::string> replies = lines(rig.out);
    ASSERT_EQ(replies.size(), 3u);
    const std::regex reply(
        R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}  reader ([12])  ID (\d\d)  (\d+)$)");
    const char *const readers[] = {"1", "2", "1"};
    const char *const ids[] = {"01", "05", "01"};
    const char *const data[] = {"0000012345", "0000067890", "0000012345"};
    for (std::size_t i = 0; i < 3; ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(replies[i], m, reply)) << replies[i];
        EXPECT_EQ(m[1], readers[i]);
        EXPECT_EQ(m[2], ids[i]);
        EXPECT_EQ(m[3], data[i]);
    }
    EXPECT_TRUE(contains(rig.err, "qmrctl: 3 replies\n"));
    EXPECT_FALSE(rig.port.isOpen());
    EXPECT_EQ(std::size_t(rig.port.closeCount()), rig.port.opens().size());
}

TEST(CommandRunner, PollCountOneReader)
{
    Rig rig;
    rig.model.config().mode = '1';
    ASSERT_EQ(rig.run({"poll", "--count=2"}), 0);
    const std::vector<std::string> replies = lines(rig.out);
    ASSERT_EQ(replies.size(), 2u);
    for (const std::string &line : replies)
        EXPECT_TRUE(contains(line, "reader 1  ID 01  0000012345")) << line;
}

TEST(CommandRunner, PollJson)
{
    Rig rig;
    ASSERT_EQ(rig.run({"poll", "--count", "3", "--json"}), 0);
    const std::vector<std::string> text = lines(rig.out);
    ASSERT_EQ(text.size(), 5u); // the scan, three replies, the end
    std::vector<json> objects;
    for (const std::string &line : text) {
        const json doc = json::parse(line, nullptr, false);
        ASSERT_TRUE(doc.is_object()) << line;
        objects.push_back(doc);
    }
    EXPECT_EQ(objects[0].value("type", ""), "scan");
    EXPECT_EQ(objects[0]["module"].value("com", 0), 3);
    for (std::size_t i = 1; i <= 3; ++i) {
        EXPECT_EQ(objects[i].value("type", ""), "reply");
        EXPECT_FALSE(objects[i].value("time", "").empty());
    }
    EXPECT_EQ(objects[2].value("reader", 0), 2);
    EXPECT_EQ(objects[2].value("id", ""), "05");
    EXPECT_EQ(objects[2].value("data", ""), "0000067890");
    EXPECT_EQ(objects[4].value("type", ""), "end");
    EXPECT_EQ(objects[4].value("ok", false), true);
    EXPECT_EQ(objects[4].value("replies", 0), 3);
}

TEST(CommandRunner, PollInterrupt)
{
    Rig rig;
    FakeInterrupt interrupt;
    interrupt.when = [&rig] {
        const std::string out = rig.liveOut.str();
        return std::count(out.begin(), out.end(), '\n') >= 5;
    };
    EXPECT_EQ(rig.run({"poll"}, &interrupt), 0);
    EXPECT_TRUE(interrupt.armed);
    // The stop is noticed in the pause before the next command; the cycle then ends.
    const std::size_t count = lines(rig.out).size();
    EXPECT_TRUE(count == 5 || count == 6) << rig.out;
    EXPECT_TRUE(contains(rig.err, std::to_string(count) + " replies")) << rig.err;
    EXPECT_FALSE(rig.port.isOpen());
    EXPECT_EQ(std::size_t(rig.port.closeCount()), rig.port.opens().size());
}

TEST(CommandRunner, PollFailure)
{
    Rig rig;
    // Replies 1 to 4 answer the scan, 5 the first poll; the sixth is never sent.
    rig.model.faults().dropEvery = 6;
    EXPECT_EQ(rig.run({"poll"}), 1);
    EXPECT_EQ(lines(rig.out).size(), 1u);
    EXPECT_TRUE(contains(rig.err, "no valid reply"));
    EXPECT_FALSE(rig.port.isOpen());

    rig.model.faults().dropEvery = 6;
    EXPECT_EQ(rig.run({"poll", "--json"}), 1);
    const json end = json::parse(lines(rig.out).back());
    EXPECT_EQ(end.value("type", ""), "end");
    EXPECT_EQ(end.value("ok", true), false);
    EXPECT_EQ(end.value("outcome", ""), "failed");
}

TEST(CommandRunner, Ports)
{
    Rig rig;
    rig.store.setValue("ScanCommNo", 3);
    ASSERT_EQ(rig.run({"ports"}), 0);
    const std::vector<std::string> list = lines(rig.out);
    ASSERT_EQ(list.size(), 16u);
    EXPECT_EQ(list[0], "COM1   -                        no device");
    EXPECT_EQ(list[2], "COM3   /dev/ttyQMR              ok  (remembered)");
    EXPECT_TRUE(startsWith(list[4], "COM5   /dev/ttyLOCKED ") && contains(list[4], "open refused"))
        << list[4];
    EXPECT_TRUE(startsWith(list[15], "COM16 "));
    EXPECT_FALSE(rig.port.isOpen());
    EXPECT_TRUE(rig.model.commands().empty()); // nothing is sent
}

TEST(CommandRunner, PortsJson)
{
    Rig rig;
    ASSERT_EQ(rig.run({"ports", "--json"}), 0);
    const json ports = rig.object().value("ports", json::array());
    ASSERT_EQ(ports.size(), 16u);
    EXPECT_EQ(ports[2].value("com", 0), 3);
    EXPECT_EQ(ports[2].value("device", ""), Device);
    EXPECT_EQ(ports[2].value("exists", false), true);
    EXPECT_EQ(ports[2].value("openable", false), true);
    EXPECT_EQ(ports[4].value("exists", false), true);
    EXPECT_EQ(ports[4].value("openable", true), false);
    EXPECT_EQ(ports[4].value("error", ""), "permission-denied");
    EXPECT_EQ(ports[0].value("exists", true), false);
    EXPECT_EQ(ports[0].value("error", ""), "not-found");
}

TEST(CommandRunner, AdaptersNamed)
{
    Rig rig;
    AdapterIdentity ftdi;
    ftdi.maker = "FTDI";
    ftdi.vendorId = "0403";
    ftdi.productId = "6001";
    ftdi.serialNumber = "A10K1ZQB";
    rig.map.adapters[Device] = ftdi;
    ASSERT_EQ(rig.run({"ports"}), 0);
    const std::vector<std::string> list = lines(rig.out);
    ASSERT_EQ(list.size(), 17u);
    EXPECT_EQ(list[3], "       FTDI, USB 0403:6001, serial A10K1ZQB");
    ASSERT_EQ(rig.run({"ports", "--json"}), 0);
    const json adapter = rig.object()["ports"][2]["adapter"];
    EXPECT_EQ(adapter, (json{{"maker", "FTDI"},
                             {"vendorId", "0403"},
                             {"productId", "6001"},
                             {"serial", "A10K1ZQB"}}));
    EXPECT_EQ(rig.object()["ports"][0]["adapter"], json::object());
    ASSERT_EQ(rig.run({"scan", "--json"}), 0);
    EXPECT_EQ(rig.object()["module"]["adapter"], adapter);
    // The message detail (the window's tooltip) names the adapter of a port that did not open.
    rig.map.adapters[LockedDevice] = ftdi;
    rig.model.faults().silent = true;
    ASSERT_EQ(rig.run({"scan"}), 1);
    EXPECT_TRUE(contains(rig.err, "  COM5 (FTDI, USB 0403:6001, serial A10K1ZQB): " +
                                      std::string(LockedDevice) + ": open refused"))
        << rig.err;
}

TEST(CommandRunner, Trace)
{
    Rig rig;
    ASSERT_EQ(rig.run({"--trace", "scan"}), 0);
    const std::vector<std::string> trace = lines(rig.err);
    ASSERT_GE(trace.size(), 8u) << rig.err;
    // The first frame sent and its reply, each as one line.
    EXPECT_TRUE(std::regex_match(
        trace[0], std::regex(R"( +\d+\.\d{3} tx 09 41 30 30 4D 30 35 0D  \|\.A00M05\.\|)")))
        << trace[0];
    EXPECT_TRUE(std::regex_search(trace[1], std::regex(R"(^ +\d+\.\d{3} rx 0A .* 0D  \|)")))
        << trace[1];
    const auto count = [&trace](const char *what) {
        return std::count_if(trace.begin(), trace.end(),
                             [what](const std::string &l) { return contains(l, what); });
    };
    EXPECT_EQ(count(" tx "), 4);
    EXPECT_EQ(count(" rx "), 4);
    // Without --trace nothing goes to standard error on success.
    ASSERT_EQ(rig.run({"scan"}), 0);
    EXPECT_EQ(rig.err, "");
}

TEST(CommandRunner, TraceOfAFrameWithoutEnd)
{
    // Bytes that never end a reply are shown once, as they came; silence shows nothing.
    Rig rig;
    rig.model.faults().floodBytes = 20;
    EXPECT_EQ(rig.run({"--trace", "scan"}), 1);
    const std::vector<std::string> trace = lines(rig.err);
    const auto rx = std::count_if(trace.begin(), trace.end(),
                                  [](const std::string &l) { return contains(l, " rx "); });
    const auto tx = std::count_if(trace.begin(), trace.end(),
                                  [](const std::string &l) { return contains(l, " tx "); });
    EXPECT_EQ(rx, tx) << rig.err;
    EXPECT_GT(tx, 0);

    rig.model.faults().floodBytes = 0;
    rig.model.faults().silent = true;
    EXPECT_EQ(rig.run({"--trace", "scan"}), 1);
    for (const std::string &line : lines(rig.err))
        EXPECT_FALSE(contains(line, " rx ")) << line;
}

TEST(CommandRunner, UsageErrorsTouchNothing)
{
    Rig rig;
    const Args bad[] = {
        {"set-id", "0"},      {"set-id", "100"}, {"set-id", "ab"},    {"set-line", "12345,n,8,1"},
        {"set-mode", "both"}, {"frobnicate"},    {"scan", "--bogus"}, {"set-mode", "one\n\x1b[2J"}};
    for (const Args &args : bad) {
        SCOPED_TRACE(joined(args));
        EXPECT_EQ(rig.run(args), 2);
        EXPECT_EQ(rig.out, "");
        EXPECT_TRUE(startsWith(rig.err, "qmrctl: ")) << rig.err;
        EXPECT_EQ(std::count(rig.err.begin(), rig.err.end(), '\n'), 1) << rig.err;
        EXPECT_TRUE(contains(rig.err, " (see qmrctl --help)\n")) << rig.err;
        EXPECT_FALSE(contains(rig.err, "\x1b")) << rig.err;
    }
    EXPECT_EQ(rig.factoryCalls, 0);
    EXPECT_TRUE(rig.port.opens().empty());
}

TEST(CommandRunner, HelpAndVersion)
{
    Rig rig;
    ASSERT_EQ(rig.run({"--help"}), 0);
    EXPECT_EQ(rig.out, cliUsage());
    EXPECT_TRUE(startsWith(rig.out, "Usage: qmrctl"));
    ASSERT_EQ(rig.run({"--version"}), 0);
    EXPECT_EQ(rig.out, std::string("qmrctl ") + QMR_VERSION + "\n");
    EXPECT_EQ(rig.factoryCalls, 0);
}

// --port: the named port's own devices, under the COM number the name gives; the program's
// port (the remembered one, the sweep) is not touched.
TEST(CommandRunner, NamedPortIsTheOnlyPortUsed)
{
    Rig rig;
    ModuleModel named;
    named.config().reader1.serial = "55550010";
    rig.devices.names = {{"COM7", "/dev/ttyNAMED"}, {"/dev/ttyUSB9", "/dev/ttyUSB9"}};
    rig.devices.setUp = [&named](const std::string &device, MemoryPort &port, FakeClock &) {
        if (device == "/dev/ttyNAMED")
            port.addDevice(device, &named);
    };
    ASSERT_EQ(rig.run({"--port", "COM7", "scan"}), 0) << rig.err;
    EXPECT_TRUE(startsWith(rig.out, "Get Module Info Ok. (COM : #7)\n")) << rig.out;
    EXPECT_TRUE(contains(rig.out, "S/N:        55550010-1\n")) << rig.out;
    EXPECT_TRUE(rig.port.opens().empty());
    EXPECT_FALSE(rig.sent("A00M"));

    // A device path stands for itself; with nothing on it the scan fails there only.
    ASSERT_EQ(rig.run({"--port=/dev/ttyUSB9", "scan"}), 1);
    EXPECT_TRUE(rig.port.opens().empty());
    EXPECT_EQ(rig.devices.made(), 2);
    EXPECT_TRUE(contains(rig.err, "  /dev/ttyUSB9: the port opens, but no module answered\n"))
        << rig.err;

    // A port that does not open is named as the user wrote it, with the reason.
    for (const auto &[error, why] : {std::pair{PortError::NotFound, "no such device"},
                                     std::pair{PortError::NotASerialPort, "not a serial port"},
                                     std::pair{PortError::Busy, "held by another program"},
                                     std::pair{PortError::PermissionDenied, "no permission"}}) {
        rig.devices.setUp = [error](const std::string &device, MemoryPort &port, FakeClock &) {
            port.refuseOpen(device, error);
        };
        ASSERT_EQ(rig.run({"--port", "/dev/ttyUSB9", "scan"}), 1);
        EXPECT_TRUE(contains(rig.err, "  /dev/ttyUSB9: " + std::string(why))) << rig.err;
        EXPECT_FALSE(contains(rig.err, "COM")) << rig.err;
    }
}

TEST(CommandRunner, OneDeviceListedTwiceInPorts)
{
    Rig rig;
    rig.devices.names = {{"COM3", "/dev/ttyS3"},
                         {"com3", "/dev/ttyS3"},
                         {"/dev/serial/by-id/usb-x", "/dev/serial/by-id/usb-x"},
                         {"/dev/ttyUSB0", "/dev/ttyUSB0"}};
    rig.devices.sameDevice = {{"/dev/serial/by-id/usb-x", "/dev/ttyUSB0"}};
    for (const Args &args :
         {Args{"provision", "--ports", "COM3,com3"},
          Args{"provision", "--ports", "/dev/ttyUSB0,/dev/serial/by-id/usb-x"}}) {
        SCOPED_TRACE(joined(args));
        EXPECT_EQ(rig.run(args), 2);
        EXPECT_TRUE(contains(rig.err, "are the same device")) << rig.err;
    }
    EXPECT_EQ(rig.devices.made(), 0);
}

TEST(CommandRunner, NamedPortIsNotRemembered)
{
    Rig rig;
    ModuleModel named;
    named.config().lineIndex = 9;
    rig.devices.names = {{"COM7", "/dev/ttyNAMED"}};
    rig.devices.setUp = [&named](const std::string &device, MemoryPort &port, FakeClock &) {
        port.addDevice(device, &named);
    };
    rig.store.setValue("ScanCommNo", 3);
    ASSERT_EQ(rig.run({"--port", "COM7", "--all-lines", "scan"}), 0) << rig.err;
    // The line setting the sweep found is remembered, the port keeps the remembered number.
    EXPECT_EQ(rig.store.intValue("ScanCommNo").value_or(0), 3);
    EXPECT_EQ(rig.store.intValue("ScanBaudRateNo").value_or(0), 9);
    ASSERT_EQ(rig.run({"--port", "COM7", "set-line", "19200,e,8,1"}), 0) << rig.err;
    EXPECT_EQ(named.config().lineIndex, 5);
    EXPECT_EQ(rig.store.intValue("ScanCommNo").value_or(0), 3);
}

TEST(CommandRunner, NamedPortUsageErrors)
{
    Rig rig;
    rig.devices.names = {{"COM7", "/dev/ttyNAMED"}};
    for (const Args &args :
         {Args{"--port", "COM8", "scan"}, Args{"--port", "COM7", "ports"},
          Args{"--port", "", "scan"}, Args{"--port", "COM7", "provision", "--ports", "COM7"}}) {
        SCOPED_TRACE(joined(args));
        EXPECT_EQ(rig.run(args), 2);
        EXPECT_TRUE(contains(rig.err, "--port")) << rig.err;
    }
    EXPECT_EQ(rig.devices.made(), 0);
    EXPECT_TRUE(rig.port.opens().empty());
}
