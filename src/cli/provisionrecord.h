#pragma once

#include "fileservices.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qmr {

// One line of the provisioning record: a module about to be configured ("started"), or its
// outcome ("ok", "failed"). IDs are numbers 1..99, 0 where there is none (ID2 in one-reader
// mode). The module's fields hold the bytes it sent, whatever they are.
struct RecordEntry
{
    std::string time;
    std::string port;
    std::string serial1;
    std::string serial2;
    std::string version;
    std::string id1Before; // as the module sent them
    std::string id2Before;
    int id1 = 0;
    int id2 = 0;
    std::string mode; // "two" or "one"
    int rs485 = 0;    // 24, 32 or 40
    std::string line;
    std::string outcome; // "started", "ok" or "failed"
    std::string error;

    bool operator==(const RecordEntry &) const = default;
};

// The record of a provisioning run: JSON lines, or CSV when the file name ends in ".csv".
// The file is locked for the whole run, read whole before anything is sent (a line that does
// not parse stops the run; only a last line without its line end, cut by a crash, is set
// aside), and every entry is appended, flushed and made durable at once, so the file holds
// all that was done when the program is killed or the power fails.
//
// The module's bytes (serial numbers, version, IDs before) are stored as escapeControls gives
// them: "\\" for a backslash, "\xHH" for a control character, a bidirectional control or a
// byte that is not UTF-8; so the record gives back exactly the bytes the module sent. The
// other texts are stored with their controls escaped. In CSV a field beginning with '=', '+',
// '-', '@', tab, CR or an apostrophe gets an apostrophe in front, so a spreadsheet shows it as
// text; the reader takes one leading apostrophe away.
class ProvisionRecord
{
public:
    enum class Format
    {
        JsonLines,
        Csv,
    };
    static Format formatFor(const std::string &path);

    enum class OpenOutcome
    {
        Opened,
        Held,     // another run holds the record
        Unusable, // it cannot be created, read or written, or a line does not parse
    };
    // Locks the record (creating it when there is none, its directory entry made durable), reads
    // it whole and opens it for appending; the lock is held until the record goes. Without a path
    // nothing is recorded. error says what is wrong; notice, when set, is to be shown (a cut
    // last line set aside).
    OpenOutcome open(const std::string &path, FileServices &files, std::string &error,
                     std::string &notice);
    bool isOpen() const { return m_file.is_open(); }
    const std::string &path() const { return m_path; }

    const std::vector<RecordEntry> &entries() const { return m_entries; }
    // The highest ID any entry gave or was about to give, 0 when none.
    int highestId() const;
    // The last entry naming this module (both serial numbers, compared as bytes), or null.
    const RecordEntry *lastEntryOf(const std::string &serial1, const std::string &serial2) const;

    // Appends the entry, flushes it and makes it durable; false with the file and the system's
    // reason when any of it failed.
    bool append(const RecordEntry &entry, std::string &error);

    // One entry as a line of the format (without the line end), and back; parseLine says what
    // is wrong with a line it does not take.
    static std::string formatLine(const RecordEntry &entry, Format format);
    static bool parseLine(const std::string &line, Format format, RecordEntry &entry,
                          std::string *why = nullptr);
    static std::string csvHeader();
    // The entries of a whole record's text; false with the line number and what is wrong.
    // A last line without its line end is left out and named in cutLine.
    static bool parseText(const std::string &text, Format format, std::vector<RecordEntry> &entries,
                          std::string &error, std::size_t &cutLine);

private:
    // The record's bytes, whole; false when it cannot be read.
    bool readWhole(std::string &text) const;
    // A last line without its line end, cut by a crash, is moved to FILE.cut and the record
    // cut back to its last whole line; false (with the error) when that cannot be done.
    bool setAsideCutLine(std::string &text, std::size_t cutLine, const std::string &name,
                         std::string &error, std::string &notice);
    Format m_format = Format::JsonLines;
    std::unique_ptr<FileLock> m_lock;
    std::ofstream m_file;
    std::string m_path;
    std::filesystem::path m_filePath;
    FileServices *m_files = nullptr;
    std::vector<RecordEntry> m_entries;
};

} // namespace qmr
