#pragma once

#include "devicefactory.h"
#include "fileservices.h"
#include "interruptsource.h"
#include "link/linedefinition.h"
#include "provisionoutput.h"
#include "provisionrecord.h"
#include "texts/languagetable.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace qmr {

struct ModuleContext;
struct ScanResult;

struct ProvisionOptions
{
    std::vector<ProvisionPort> ports;
    int firstId = 1;
    int modeIndex = 0;                    // 0 two readers (two IDs a module), 1 one reader
    std::optional<int> rs485Index;        // else the module keeps its own
    std::optional<int> lineNo;            // the line setting to give, else the module keeps its own
    int searchLineNo = DefaultBaudRateNo; // where new modules are looked for
    bool allLines = false;                // ... or at all twelve
    std::string recordFile;               // empty: no record
    bool again = false;                   // configure modules the record already has
    bool json = false;                    // one JSON object per event on the output stream
    bool terminal = false;                // status lines redrawn in place
    int columns = 0;                      // the terminal's width, 0 unknown
    bool trace = false;                   // every port's frames on the error stream
    int languageIndex = 0;
};

// qmrctl provision: on every port at once, each on a thread of its own with its own link,
// port and clock, waits for a module, gives it the next free IDs, sets mode, RS-485 and
// line, reads it back and waits for it to be unplugged; until an interrupt, requestStop(),
// or the IDs run out (none above 99). IDs are handed out under one lock, in order, and the
// module is entered in the record (made durable) before the first command that sets them, so
// an ID is never given twice, not even after a crash and a resumed run: a module the record
// has as started or failed is configured again with the IDs the record reserved for it.
class Provisioner
{
public:
    // Between two looks for a module, or for its going away.
    static constexpr int WaitPollMs = 500;
    // Between two tries to open a port that did not open.
    static constexpr int UnavailablePollMs = 1000;
    // Reads of a module found before it is reported as unreadable.
    static constexpr int ReadAttempts = 3;
    // A module is unplugged only once it has been silent this long, over as many probes in a
    // row (a module that misses one answer is still there) ...
    static constexpr int UnplugSilentMs = 1000;
    static constexpr int UnplugSilentProbes = 3;
    // ... and replaced only once another serial number was read this many times in a row.
    static constexpr int ReplacedReads = 2;

    // devices: each port's; files: the record's.
    Provisioner(DeviceFactory &devices, FileServices &files, const LanguageTable &table,
                ProvisionOptions options);

    void setInterruptSource(InterruptSource *source) { m_interrupt = source; }
    // Called with every event, on the thread of its port, one event at a time.
    void setEventHook(std::function<void(const ProvisionEvent &)> hook)
    {
        m_hook = std::move(hook);
    }
    // Asks every port to stop after the module it is configuring (any thread may ask).
    void requestStop() { m_stop = true; }

    // Runs until stopped; returns 0 when every module handled succeeded, 1 otherwise (or when
    // the IDs ran out with a module waiting, or a record line could not be made durable), 2
    // when the record cannot be used (held by another run, unreadable, a line that does not
    // parse), before anything is sent.
    int run(std::ostream &out, std::ostream &err);

private:
    enum class Probe
    {
        Answer,
        Silent,
        Unavailable,
    };

    void portLoop(std::size_t index);
    // One look for a module at a line setting; serial, when given, gets the first reader's.
    Probe probe(ModuleContext &ctx, int lineNo, std::string &why, std::string *serial = nullptr);
    // Finds the module, at the search line or all twelve; false when stopped first.
    bool waitForModule(std::size_t index, ModuleContext &ctx);
    void handleModule(std::size_t index, ModuleContext &ctx, const ScanResult &scan,
                      const std::string &serial2);
    // Takes the module's IDs (new ones, or those the record reserved for it) and enters them
    // in the record; the event says whether it is to be configured, left alone or failed.
    void reserveIds(const ScanResult &scan, RecordEntry &entry, ProvisionEvent &event);
    // Sets mode, IDs and line and reads them back; false with the reason when that failed.
    bool configure(ModuleContext &ctx, const ScanResult &scan, const RecordEntry &entry,
                   int rs485Index, int lineNo, std::string &why);
    // The second reader's serial number ("A00N"), which the scan does not keep.
    bool readSecondSerial(ModuleContext &ctx, std::string &serial2);
    // Asks a reader of the open port for its serial number, a few times, each try after
    // pauseMs; serial, when given, gets it.
    static bool askSerial(ModuleContext &ctx, bool secondReader, int pauseMs, std::string *serial);
    void waitForUnplug(ModuleContext &ctx, const std::string &serial1);
    bool stopping() const;
    void report(std::size_t index, const ProvisionEvent &event);

    DeviceFactory &m_devices;
    FileServices &m_files;
    const LanguageTable &m_table;
    ProvisionOptions m_options;
    InterruptSource *m_interrupt = nullptr;
    std::function<void(const ProvisionEvent &)> m_hook;
    std::atomic<bool> m_stop{false};

    std::mutex m_idMutex; // the next ID and the record
    ProvisionRecord m_record;
    int m_nextId = 1;
    bool m_outOfIds = false;

    std::optional<ProvisionOutput> m_output; // from run() on
};

} // namespace qmr
