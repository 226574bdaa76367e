#include "provisionrecord.h"

#include "link/linedefinition.h"
#include "terminaltext.h"
#include "vocabulary/decimal.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <sstream>
#include <string_view>

namespace qmr {

namespace {

using nlohmann::json;

// A field begins so, a spreadsheet takes it as a formula (or, tab and CR, may drop them): an
// apostrophe in front makes it text. A field that begins with the apostrophe gets one more, so
// the reader can take exactly one away.
bool needsTextMark(std::string_view text)
{
    return !text.empty() &&
           std::string_view("=+-@\t\r'").find(text.front()) != std::string_view::npos;
}

std::string csvField(const std::string &field)
{
    const std::string text = needsTextMark(field) ? "'" + field : field;
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

// The fields of one CSV line, apostrophe marks taken away; nothing when a quoted field is not
// closed or a quote stands inside an unquoted field.
std::optional<std::vector<std::string>> csvFields(const std::string &line)
{
    std::vector<std::string> fields(1);
    std::vector<bool> wasQuoted(1, false);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
                if (i + 1 < line.size() && line[i + 1] != ',')
                    return std::nullopt;
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            if (!fields.back().empty() || wasQuoted.back())
                return std::nullopt;
            quoted = true;
            wasQuoted.back() = true;
        } else if (c == ',') {
            fields.emplace_back();
            wasQuoted.push_back(false);
        } else {
            fields.back() += c;
        }
    }
    if (quoted)
        return std::nullopt;
    for (std::string &f : fields) {
        if (!f.empty() && f.front() == '\'')
            f.erase(0, 1);
    }
    return fields;
}

// How a text field is stored: a module's bytes reversibly, anything else with its controls
// escaped (such a field holds no control and no byte that is not UTF-8).
std::string stored(const std::string &text, bool moduleBytes)
{
    return escapeControls(text, moduleBytes ? Backslash::Doubled : Backslash::AsIs);
}

// The field read back, or nothing with why set.
std::optional<std::string> restored(const std::string &field, const char *name, bool moduleBytes,
                                    std::string &why)
{
    if (moduleBytes) {
        if (auto bytes = unescapeBytes(field))
            return bytes;
        why = std::string("field ") + name +
              " holds a control character, bytes that are not UTF-8 or a backslash not written "
              "as qmrctl writes it";
        return std::nullopt;
    }
    if (stored(field, false) != field) {
        why =
            std::string("field ") + name + " holds a control character or bytes that are not UTF-8";
        return std::nullopt;
    }
    return field;
}

// The record's fields, one row each, in the order of the JSON keys and the CSV columns: its
// JSON key, its CSV column, the member it fills, whether it holds a module's bytes (stored
// reversibly), and whether it may be empty (a text then left out of the JSON line; a number,
// 0, written as null or an empty CSV field).
struct Field
{
    const char *key;
    std::string RecordEntry::*text = nullptr;
    int RecordEntry::*number = nullptr;
    bool moduleBytes = false;
    bool optional = false;
    const char *csvColumn = nullptr; // when not the key

    const char *column() const { return csvColumn ? csvColumn : key; }
};

constexpr std::array<Field, 14> Fields = {{
    {.key = "time", .text = &RecordEntry::time},
    {.key = "port", .text = &RecordEntry::port},
    {.key = "serial1", .text = &RecordEntry::serial1, .moduleBytes = true},
    {.key = "serial2", .text = &RecordEntry::serial2, .moduleBytes = true},
    {.key = "version", .text = &RecordEntry::version, .moduleBytes = true},
    {.key = "id1Before",
     .text = &RecordEntry::id1Before,
     .moduleBytes = true,
     .csvColumn = "id1_before"},
    {.key = "id2Before",
     .text = &RecordEntry::id2Before,
     .moduleBytes = true,
     .csvColumn = "id2_before"},
    {.key = "id1", .number = &RecordEntry::id1},
    {.key = "id2", .number = &RecordEntry::id2, .optional = true},
    {.key = "mode", .text = &RecordEntry::mode},
    {.key = "rs485", .number = &RecordEntry::rs485},
    {.key = "line", .text = &RecordEntry::line},
    {.key = "outcome", .text = &RecordEntry::outcome},
    {.key = "error", .text = &RecordEntry::error, .optional = true},
}};

// A field's value as the record holds it: a text escaped, a number in decimal, an optional
// number of 0 as nothing.
std::optional<std::string> storedField(const RecordEntry &e, const Field &f)
{
    if (f.text)
        return stored(e.*f.text, f.moduleBytes);
    if (f.optional && e.*f.number <= 0)
        return std::nullopt;
    return std::to_string(e.*f.number);
}

std::string entryJson(const RecordEntry &e)
{
    std::string line = "{";
    for (const Field &f : Fields) {
        const auto value = storedField(e, f);
        if (f.text && f.optional && value->empty())
            continue;
        const std::string shown = !value ? "null" : f.text ? json(*value).dump() : *value;
        line += (line.size() > 1 ? "," : "") + json(f.key).dump() + ":" + shown;
    }
    return line + "}";
}

std::string entryCsv(const RecordEntry &e)
{
    std::string line;
    for (const Field &f : Fields)
        line += (&f == &Fields.front() ? "" : ",") +
                csvField(storedField(e, f).value_or(std::string()));
    return line;
}

// The rules every entry keeps whatever its format; false with why set.
bool validReaderId(int id)
{
    return id >= MinReaderId && id <= MaxReaderId;
}

bool validEntry(const RecordEntry &e, std::string &why)
{
    if (e.outcome != "started" && e.outcome != "ok" && e.outcome != "failed")
        why = "the outcome is not started, ok or failed";
    else if (!readerModeIndexFor(e.mode))
        why = "the mode is not two or one";
    else if (!validReaderId(e.id1))
        why = "ID1 is not a number 1 to 99";
    else if (*readerModeIndexFor(e.mode) == 0 ? !validReaderId(e.id2) : e.id2 != 0)
        why = *readerModeIndexFor(e.mode) == 0 ? "ID2 is not a number 1 to 99"
                                               : "ID2 is given in one-reader mode";
    else if (rs485IndexOf(e.rs485) < 0)
        why = "RS-485 is not 24, 32 or 40";
    else if (baudRateIndexOf(e.line) < 0)
        why = "the line setting is none the module knows";
    else
        return true;
    return false;
}

// The number of a CSV field within min..max, an empty field 0 when allowed.
std::optional<int> csvNumber(const std::string &text, int min, int max, bool emptyIsZero)
{
    if (text.empty() && emptyIsZero)
        return 0;
    const auto n = parseDecimal(text, min, max);
    if (!n)
        return std::nullopt;
    return int(*n);
}

std::string systemReason()
{
    const int code = errno;
    return code != 0 ? std::strerror(code) : "an input/output error";
}

} // namespace

ProvisionRecord::Format ProvisionRecord::formatFor(const std::string &path)
{
    const std::string suffix = ".csv";
    if (path.size() < suffix.size())
        return Format::JsonLines;
    std::string end = path.substr(path.size() - suffix.size());
    std::transform(end.begin(), end.end(), end.begin(),
                   [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return end == suffix ? Format::Csv : Format::JsonLines;
}

std::string ProvisionRecord::csvHeader()
{
    std::string header;
    for (const Field &f : Fields)
        header += std::string(header.empty() ? "" : ",") + f.column();
    return header;
}

std::string ProvisionRecord::formatLine(const RecordEntry &e, Format format)
{
    return format == Format::JsonLines ? entryJson(e) : entryCsv(e);
}

namespace {

// A JSON line's fields into entry: the texts first, then the numbers.
bool parseJsonLine(const std::string &line, RecordEntry &entry, std::string &why)
{
    const json j = json::parse(line, nullptr, false);
    if (!j.is_object()) {
        why = "not a JSON object";
        return false;
    }
    for (const Field &f : Fields) {
        const auto it = j.find(f.key);
        if (!f.text || (it == j.end() && f.optional))
            continue;
        if (it == j.end() || !it->is_string()) {
            why = std::string("field ") + f.key + " is missing or not a text";
            return false;
        }
        const auto text = restored(it->get<std::string>(), f.key, f.moduleBytes, why);
        if (!text)
            return false;
        entry.*f.text = *text;
    }
    for (const Field &f : Fields) {
        const auto it = j.find(f.key);
        if (f.text)
            continue;
        if (it != j.end() && it->is_null() && f.optional) {
            entry.*f.number = 0;
        } else if (it == j.end() || !it->is_number_integer() || *it < -1000 || *it > 1000) {
            why = std::string("field ") + f.key + " is missing or not a number";
            return false;
        } else {
            entry.*f.number = it->get<int>();
        }
    }
    return true;
}

// A CSV line's fields into entry: the texts first, then the numbers.
bool parseCsvLine(const std::string &line, RecordEntry &entry, std::string &why)
{
    const auto fields = csvFields(line);
    if (!fields) {
        why = "a quoted field is not closed, or a quote stands inside a field";
        return false;
    }
    if (fields->size() != Fields.size()) {
        why = std::to_string(fields->size()) + " fields where the record has " +
              std::to_string(Fields.size()) + " (fields are separated by commas)";
        return false;
    }
    for (std::size_t i = 0; i < Fields.size(); ++i) {
        if (!Fields[i].text)
            continue;
        const auto text = restored((*fields)[i], Fields[i].key, Fields[i].moduleBytes, why);
        if (!text)
            return false;
        entry.*Fields[i].text = *text;
    }
    for (std::size_t i = 0; i < Fields.size(); ++i) {
        if (Fields[i].text)
            continue;
        const auto n = csvNumber((*fields)[i], 0, 1000, Fields[i].optional);
        if (!n) {
            why = std::string("field ") + Fields[i].key + " is not a number";
            return false;
        }
        entry.*Fields[i].number = *n;
    }
    return true;
}

} // namespace

bool ProvisionRecord::parseLine(const std::string &line, Format format, RecordEntry &e,
                                std::string *whyOut)
{
    std::string ignored;
    std::string &why = whyOut ? *whyOut : ignored;
    RecordEntry entry;
    const bool parsed = format == Format::JsonLines ? parseJsonLine(line, entry, why)
                                                    : parseCsvLine(line, entry, why);
    if (!parsed || !validEntry(entry, why))
        return false;
    e = std::move(entry);
    return true;
}

bool ProvisionRecord::parseText(const std::string &text, Format format,
                                std::vector<RecordEntry> &entries, std::string &error,
                                std::size_t &cutLine)
{
    cutLine = 0;
    std::size_t number = 0;
    for (std::size_t start = 0; start < text.size();) {
        ++number;
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            // Cut by a crash while it was written: the entry it was to be never counted.
            cutLine = number;
            break;
        }
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue; // holds nothing, hides nothing
        if (format == Format::Csv && number == 1) {
            if (line != csvHeader()) {
                error = "line 1 is not the record's header (" + csvHeader() + ")";
                return false;
            }
            continue;
        }
        RecordEntry entry;
        std::string why;
        if (!parseLine(line, format, entry, &why)) {
            error = "line " + std::to_string(number) + ": " + why;
            return false;
        }
        entries.push_back(std::move(entry));
    }
    return true;
}

ProvisionRecord::OpenOutcome ProvisionRecord::open(const std::string &path, FileServices &files,
                                                   std::string &error, std::string &notice)
{
    if (path.empty())
        return OpenOutcome::Opened;
    m_format = formatFor(path);
    m_path = path;
    m_filePath = filePath(path);
    m_files = &files;
    const std::string name = "the record " + escapeControls(path, Backslash::AsIs);

    std::error_code ec;
    const bool existed = std::filesystem::exists(m_filePath, ec);
    bool heldElsewhere = false;
    std::string why;
    m_lock = files.lockFile(m_filePath, heldElsewhere, why);
    if (!m_lock) {
        error = heldElsewhere ? name + " is in use by another qmrctl run (one run per record; "
                                       "two stations need two records)"
                              : name + ": " + why;
        return heldElsewhere ? OpenOutcome::Held : OpenOutcome::Unusable;
    }
    if (!existed && !files.persistDirectory(m_filePath, why)) {
        error = name + ": its directory cannot be synced: " + why;
        return OpenOutcome::Unusable;
    }

    std::string text;
    if (!readWhole(text)) {
        error = name + " cannot be read: " + systemReason();
        return OpenOutcome::Unusable;
    }
    std::size_t cutLine = 0;
    if (!parseText(text, m_format, m_entries, why, cutLine)) {
        error = name + ", " + why + ": nothing was sent; mend or move the record";
        m_entries.clear();
        return OpenOutcome::Unusable;
    }
    if (cutLine > 0 && !setAsideCutLine(text, cutLine, name, error, notice))
        return OpenOutcome::Unusable;

    errno = 0;
    m_file.open(m_filePath, std::ios::binary | std::ios::app);
    if (!m_file) {
        error = name + " cannot be written: " + systemReason();
        return OpenOutcome::Unusable;
    }
    std::string start;
    if (text.empty() && m_format == Format::Csv)
        start += csvHeader() + '\n';
    if (!start.empty()) {
        errno = 0;
        m_file << start;
        m_file.flush();
        if (!m_file || !files.persist(m_filePath, why)) {
            error = name + " cannot be written: " + (m_file ? why : systemReason());
            m_file.close();
            return OpenOutcome::Unusable;
        }
    }
    return OpenOutcome::Opened;
}

bool ProvisionRecord::readWhole(std::string &text) const
{
    errno = 0;
    std::ifstream in(m_filePath, std::ios::binary);
    std::array<char, 65536> buffer;
    while (in && (in.read(buffer.data(), buffer.size()) || in.gcount() > 0))
        text.append(buffer.data(), std::size_t(in.gcount()));
    return in.is_open() && !in.bad();
}

bool ProvisionRecord::setAsideCutLine(std::string &text, std::size_t cutLine,
                                      const std::string &name, std::string &error,
                                      std::string &notice)
{
    // The entry it was to be was never made durable, so nothing was sent on its strength: its
    // bytes are kept beside the record and the record ends with its last whole line.
    const std::size_t whole = text.rfind('\n') + 1; // npos + 1 is 0: no whole line
    const std::string cutPath = m_path + ".cut";
    std::string why;
    errno = 0;
    std::ofstream aside(filePath(cutPath), std::ios::binary | std::ios::app);
    aside << text.substr(whole) << '\n';
    aside.flush();
    std::error_code ec;
    if (!aside || !m_files->persist(filePath(cutPath), why) ||
        (std::filesystem::resize_file(m_filePath, whole, ec), ec)) {
        error = name + ": its last line has no line end and cannot be set aside in " +
                escapeControls(cutPath, Backslash::AsIs) + ": " +
                (ec      ? ec.message()
                 : aside ? why
                         : systemReason());
        return false;
    }
    text.resize(whole);
    notice = name + ": line " + std::to_string(cutLine) +
             " has no line end (cut short by a crash): set aside in " +
             escapeControls(cutPath, Backslash::AsIs);
    return true;
}

int ProvisionRecord::highestId() const
{
    int highest = 0;
    for (const RecordEntry &e : m_entries)
        highest = std::max({highest, e.id1, e.id2});
    return highest;
}

const RecordEntry *ProvisionRecord::lastEntryOf(const std::string &serial1,
                                                const std::string &serial2) const
{
    for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
        if (it->serial1 == serial1 && it->serial2 == serial2)
            return &*it;
    }
    return nullptr;
}

bool ProvisionRecord::append(const RecordEntry &entry, std::string &error)
{
    if (!m_file.is_open()) {
        m_entries.push_back(entry);
        return true;
    }
    const std::string name = "the record " + escapeControls(m_path, Backslash::AsIs);
    errno = 0;
    m_file << formatLine(entry, m_format) << '\n';
    m_file.flush();
    if (!m_file) {
        error = name + " cannot be written: " + systemReason();
        return false;
    }
    // The entry counts (its IDs are taken) from the moment it may be in the file.
    m_entries.push_back(entry);
    // The IDs a module is about to get must be on the disk before the first command sets
    // them, or a power cut could hand them out again.
    std::string why;
    if (!m_files->persist(m_filePath, why)) {
        error = name + " cannot be synced to the disk: " + why;
        return false;
    }
    return true;
}

} // namespace qmr
