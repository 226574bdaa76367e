// qmrctl provision against module models on in-memory ports, each port on its own thread
// with its own fake clock: the ID allocation, the record, resuming, failures.

#include "cli/provisioner.h"
#include "cli/provisionrecord.h"
#include "cli/terminaltext.h"
#include "memorydevices.h"
#include "sim/modulemodel.h"
#include "texts/languagetable.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace qmr;
using nlohmann::json;

namespace {

bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

std::vector<std::string> fileLines(const std::filesystem::path &path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The setting commands a module got (a read is four characters, "A00N").
long settingCommands(const ModuleModel &model)
{
    return std::count_if(model.commands().begin(), model.commands().end(),
                         [](const std::string &c) { return c.size() > 4; });
}

void writeFile(const std::filesystem::path &path, const std::string &bytes)
{
    std::ofstream file(path, std::ios::binary);
    file << bytes;
}

RecordEntry entry(const std::string &serialStem, int id1, int id2, const std::string &outcome)
{
    return RecordEntry{"2026-12-09T10:00:00",
                       "COM3",
                       serialStem + "10",
                       serialStem + "21",
                       "03.20-01",
                       "01",
                       "05",
                       id1,
                       id2,
                       id2 > 0 ? "two" : "one",
                       32,
                       "19200,e,8,1",
                       outcome,
                       ""};
}

ModuleConfig module(const std::string &serialStem)
{
    ModuleConfig c;
    c.reader1.serial = serialStem + "10";
    c.reader2.serial = serialStem + "21";
    return c;
}

// Ports with a stream of modules each: a module is plugged in when the port waits, taken
// away when it is done (or failed, or left alone); once a port has no module left, and all
// ports are so, the run is asked to stop.
class Floor
{
public:
    struct Port
    {
        std::vector<ModuleConfig> modules;
        // Called when a module's configuration starts, on the port's thread.
        std::function<void(ModuleModel &, MemoryPort &, FakeClock &)> onConfiguring;
        // Called, when set, instead of unplugging a module that is done.
        std::function<void(ModuleModel &, MemoryPort &, FakeClock &)> onDone;
        // The models, kept to the end of the test so their state can be checked.
        std::deque<ModuleModel> models;
        std::size_t next = 0;
        bool finished = false;
        MemoryPort *port = nullptr;
        FakeClock *clock = nullptr;
        std::string device;
    };

    Floor()
    {
        m_dir = std::filesystem::temp_directory_path() /
                ("tst_provisioner_" +
                 std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        devices.setUp = [this](const std::string &device, MemoryPort &port, FakeClock &clock) {
            for (auto &[name, p] : ports) {
                if (p.device == device) {
                    p.port = &port;
                    p.clock = &clock;
                }
            }
        };
    }
    ~Floor() { std::filesystem::remove_all(m_dir); }

    Port &add(const std::string &name, std::vector<ModuleConfig> modules)
    {
        Port &p = ports[name];
        p.modules = std::move(modules);
        p.device = "/dev/tty" + name;
        devices.names[name] = p.device;
        options.ports.push_back({name, p.device});
        return p;
    }
    std::filesystem::path path(const std::string &name) const { return m_dir / name; }

    int run(InterruptSource *interrupt = nullptr)
    {
        events.clear();
        Provisioner provisioner(devices, devices, m_table, options);
        provisioner.setInterruptSource(interrupt);
        provisioner.setEventHook([&](const ProvisionEvent &e) { onEvent(provisioner, e); });
        std::ostringstream out;
        std::ostringstream err;
        const int code = provisioner.run(out, err);
        this->out = out.str();
        this->err = err.str();
        return code;
    }

    // The events of one kind, in the order they came.
    std::vector<ProvisionEvent> eventsOf(PortState state) const
    {
        std::vector<ProvisionEvent> found;
        for (const ProvisionEvent &e : events) {
            if (e.state == state)
                found.push_back(e);
        }
        return found;
    }
    std::vector<RecordEntry> record(const std::string &name) const
    {
        std::vector<RecordEntry> entries;
        for (const std::string &line : fileLines(path(name))) {
            RecordEntry e;
            if (ProvisionRecord::parseLine(line, ProvisionRecord::formatFor(name), e))
                entries.push_back(e);
        }
        return entries;
    }

    MemoryDevices devices;
    std::map<std::string, Port> ports;
    ProvisionOptions options;
    std::vector<ProvisionEvent> events;
    std::string out;
    std::string err;

private:
    // Runs on the port's thread; the provisioner calls it for one event at a time.
    void onEvent(Provisioner &provisioner, const ProvisionEvent &e)
    {
        events.push_back(e);
        Port &p = ports.at(e.port);
        switch (e.state) {
        case PortState::Waiting:
            if (p.next < p.modules.size()) {
                p.models.emplace_back(p.modules[p.next++]);
                p.port->addDevice(p.device, &p.models.back());
            } else {
                p.finished = true;
            }
            break;
        case PortState::Configuring:
            if (p.onConfiguring)
                p.onConfiguring(p.models.back(), *p.port, *p.clock);
            break;
        case PortState::Done:
            if (p.onDone) {
                p.onDone(p.models.back(), *p.port, *p.clock);
                break;
            }
            p.port->addDevice(p.device, nullptr); // unplugged
            break;
        case PortState::Failed:
        case PortState::Skipped:
            p.port->addDevice(p.device, nullptr); // unplugged
            break;
        case PortState::Unavailable:
            p.finished = true;
            break;
        case PortState::Stopped:
            break;
        }
        bool all = true;
        for (const auto &[name, port] : ports)
            all = all && port.finished;
        if (all)
            provisioner.requestStop();
    }

    LanguageTable m_table;
    std::filesystem::path m_dir;
};

} // namespace

TEST(Provisioner, IdsUniqueAndInOrderAcrossPorts)
{
    Floor floor;
    for (const std::string name : {"COM3", "COM4", "COM5"}) {
        std::vector<ModuleConfig> stream;
        for (int i = 0; i < 4; ++i)
            stream.push_back(module(name.substr(3) + "0000" + std::to_string(i)));
        floor.add(name, stream);
    }
    floor.options.rs485Index = 2;
    floor.options.lineNo = 7;
    floor.options.recordFile = floor.path("record.jsonl").string();
    ASSERT_EQ(floor.run(), 0) << floor.err;

    const std::vector<RecordEntry> record = floor.record("record.jsonl");
    ASSERT_EQ(record.size(), 24u);
    std::set<int> given;
    int lastStarted = 0;
    for (const RecordEntry &e : record) {
        if (e.outcome == "started") {
            // Handed out in the order the record has them, two at a time.
            EXPECT_EQ(e.id1, lastStarted + 1);
            EXPECT_EQ(e.id2, e.id1 + 1);
            lastStarted = e.id2;
            EXPECT_TRUE(given.insert(e.id1).second && given.insert(e.id2).second);
        } else {
            EXPECT_EQ(e.outcome, "ok") << e.error;
        }
    }
    EXPECT_EQ(given.size(), 24u);
    EXPECT_EQ(*given.rbegin(), 24);
    // Every module holds the IDs the record gives it, and the settings asked for.
    for (const auto &[name, port] : floor.ports) {
        ASSERT_EQ(port.models.size(), 4u);
        for (const ModuleModel &m : port.models) {
            const ModuleConfig &c = m.config();
            const auto entry =
                std::find_if(record.begin(), record.end(), [&](const RecordEntry &e) {
                    return e.outcome == "ok" && e.serial1 == c.reader1.serial;
                });
            ASSERT_NE(entry, record.end()) << c.reader1.serial;
            EXPECT_EQ(entry->port, name);
            EXPECT_EQ(c.reader1.id, (entry->id1 < 10 ? "0" : "") + std::to_string(entry->id1));
            EXPECT_EQ(c.reader2.id, (entry->id2 < 10 ? "0" : "") + std::to_string(entry->id2));
            EXPECT_EQ(c.rs485, '2');
            EXPECT_EQ(c.lineIndex, 7);
            EXPECT_EQ(entry->line, "38400,e,8,1");
            EXPECT_EQ(entry->id1Before, "01");
        }
    }
    EXPECT_EQ(floor.eventsOf(PortState::Done).size(), 12u);
    EXPECT_TRUE(contains(floor.out, "COM4: done: 40000010/40000021 -> ")) << floor.out;
    EXPECT_TRUE(contains(floor.err, "12 modules configured, 0 failed")) << floor.err;
}

TEST(Provisioner, OneReaderModeGivesOneIdEach)
{
    Floor floor;
    floor.add("COM3", {module("111111"), module("222222")});
    floor.options.modeIndex = 1;
    floor.options.firstId = 10;
    floor.options.json = true;
    ASSERT_EQ(floor.run(), 0) << floor.err;
    const auto done = floor.eventsOf(PortState::Done);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0].id1, 10);
    EXPECT_EQ(done[1].id1, 11);
    EXPECT_EQ(done[1].id2, 0);
    EXPECT_EQ(floor.ports["COM3"].models[1].config().mode, '1');
    EXPECT_EQ(floor.ports["COM3"].models[1].config().reader1.id, "11");
    // One JSON object a line, the last one the summary.
    std::istringstream lines(floor.out);
    std::vector<json> objects;
    for (std::string line; std::getline(lines, line);)
        objects.push_back(json::parse(line));
    ASSERT_FALSE(objects.empty());
    EXPECT_EQ(objects.back().value("event", ""), "end");
    EXPECT_EQ(objects.back().value("done", 0), 2);
    EXPECT_EQ(std::count_if(objects.begin(), objects.end(),
                            [](const json &j) { return j.value("event", "") == "configuring"; }),
              2);
}

TEST(Provisioner, RecordWrittenBeforeTheSettingCommandsAndCompletedAfter)
{
    Floor floor;
    floor.options.recordFile = floor.path("record.csv").string();
    const std::string recordFile = floor.options.recordFile;
    std::vector<std::string> seenAtFirstSetting;
    std::vector<std::string> persistedAtFirstSetting;
    Floor::Port &port = floor.add("COM3", {module("333333")});
    port.onConfiguring = [&](ModuleModel &model, MemoryPort &, FakeClock &clock) {
        clock.setOnAdvance([&, recordFile](std::uint32_t) {
            if (!seenAtFirstSetting.empty())
                return;
            for (const std::string &c : model.commands()) {
                if (c.size() > 4 && (c.rfind("A00A", 0) == 0 || c.rfind("A00C", 0) == 0)) {
                    seenAtFirstSetting = fileLines(recordFile);
                    persistedAtFirstSetting = floor.devices.persisted;
                }
            }
        });
    };
    ASSERT_EQ(floor.run(), 0) << floor.err;
    ASSERT_EQ(seenAtFirstSetting.size(), 2u); // header and the started entry
    EXPECT_EQ(seenAtFirstSetting[0], ProvisionRecord::csvHeader());
    EXPECT_TRUE(contains(seenAtFirstSetting[1], ",1,2,two,32,\"19200,e,8,1\",started,"))
        << seenAtFirstSetting[1];
    // On the disk, not only in the system's cache, before the IDs are set (the new file's
    // directory entry too); and after the outcome.
    EXPECT_EQ(persistedAtFirstSetting, (std::vector<std::string>{recordFile, recordFile}));
    EXPECT_EQ(floor.devices.persisted,
              (std::vector<std::string>{recordFile, recordFile, recordFile}));
    EXPECT_EQ(floor.devices.directoriesPersisted, std::vector<std::string>{recordFile});
    const auto record = floor.record("record.csv");
    ASSERT_EQ(record.size(), 2u);
    EXPECT_EQ(record[1].outcome, "ok");
    EXPECT_EQ(record[1].serial2, "33333321");
    EXPECT_EQ(record[1].version, "03.20-01");
}

TEST(Provisioner, ResumesAfterARecordCutInTheMiddle)
{
    Floor floor;
    floor.options.recordFile = floor.path("record.jsonl").string();
    std::string cut;
    {
        RecordEntry a{"t", "COM3", "44444410", "44444421", "03.20-01",    "01", "05",
                      1,   2,      "two",      32,         "19200,e,8,1", "ok", ""};
        RecordEntry b = a;
        b.serial1 = "55555510";
        b.serial2 = "55555521";
        b.id1 = 3;
        b.id2 = 4;
        b.outcome = "started"; // the run stopped while this module was configured
        cut = ProvisionRecord::formatLine(b, ProvisionRecord::Format::JsonLines).substr(0, 30);
        std::ofstream file(floor.options.recordFile, std::ios::binary);
        file << ProvisionRecord::formatLine(a, ProvisionRecord::Format::JsonLines) << '\n'
             << ProvisionRecord::formatLine(b, ProvisionRecord::Format::JsonLines) << '\n'
             << cut;
    }
    // The module the record has done is left alone; a new one gets the IDs after all
    // that the record names, also those of a module that was never finished.
    floor.add("COM3", {module("444444"), module("666666")});
    ASSERT_EQ(floor.run(), 0) << floor.err;
    const auto skipped = floor.eventsOf(PortState::Skipped);
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0].serial1, "44444410");
    const ModuleModel &old = floor.ports["COM3"].models[0];
    EXPECT_EQ(std::count_if(old.commands().begin(), old.commands().end(),
                            [](const std::string &c) { return c.size() > 4; }),
              0);
    const auto done = floor.eventsOf(PortState::Done);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].id1, 5);
    EXPECT_EQ(done[0].id2, 6);

    // The cut line is reported and set aside beside the record; the new entries follow the
    // last whole line.
    EXPECT_TRUE(contains(floor.err, "line 3 has no line end")) << floor.err;
    EXPECT_EQ(fileLines(floor.options.recordFile + ".cut"), std::vector<std::string>{cut});
    ASSERT_EQ(fileLines(floor.options.recordFile).size(), 4u);
    EXPECT_EQ(floor.record("record.jsonl").size(), 4u);

    // --again: a module in the record is configured again, with new IDs.
    floor.ports["COM3"] = Floor::Port{};
    floor.options.ports.clear();
    floor.add("COM3", {module("444444")});
    floor.options.again = true;
    floor.events.clear();
    ASSERT_EQ(floor.run(), 0) << floor.err;
    ASSERT_EQ(floor.eventsOf(PortState::Done).size(), 1u);
    EXPECT_EQ(floor.eventsOf(PortState::Done)[0].id1, 7);
    EXPECT_EQ(floor.ports["COM3"].models[0].config().reader1.id, "07");
}

TEST(Provisioner, ModuleFailingHalfWayKeepsItsIds)
{
    Floor floor;
    floor.options.recordFile = floor.path("record.jsonl").string();
    Floor::Port &port = floor.add("COM3", {module("777777"), module("888888")});
    bool first = true;
    // The first module stops answering once its mode is set: the IDs never reach it.
    port.onConfiguring = [&first](ModuleModel &model, MemoryPort &, FakeClock &clock) {
        if (!first)
            return;
        first = false;
        clock.setOnAdvance([&model](std::uint32_t) {
            for (const std::string &c : model.commands()) {
                if (c.size() > 4 && c.rfind("A00A", 0) == 0)
                    model.faults().silent = true;
            }
        });
    };
    EXPECT_EQ(floor.run(), 1);
    const auto failed = floor.eventsOf(PortState::Failed);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].serial1, "77777710");
    EXPECT_EQ(failed[0].id1, 1);
    EXPECT_FALSE(failed[0].text.empty());
    const auto done = floor.eventsOf(PortState::Done);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].id1, 3);
    const auto record = floor.record("record.jsonl");
    ASSERT_EQ(record.size(), 4u);
    EXPECT_EQ(record[1].outcome, "failed");
    EXPECT_EQ(record[1].id1, 1);
    EXPECT_FALSE(record[1].error.empty());
    EXPECT_TRUE(contains(floor.err, "1 module configured, 1 failed")) << floor.err;
}

TEST(Provisioner, PortThatVanishes)
{
    Floor floor;
    Floor::Port &gone = floor.add("COM3", {module("999999")});
    gone.onConfiguring = [&gone](ModuleModel &, MemoryPort &port, FakeClock &) {
        port.vanish(gone.device);
    };
    floor.add("COM4", {module("121212"), module("131313")});
    EXPECT_EQ(floor.run(), 1);
    bool failedOnCom3 = false;
    bool unavailable = false;
    for (const ProvisionEvent &e : floor.events) {
        if (e.port == "COM3" && e.state == PortState::Failed) {
            failedOnCom3 = true;
            EXPECT_EQ(e.serial1, "99999910");
        }
        if (e.port == "COM3" && e.state == PortState::Unavailable)
            unavailable = true;
    }
    EXPECT_TRUE(failedOnCom3);
    EXPECT_TRUE(unavailable);
    // The other port went on; no ID was given twice.
    std::set<int> given;
    for (const ProvisionEvent &e : floor.events) {
        if (e.state == PortState::Configuring) {
            EXPECT_TRUE(given.insert(e.id1).second);
            EXPECT_TRUE(given.insert(e.id2).second);
        }
    }
    EXPECT_EQ(given.size(), 6u);
    EXPECT_EQ(floor.eventsOf(PortState::Done).size(), 2u);
    EXPECT_TRUE(contains(floor.out, "COM3: not available: ")) << floor.out;
}

TEST(Provisioner, StopsWhenTheIdsRunOut)
{
    Floor floor;
    floor.options.firstId = 97;
    floor.add("COM3", {module("141414"), module("151515"), module("161616")});
    EXPECT_EQ(floor.run(), 1);
    const auto done = floor.eventsOf(PortState::Done);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].id2, 98);
    EXPECT_EQ(floor.eventsOf(PortState::Configuring).size(), 1u);
    EXPECT_TRUE(contains(floor.err, "no reader IDs left")) << floor.err;
    // The module that found no IDs was not touched.
    const ModuleModel &second = floor.ports["COM3"].models[1];
    EXPECT_EQ(second.config().reader1.id, "01");

    // In one-reader mode 99 itself is given; a run that starts with none left does nothing.
    Floor one;
    one.options.firstId = 99;
    one.options.modeIndex = 1;
    one.add("COM3", {module("171717")});
    EXPECT_EQ(one.run(), 0) << one.err;
    EXPECT_EQ(one.ports["COM3"].models[0].config().reader1.id, "99");
    Floor none;
    none.options.firstId = 99;
    none.add("COM3", {module("181818")});
    EXPECT_EQ(none.run(), 1);
    EXPECT_TRUE(none.events.empty());
    EXPECT_TRUE(contains(none.err, "no reader IDs left")) << none.err;
}

namespace {

class StopAfterFirstModule : public InterruptSource
{
public:
    std::atomic<bool> armed{false};
    std::atomic<bool> stop{false};
    void arm() override { armed = true; }
    bool requested() const override { return stop; }
};

} // namespace

TEST(Provisioner, InterruptStopsAfterTheModuleInHand)
{
    Floor floor;
    StopAfterFirstModule interrupt;
    Floor::Port &port = floor.add("COM3", {module("191919"), module("202020")});
    // Ctrl-C while the first module is configured: it is still finished and recorded.
    port.onConfiguring = [&interrupt](ModuleModel &, MemoryPort &, FakeClock &) {
        interrupt.stop = true;
    };
    floor.options.recordFile = floor.path("record.jsonl").string();
    EXPECT_EQ(floor.run(&interrupt), 0);
    EXPECT_TRUE(interrupt.armed);
    EXPECT_EQ(floor.eventsOf(PortState::Done).size(), 1u);
    EXPECT_EQ(floor.record("record.jsonl").size(), 2u);
    EXPECT_EQ(floor.eventsOf(PortState::Stopped).size(), 1u);
}

TEST(ProvisionRecord, GivesBackEveryByteAndShowsSpreadsheetsText)
{
    std::string everyByte;
    for (int b = 0; b < 256; ++b)
        everyByte += char(b);
    RecordEntry e = entry("x", 7, 8, "failed");
    e.serial1 = everyByte;
    e.serial2 = "=HYPERLINK(\"x\",1)";
    e.version = "@SUM(A1)";
    e.id1Before = "-1";
    e.id2Before = "'+1";
    e.error = "+x, \"y\"\r\n\t";
    for (const auto format : {ProvisionRecord::Format::Csv, ProvisionRecord::Format::JsonLines}) {
        const std::string line = ProvisionRecord::formatLine(e, format);
        // One line of text: no control character, no byte that is not UTF-8, nothing a
        // terminal running tail -f acts on.
        EXPECT_EQ(escapeControls(line, Backslash::AsIs), line);
        RecordEntry back;
        std::string why;
        ASSERT_TRUE(ProvisionRecord::parseLine(line, format, back, &why)) << why << "\n" << line;
        EXPECT_EQ(back.serial1, everyByte);
        EXPECT_EQ(back.serial2, e.serial2);
        EXPECT_EQ(back.version, e.version);
        EXPECT_EQ(back.id1Before, e.id1Before);
        EXPECT_EQ(back.id2Before, e.id2Before);
        EXPECT_EQ(back.error, escapeControls(e.error, Backslash::AsIs));
    }
    // In a spreadsheet a field that would start a formula starts with an apostrophe.
    const std::string csv = ProvisionRecord::formatLine(e, ProvisionRecord::Format::Csv);
    EXPECT_TRUE(contains(csv, ",\"'=HYPERLINK(\"\"x\"\",1)\",'@SUM(A1),'-1,''+1,")) << csv;
    EXPECT_TRUE(contains(csv, ",\"'+x, \"\"y\"\"\\x0d\\x0a\\x09\"")) << csv;

    // Through a file, as a resumed run reads it.
    for (const std::string name : {"every.csv", "every.jsonl"}) {
        const auto path = std::filesystem::temp_directory_path() / ("tst_provisioner_" + name);
        std::filesystem::remove(path);
        MemoryDevices files;
        std::string error;
        std::string notice;
        {
            ProvisionRecord record;
            ASSERT_EQ(record.open(path.string(), files, error, notice),
                      ProvisionRecord::OpenOutcome::Opened)
                << error;
            ASSERT_TRUE(record.append(e, error)) << error;
        }
        {
            ProvisionRecord again;
            ASSERT_EQ(again.open(path.string(), files, error, notice),
                      ProvisionRecord::OpenOutcome::Opened)
                << error;
            EXPECT_NE(again.lastEntryOf(everyByte, e.serial2), nullptr);
            // Another byte in place of one that is no UTF-8 is another module.
            std::string other = everyByte;
            other[0xfe] = char(0xfd);
            EXPECT_EQ(again.lastEntryOf(other, e.serial2), nullptr);
        } // the record and its lock go before the file
        std::filesystem::remove(path);
    }
}

TEST(Provisioner, RecordThatDoesNotParseStopsTheRunBeforeAnythingIsSent)
{
    const std::string ok = ProvisionRecord::formatLine(entry("444444", 1, 2, "ok"),
                                                       ProvisionRecord::Format::JsonLines);
    const json pretty = json::parse(ok);
    const std::string okCsv =
        ProvisionRecord::formatLine(entry("444444", 1, 2, "ok"), ProvisionRecord::Format::Csv);
    std::string semicolons = ProvisionRecord::csvHeader() + '\n' + okCsv + '\n';
    std::replace(semicolons.begin(), semicolons.end(), ',', ';');
    struct Case
    {
        std::string name;
        std::string bytes;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"pretty.jsonl", ok + '\n' + pretty.dump(2) + '\n' + ok + '\n', "line 2: "},
        {"semicolons.csv", semicolons, "line 1 is not the record's header"},
        // A serial number with a line feed, raw in a quoted field, as the old writer left it.
        {"linefeed.csv",
         ProvisionRecord::csvHeader() + "\nt,COM3,\"4444\n4410\",44444421,03.20-01,01,05,1,2,"
                                        "two,32,\"19200,e,8,1\",ok,\n",
         "line 2: "},
        {"badid.jsonl",
         ok + '\n' + std::string(ok).replace(ok.find("\"id1\":1"), 7, "\"id1\":0") + '\n',
         "line 2: ID1 is not a number 1 to 99"},
    };
    for (const Case &c : cases) {
        Floor floor;
        floor.options.recordFile = floor.path(c.name).string();
        writeFile(floor.options.recordFile, c.bytes);
        floor.add("COM3", {module("555555")});
        EXPECT_EQ(floor.run(), 2) << c.name;
        EXPECT_TRUE(contains(floor.err, c.name) && contains(floor.err, c.says))
            << c.name << ": " << floor.err;
        EXPECT_TRUE(floor.events.empty()) << c.name;
        EXPECT_EQ(floor.devices.made(), 0) << c.name;
        // Nothing was added to the record.
        std::ifstream in(floor.options.recordFile, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), c.bytes) << c.name;
    }

    // A record that is there but cannot be read.
    Floor floor;
    floor.options.recordFile = floor.path("folder.jsonl").string();
    std::filesystem::create_directories(floor.options.recordFile);
    floor.add("COM3", {module("555555")});
    EXPECT_EQ(floor.run(), 2);
    EXPECT_TRUE(contains(floor.err, "folder.jsonl")) << floor.err;
    EXPECT_EQ(floor.devices.made(), 0);
}

TEST(Provisioner, ResumeFinishesWhatWasStartedWithTheReservedIds)
{
    Floor floor;
    floor.options.recordFile = floor.path("record.jsonl").string();
    std::string text;
    for (const RecordEntry &e : {entry("111111", 1, 2, "started"), entry("111111", 1, 2, "ok"),
                                 entry("222222", 3, 4, "started"), // killed here
                                 entry("333333", 5, 6, "started"), entry("333333", 5, 6, "failed"),
                                 entry("444444", 7, 8, "started")})
        text += ProvisionRecord::formatLine(e, ProvisionRecord::Format::JsonLines) + '\n';
    writeFile(floor.options.recordFile, text);
    floor.add("COM3", {module("111111"), module("333333"), module("222222"), module("999999")});
    ASSERT_EQ(floor.run(), 0) << floor.err;

    const auto &models = floor.ports["COM3"].models;
    ASSERT_EQ(models.size(), 4u);
    EXPECT_EQ(settingCommands(models[0]), 0); // ok: left alone
    EXPECT_EQ(models[1].config().reader1.id, "05");
    EXPECT_EQ(models[1].config().reader2.id, "06");
    EXPECT_EQ(models[2].config().reader1.id, "03");
    EXPECT_EQ(models[2].config().reader2.id, "04");
    // A new module gets IDs no entry names, also not those reserved for 444444.
    EXPECT_EQ(models[3].config().reader1.id, "09");
    EXPECT_EQ(floor.eventsOf(PortState::Skipped).size(), 1u);
    EXPECT_EQ(floor.eventsOf(PortState::Done).size(), 3u);

    // --again reconfigures a finished module with new IDs, an unfinished one with its own.
    floor.ports["COM3"] = Floor::Port{};
    floor.options.ports.clear();
    floor.add("COM3", {module("111111"), module("444444")});
    floor.options.again = true;
    ASSERT_EQ(floor.run(), 0) << floor.err;
    EXPECT_EQ(floor.ports["COM3"].models[0].config().reader1.id, "11");
    EXPECT_EQ(floor.ports["COM3"].models[1].config().reader1.id, "07");
}

TEST(Provisioner, ModuleThatMissesOneProbeIsStillThere)
{
    Floor floor;
    floor.options.again = true; // a module taken for a new one would get new IDs
    Floor::Port &port = floor.add("COM3", {module("121212")});
    port.onDone = [&port](ModuleModel &model, MemoryPort &memory, FakeClock &clock) {
        const std::uint32_t done = clock.milliseconds();
        clock.setOnAdvance([&, done](std::uint32_t now) {
            // One probe goes unanswered; later the module is unplugged for good.
            model.faults().silent = now - done > 100 && now - done < 700;
            if (now - done > 6000)
                memory.addDevice(port.device, nullptr);
        });
    };
    ASSERT_EQ(floor.run(), 0) << floor.err;
    EXPECT_EQ(floor.eventsOf(PortState::Configuring).size(), 1u);

    // A module whose serial number reads differently every time is not a new module each
    // time: it would use up every ID.
    Floor varying;
    varying.options.again = true;
    Floor::Port &flaky = varying.add("COM3", {module("222222")});
    flaky.onDone = [&flaky](ModuleModel &model, MemoryPort &memory, FakeClock &clock) {
        const std::uint32_t done = clock.milliseconds();
        clock.setOnAdvance([&, done](std::uint32_t now) {
            model.config().reader1.serial = "2222" + std::to_string(1000 + now % 9000);
            if (now - done > 6000)
                memory.addDevice(flaky.device, nullptr);
        });
    };
    ASSERT_EQ(varying.run(), 0) << varying.err;
    EXPECT_EQ(varying.eventsOf(PortState::Configuring).size(), 1u);
}

TEST(Provisioner, OneRunPerRecord)
{
    Floor floor;
    floor.options.recordFile = floor.path("record.jsonl").string();
    Floor::Port &port = floor.add("COM3", {module("131313")});
    int second = -1;
    std::string secondErr;
    // A second run on the same record while the first is configuring a module.
    port.onConfiguring = [&](ModuleModel &, MemoryPort &, FakeClock &) {
        MemoryDevices other;
        other.locks = floor.devices.locks;
        LanguageTable table;
        ProvisionOptions options = floor.options;
        Provisioner provisioner(other, other, table, options);
        std::ostringstream out;
        std::ostringstream err;
        second = provisioner.run(out, err);
        secondErr = err.str();
    };
    ASSERT_EQ(floor.run(), 0) << floor.err;
    EXPECT_EQ(second, 2);
    EXPECT_TRUE(contains(secondErr, "record.jsonl is in use by another qmrctl run")) << secondErr;
    EXPECT_EQ(floor.record("record.jsonl").size(), 2u);
}

TEST(Provisioner, RecordLineThatIsNotDurableStopsTheRun)
{
    // The started line cannot be synced: no setting reaches the module.
    Floor floor;
    floor.options.recordFile = floor.path("record.jsonl").string();
    floor.devices.persistFailsFrom = 1;
    floor.add("COM3", {module("141414"), module("151515")});
    EXPECT_EQ(floor.run(), 1);
    EXPECT_EQ(settingCommands(floor.ports["COM3"].models[0]), 0);
    EXPECT_EQ(floor.ports["COM3"].models.size(), 1u);
    const auto failed = floor.eventsOf(PortState::Failed);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_TRUE(contains(failed[0].text, floor.options.recordFile) &&
                contains(failed[0].text, "Input/output error"))
        << failed[0].text;

    // The outcome line cannot be synced: the module is reported failed, the run stops.
    Floor after;
    after.options.recordFile = after.path("record.jsonl").string();
    after.devices.persistFailsFrom = 2;
    after.add("COM3", {module("161616"), module("171717")});
    EXPECT_EQ(after.run(), 1);
    EXPECT_EQ(after.ports["COM3"].models.size(), 1u);
    ASSERT_EQ(after.eventsOf(PortState::Failed).size(), 1u);
    EXPECT_TRUE(contains(after.eventsOf(PortState::Failed)[0].text, "Input/output error"));
    EXPECT_TRUE(after.eventsOf(PortState::Done).empty());
}

TEST(Provisioner, TraceAndStatusLinesOnATerminal)
{
    Floor floor;
    floor.add("COM3", {module("181818")});
    floor.add("COM4", {module("191919")});
    floor.options.trace = true;
    floor.options.terminal = true;
    floor.options.columns = 24;
    ASSERT_EQ(floor.run(), 0) << floor.err;
    // Every frame, tagged with its port.
    for (const std::string port : {"COM3: ", "COM4: "}) {
        EXPECT_TRUE(contains(floor.err, "\n" + port) &&
                    std::regex_search(floor.err, std::regex(port + " +[0-9.]+ tx 09 41 30 30")))
            << floor.err;
    }
    // No status line is as wide as the terminal, so none wraps.
    std::istringstream lines(floor.out);
    for (std::string line; std::getline(lines, line);) {
        const std::string text = std::regex_replace(line, std::regex("\x1b\\[[0-9]*[AK]|\r"), "");
        EXPECT_LT(text.size(), 24u) << text;
    }
}
