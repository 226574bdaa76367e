#include "provisionrecord.h"

#include "link/decimal.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <sstream>

namespace qmr {

namespace {

using nlohmann::json;

constexpr std::array<const char *, 14> CsvColumns = {
    "time", "port", "serial1", "serial2", "version", "id1_before", "id2_before",
    "id1",  "id2",  "mode",    "rs485",   "line",    "outcome",    "error"};

std::string csvField(const std::string &text)
{
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

// The fields of one CSV line; nothing when a quoted field is not closed (a cut line).
std::optional<std::vector<std::string>> csvFields(const std::string &line)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    if (quoted)
        return std::nullopt;
    return fields;
}

int idNumber(const std::string &text)
{
    return int(parseDecimal(text, 0, 99).value_or(0));
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
    for (const char *column : CsvColumns)
        header += std::string(header.empty() ? "" : ",") + column;
    return header;
}

std::string ProvisionRecord::formatLine(const RecordEntry &e, Format format)
{
    if (format == Format::JsonLines) {
        json j{{"time", e.time},
               {"port", e.port},
               {"serial1", e.serial1},
               {"serial2", e.serial2},
               {"version", e.version},
               {"id1Before", e.id1Before},
               {"id2Before", e.id2Before},
               {"id1", e.id1},
               {"id2", e.id2 > 0 ? json(e.id2) : json()},
               {"mode", e.mode},
               {"rs485", e.rs485},
               {"line", e.line},
               {"outcome", e.outcome}};
        if (!e.error.empty())
            j["error"] = e.error;
        return j.dump(-1, ' ', false, json::error_handler_t::replace);
    }
    const std::array<std::string, 14> fields = {e.time,
                                                e.port,
                                                e.serial1,
                                                e.serial2,
                                                e.version,
                                                e.id1Before,
                                                e.id2Before,
                                                std::to_string(e.id1),
                                                e.id2 > 0 ? std::to_string(e.id2) : "",
                                                e.mode,
                                                std::to_string(e.rs485),
                                                e.line,
                                                e.outcome,
                                                e.error};
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i)
        line += (i ? "," : "") + csvField(fields[i]);
    return line;
}

bool ProvisionRecord::parseLine(const std::string &line, Format format, RecordEntry &e)
{
    if (format == Format::JsonLines) {
        const json j = json::parse(line, nullptr, false);
        if (!j.is_object() || !j.contains("outcome") || !j.contains("id1"))
            return false;
        auto text = [&j](const char *key) {
            const auto it = j.find(key);
            return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
        };
        auto number = [&j](const char *key) {
            const auto it = j.find(key);
            return it != j.end() && it->is_number_integer() ? it->get<int>() : 0;
        };
        e = RecordEntry{text("time"),    text("port"),      text("serial1"),   text("serial2"),
                        text("version"), text("id1Before"), text("id2Before"), number("id1"),
                        number("id2"),   text("mode"),      number("rs485"),   text("line"),
                        text("outcome"), text("error")};
        return true;
    }
    const auto fields = csvFields(line);
    if (!fields || fields->size() != CsvColumns.size() || (*fields)[0] == CsvColumns[0])
        return false;
    const std::vector<std::string> &f = *fields;
    e = RecordEntry{f[0],
                    f[1],
                    f[2],
                    f[3],
                    f[4],
                    f[5],
                    f[6],
                    idNumber(f[7]),
                    idNumber(f[8]),
                    f[9],
                    int(parseDecimal(f[10], 0, 99).value_or(0)),
                    f[11],
                    f[12],
                    f[13]};
    return true;
}

bool ProvisionRecord::open(const std::string &path, std::string &error)
{
    if (path.empty())
        return true;
    m_format = formatFor(path);
    bool endsWithNewline = true;
    bool empty = true;
    {
        std::ifstream in(path, std::ios::binary);
        if (in) {
            std::stringstream content;
            content << in.rdbuf();
            const std::string text = content.str();
            empty = text.empty();
            endsWithNewline = empty || text.back() == '\n';
            std::istringstream lines(text);
            for (std::string line; std::getline(lines, line);) {
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                RecordEntry entry;
                if (parseLine(line, m_format, entry))
                    m_entries.push_back(std::move(entry));
            }
        }
    }
    m_path = path;
    m_file.open(path, std::ios::binary | std::ios::app);
    if (!m_file) {
        error = "cannot write the record " + path;
        return false;
    }
    // A line cut short by a crash stays as it is; what follows starts on a line of its own.
    if (!endsWithNewline)
        m_file << '\n';
    if (empty && m_format == Format::Csv)
        m_file << csvHeader() << '\n';
    m_file.flush();
    return bool(m_file);
}

int ProvisionRecord::highestId() const
{
    int highest = 0;
    for (const RecordEntry &e : m_entries)
        highest = std::max({highest, e.id1, e.id2});
    return highest;
}

bool ProvisionRecord::contains(const std::string &serial1, const std::string &serial2) const
{
    return std::any_of(m_entries.begin(), m_entries.end(), [&](const RecordEntry &e) {
        return e.serial1 == serial1 && e.serial2 == serial2;
    });
}

bool ProvisionRecord::append(const RecordEntry &entry)
{
    m_entries.push_back(entry);
    if (!m_file.is_open())
        return true;
    m_file << formatLine(entry, m_format) << '\n';
    m_file.flush();
    if (!m_file)
        return false;
    // The IDs a module is about to get must be on the disk before the first command sets
    // them, or a power cut could hand them out again.
    if (m_persist)
        m_persist(m_path);
    return true;
}

} // namespace qmr
