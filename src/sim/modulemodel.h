#pragma once

#include "link/serialport.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qmr {

// One reader of the module.
struct ReaderState
{
    std::string id;     // two characters, "01".."99"
    std::string serial; // eight characters; the last one is the unit digit
    std::string data;   // what a poll of this reader returns
};

// What the emulated QLN-72RT is and does; every command acts on it.
struct ModuleConfig
{
    ReaderState reader1{"01", "20250010", "0000012345"};
    ReaderState reader2{"05", "20250021", "0000067890"};
    std::string version = "03.20-01";
    char mode = '0';   // '0' two readers, '1' one reader
    char rs485 = '1';  // '0', '1', '2': index into Rs485Values (24, 32, 40)
    int lineIndex = 5; // index into BaudRateTable
};

// Faults on demand, for robustness tests.
struct FaultConfig
{
    bool silent = false;         // never answers
    bool wrongCheck = false;     // check digits off by one
    bool lowerCaseCheck = false; // check digits in lower case
    int lengthDelta = 0;         // reply text longer (>0) or shorter (<0) by this many bytes
    bool leadingGarbage = false; // one 0x55 byte before every reply
    int delayMs = 0;             // reply sent this long after the command's end byte
    int floodBytes = 0;          // instead of a reply: this many bytes with no 0x0D
    bool endless = false;        // instead of a reply: bytes without end (until the next command)
    int dropEvery = 0;           // every Nth reply is not sent (0: none dropped)
};

// One reply the module sends, and when (relative to the end of the command it answers).
struct ModuleReply
{
    std::string bytes;
    int delayMs = 0;
    bool endless = false; // bytes repeat without end
};

// The module's logic, free of any port or clock: feed it what it hears, send what it returns.
class ModuleModel
{
public:
    ModuleModel() = default;
    explicit ModuleModel(ModuleConfig config) : m_config(std::move(config)) {}

    ModuleConfig &config() { return m_config; }
    const ModuleConfig &config() const { return m_config; }
    FaultConfig &faults() { return m_faults; }

    // The module's own line setting.
    LineSettings line() const;
    // Bytes heard with the sender's line at `line`. When baud (and, if parityKnown, parity)
    // differ from the module's own, the bytes are noise: they are dropped and any partial
    // frame is discarded. Returns the replies to send, in order.
    std::vector<ModuleReply> hear(std::string_view bytes, const LineSettings &line,
                                  bool parityKnown = true);

    // The command texts of all complete, correctly checked frames heard, in order.
    const std::vector<std::string> &commands() const { return m_commands; }

private:
    // The reply to one correctly checked command, faults applied; nothing when none is sent.
    std::optional<ModuleReply> answer(const std::string &command);

    ModuleConfig m_config;
    FaultConfig m_faults;
    std::string m_partial;
    std::vector<std::string> m_commands;
    int m_replyCount = 0;
};

} // namespace qmr
