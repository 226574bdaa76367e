#pragma once

#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace qmr {

// One line of the provisioning record: a module about to be configured ("started"), or its
// outcome ("ok", "failed"). IDs are numbers 1..99, 0 where there is none (ID2 in one-reader
// mode).
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
};

// The record of a provisioning run: JSON lines, or CSV when the file name ends in ".csv".
// Every entry is appended and flushed at once, so the file holds all that was done when the
// program is killed; a file that exists is read first, and a line cut short by a crash is
// skipped (the next entry starts on a line of its own).
class ProvisionRecord
{
public:
    enum class Format
    {
        JsonLines,
        Csv,
    };
    static Format formatFor(const std::string &path);

    // Reads what the file holds and opens it for appending. Without a path nothing is
    // recorded. False with a message when the file cannot be read or written.
    bool open(const std::string &path, std::string &error);
    bool isOpen() const { return m_file.is_open(); }

    const std::vector<RecordEntry> &entries() const { return m_entries; }
    // The highest ID any entry gave or was about to give, 0 when none.
    int highestId() const;
    // True when an entry names this module (both serial numbers).
    bool contains(const std::string &serial1, const std::string &serial2) const;

    // Called with the file's path after every line is flushed, to make it durable.
    void setPersist(std::function<void(const std::string &path)> persist)
    {
        m_persist = std::move(persist);
    }
    // Appends the entry, flushes it and makes it durable; false when the write failed.
    bool append(const RecordEntry &entry);

    // One entry as a line of the format (without the line end), and back.
    static std::string formatLine(const RecordEntry &entry, Format format);
    static bool parseLine(const std::string &line, Format format, RecordEntry &entry);
    static std::string csvHeader();

private:
    Format m_format = Format::JsonLines;
    std::ofstream m_file;
    std::string m_path;
    std::function<void(const std::string &)> m_persist;
    std::vector<RecordEntry> m_entries;
};

} // namespace qmr
