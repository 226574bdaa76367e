// qmrctl provision against module models on in-memory ports, each port on its own thread
// with its own fake clock: the ID allocation, the record, resuming, failures.

#include "cli/provisioner.h"
#include "cli/provisionrecord.h"
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
        Provisioner provisioner(devices, m_table, options);
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
    // On the disk, not only in the system's cache, before the IDs are set; and after the outcome.
    EXPECT_EQ(persistedAtFirstSetting, std::vector<std::string>{recordFile});
    EXPECT_EQ(floor.devices.persisted, (std::vector<std::string>{recordFile, recordFile}));
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
    {
        RecordEntry a{"t", "COM3", "44444410", "44444421", "03.20-01",    "01", "05",
                      1,   2,      "two",      32,         "19200,e,8,1", "ok", ""};
        RecordEntry b = a;
        b.serial1 = "55555510";
        b.serial2 = "55555521";
        b.id1 = 3;
        b.id2 = 4;
        b.outcome = "started"; // the run stopped while this module was configured
        const std::string cut =
            ProvisionRecord::formatLine(b, ProvisionRecord::Format::JsonLines).substr(0, 30);
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

    // Every line but the cut one is a whole entry; the new ones start on lines of their own.
    const auto lines = fileLines(floor.options.recordFile);
    ASSERT_EQ(lines.size(), 5u);
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
