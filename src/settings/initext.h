#pragma once

#include "settings/settingsstore.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qmr {

// The text of the INI settings file, read and written in memory (the file format is described
// at SystemSettingsStore). Standard C++ only, so it is fuzzed and tested without any file.
namespace ini {

inline constexpr std::string_view SettingsGroup = "QMRConfig";
inline constexpr std::string_view PortsGroup = "Ports";

enum class LineKind
{
    Blank,
    Comment,
    Group,
    Entry,
    Other, // not understood (no key and '=', broken UTF-8, control bytes): kept as it is
};

// One line of the file. The name and the value are views into the line's text and the lines
// of a group share its name, so a line costs one string: parsing runs over every settings read.
class Line
{
public:
    // name is text.substr(nameAt, nameSize) and value text.substr(valueAt) (an empty value
    // when valueAt is text.size()); group is the group the line lies in (null before the first
    // group).
    // The value ends at valueEnd (the line's end by default: a line read from a CRLF file keeps
    // its CR in the text, after the value).
    Line(LineKind kind, std::string text, std::shared_ptr<const std::string> group,
         std::size_t nameAt = 0, std::size_t nameSize = 0, std::size_t valueAt = NoValue,
         std::size_t valueEnd = NoValue)
        : m_text(std::move(text)), m_group(std::move(group)), m_nameAt(nameAt),
          m_nameSize(nameSize), m_valueEnd(valueEnd == NoValue ? m_text.size() : valueEnd),
          m_valueAt(valueAt == NoValue ? m_valueEnd : valueAt), m_kind(kind)
    {
    }

    LineKind kind() const { return m_kind; }
    // The whole line as it stands in the file, without its line feed.
    const std::string &text() const { return m_text; }
    // Group name or key.
    std::string_view name() const { return {m_text.data() + m_nameAt, m_nameSize}; }
    // Entry only: everything after the first '='.
    std::string_view value() const { return {m_text.data() + m_valueAt, m_valueEnd - m_valueAt}; }
    // The group the line lies in (empty before the first group).
    std::string_view group() const
    {
        return m_group ? std::string_view(*m_group) : std::string_view();
    }
    const std::shared_ptr<const std::string> &sharedGroup() const { return m_group; }

private:
    static constexpr std::size_t NoValue = std::size_t(-1);

    std::string m_text;
    std::shared_ptr<const std::string> m_group;
    std::size_t m_nameAt;
    std::size_t m_nameSize;
    std::size_t m_valueEnd;
    std::size_t m_valueAt;
    LineKind m_kind;
};

// Splits file contents into lines. Every line is kept byte for byte (a CR before the line feed
// too), so a save changes only the lines it writes; a line with broken UTF-8 or control
// characters, or without a key and '=', is Other and never read (one that looks like a group
// header still opens a group, whose name matches none). Byte order marks at a line's start are
// dropped. truncated: bytes are only the start of the file, so their cut-off last line is left
// out.
std::vector<Line> parse(std::string_view bytes, bool truncated = false);
// The first entry key in group, or nullptr.
const Line *findEntry(const std::vector<Line> &lines, std::string_view group, std::string_view key);
// Changes the line of key in group, or adds it after the group's last entry; adds the group at
// the end when there is none. value is written as given (see encodeText).
void setEntry(std::vector<Line> &lines, std::string_view group, std::string_view key,
              std::string_view value);
// The lines as file contents, each ended by '\n'.
std::string serialize(const std::vector<Line> &lines);

// How a text value is written and read back. encodeText takes UTF-8 (an invalid sequence is
// written as U+FFFD) and quotes what would not survive the plain form.
std::string encodeText(std::string_view text);
std::string decodeText(std::string_view value);
// Unicode blanks removed from both ends of UTF-8 text, as the file's reader trims keys.
std::string_view trim(std::string_view text);
// True when text is well-formed UTF-8.
bool isValidUtf8(std::string_view text);

// The [Ports] group: COM number -> device path (an empty path means "no such port").
std::map<int, std::string> portAssignments(const std::vector<Line> &lines);

} // namespace ini

// A settings file's text held in memory and used as a store: loads read the [QMRConfig] group
// (integers as plain decimal numbers, anything else is the wrong type; texts decoded), saves
// change only the lines of the values written.
class IniText : public SettingsStore
{
public:
    IniText() = default;
    explicit IniText(std::string_view bytes, bool truncated = false)
        : m_lines(ini::parse(bytes, truncated))
    {
    }

    const std::vector<ini::Line> &lines() const { return m_lines; }
    std::string bytes() const { return ini::serialize(m_lines); }
    std::map<int, std::string> portAssignments() const { return ini::portAssignments(m_lines); }

    bool beginLoad() override { return true; }
    ReadResult readInt(std::string_view name, std::int32_t &value) override;
    ReadResult readText(std::string_view name, std::string &value) override;
    void write(const std::vector<NamedValue> &values) override;

private:
    std::vector<ini::Line> m_lines;
};

} // namespace qmr
