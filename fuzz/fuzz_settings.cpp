// The INI settings text on arbitrary contents, all in memory: parse, load, save the scan
// settings and the language, serialize, re-parse. Parsing must be stable, every line it reads
// well-formed, what was saved must read back, every other line must survive byte for byte
// (also those it does not read), and a second save of the same values must not change the
// text again.

#include "settings/initext.h"

#include "require.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using namespace qmr;

namespace {

constexpr char ControlsButTabAndNul[] = "\x01\x02\x03\x04\x05\x06\x07\x08\x0A\x0B\x0C\x0D\x0E\x0F"
                                        "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1A\x1B\x1C\x1D"
                                        "\x1E\x1F\x7F";

// What a parser reads must make sense on its own (the lines it does not read are kept as
// they came).
void requireSaneLines(const std::vector<ini::Line> &lines)
{
    for (const ini::Line &line : lines) {
        if (line.kind() == ini::LineKind::Other)
            continue;
        std::string text = line.text();
        if (!text.empty() && text.back() == '\r') // the line end of a CRLF file, kept
            text.pop_back();
        require(ini::isValidUtf8(text));
        // No control character but tab (libc scans faster than an instrumented loop).
        require(std::memchr(text.data(), '\0', text.size()) == nullptr);
        require(std::strpbrk(text.c_str(), ControlsButTabAndNul) == nullptr);
        if (line.kind() == ini::LineKind::Entry) {
            const std::string_view name = line.name();
            const std::string_view value = line.value();
            require(!name.empty() && ini::trim(name) == name);
            require(text.size() > value.size());
            require(std::string_view(text).substr(text.size() - value.size()) == value);
        }
        if (line.kind() == ini::LineKind::Blank)
            require(ini::trim(text).empty());
    }
}

// The first count lines of a and b are the same.
bool sameLines(const std::vector<ini::Line> &a, const std::vector<ini::Line> &b, std::size_t count)
{
    if (a.size() < count || b.size() < count)
        return false;
    const ini::Line *x = a.data();
    const ini::Line *y = b.data();
    for (const ini::Line *end = x + count; x != end; ++x, ++y) {
        if (x->kind() != y->kind() || x->text() != y->text() || x->name() != y->name() ||
            x->value() != y->value() || x->group() != y->group())
            return false;
    }
    return true;
}

bool sameLines(const std::vector<ini::Line> &a, const std::vector<ini::Line> &b)
{
    return a.size() == b.size() && sameLines(a, b, a.size());
}

// 0..3 for the remembered values, 4 for any other key.
std::size_t keyIndex(std::string_view name)
{
    const std::array<std::string_view, 4> keys{ScanCommNoName, ScanBaudRateName, ScanBaudRateNoName,
                                               LanguageFlagName};
    std::size_t i = 0;
    while (i < keys.size() && keys[i] != name)
        ++i;
    return i;
}

// Calls visit with every line but the ones a save may change (the first of each remembered
// value in [QMRConfig]).
template <typename Visit>
void forEachSurvivor(const std::vector<ini::Line> &lines, std::size_t count, Visit visit)
{
    std::array<bool, 4> seen{};
    for (std::size_t i = 0; i < count; ++i) {
        const ini::Line &line = lines[i];
        if (line.kind() == ini::LineKind::Entry && line.group() == ini::SettingsGroup) {
            const std::size_t key = keyIndex(line.name());
            if (key < seen.size() && !seen[key]) {
                seen[key] = true;
                continue;
            }
        }
        visit(line);
    }
}

constexpr std::string_view TextEnd("\0", 1);

// The lines a save must leave alone, each as its text and group, in one string.
std::string survivors(const std::vector<ini::Line> &lines, std::size_t count)
{
    std::size_t size = 0;
    forEachSurvivor(lines, count, [&](const ini::Line &line) {
        size += line.text().size() + line.group().size() + 2;
    });
    std::string out;
    out.reserve(size);
    forEachSurvivor(lines, count, [&](const ini::Line &line) {
        out.append(line.text()).append(TextEnd).append(line.group()).append(1, '\n');
    });
    return out;
}

bool takePrefix(std::string_view &rest, std::string_view part)
{
    if (!rest.starts_with(part))
        return false;
    rest.remove_prefix(part.size());
    return true;
}

// survivors(lines, count) == was, compared in place instead of built again.
bool sameSurvivors(const std::vector<ini::Line> &lines, std::size_t count, std::string_view was)
{
    bool same = true;
    forEachSurvivor(lines, count, [&](const ini::Line &line) {
        same = same && takePrefix(was, line.text()) && takePrefix(was, TextEnd) &&
               takePrefix(was, line.group()) && takePrefix(was, "\n");
    });
    return same && was.empty();
}

// A text read back must be the one saved; broken UTF-8 is saved as something readable.
void requireTextReadBack(const std::string &saved, const std::string &loaded)
{
    if (ini::isValidUtf8(saved))
        require(loaded == saved);
    else
        require(ini::isValidUtf8(loaded));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);

    IniText text(input);
    // A cut-off text leaves out exactly its unfinished last line (whether a line is kept does
    // not depend on the lines before it).
    const std::size_t lastBreak = input.rfind('\n');
    const std::string_view tail =
        lastBreak == std::string_view::npos ? input : input.substr(lastBreak + 1);
    if (!tail.empty()) {
        const std::size_t tailLines = ini::parse(tail).size();
        require(tailLines <= 1 && tailLines <= text.lines().size());
        const IniText cut(input, true);
        require(cut.lines().size() == text.lines().size() - tailLines);
        require(sameLines(cut.lines(), text.lines(), cut.lines().size()));
    }
    // What a save must leave alone.
    const std::size_t lineCount = text.lines().size();
    const std::string was = survivors(text.lines(), lineCount);
    bool hadGroup = false;
    for (const ini::Line &line : text.lines())
        hadGroup =
            hadGroup || (line.kind() == ini::LineKind::Group && line.name() == ini::SettingsGroup);
    const bool endsBlank =
        text.lines().empty() || text.lines().back().kind() == ini::LineKind::Blank;
    const std::map<int, std::string> ports = text.portAssignments();

    Settings loaded;
    LoadSettings(text, loaded);
    require(loaded.LanguageIndex == languageIndexForFlag(loaded.LanguageFlag));
    for (const auto &[number, device] : ports) {
        require(number >= 1);
        require(ini::trim(device) == device);
    }

    // Values as a scan would leave them; the texts are slices of the input, so odd bytes are
    // saved too.
    Settings saved = loaded;
    saved.ScanCommNo = size > 0 ? int(data[0]) - 100 : 3;
    saved.ScanBaudRateNo = size > 1 ? int(int8_t(data[1])) : 5;
    const std::size_t baudLength = size > 2 ? data[2] % 41 : 0;
    saved.ScanBaudRate = std::string(input.substr(std::min<std::size_t>(3, size), baudLength));
    saved.LanguageFlag = std::string(input.substr(std::min<std::size_t>(3 + baudLength, size), 40));

    SaveScanSettings(text, saved);
    SaveLanguage(text, saved);
    const std::string written = text.bytes();
    require(written.empty() || written.back() == '\n');

    // Parsing what was serialized gives the same lines, and those it reads make sense: so the
    // quoted texts in it are well-formed UTF-8 without control characters.
    IniText again(written);
    require(sameLines(again.lines(), text.lines()));
    requireSaneLines(again.lines());
    Settings reread;
    LoadSettings(again, reread);
    require(reread.ScanCommNo == saved.ScanCommNo);
    require(reread.ScanBaudRateNo == saved.ScanBaudRateNo);
    requireTextReadBack(saved.ScanBaudRate, reread.ScanBaudRate);
    requireTextReadBack(saved.LanguageFlag, reread.LanguageFlag);
    require(reread.LanguageIndex == languageIndexForFlag(reread.LanguageFlag));
    require(again.portAssignments() == ports);

    // Every other line survives, in order; without a [QMRConfig] the save appends one, after
    // a blank line when the text did not end with one.
    std::size_t keptLines = again.lines().size();
    if (!hadGroup) {
        keptLines = lineCount;
        const std::size_t group = lineCount + (endsBlank ? 0 : 1);
        require(again.lines().size() == group + 5 && again.lines()[group].text() == "[QMRConfig]");
        if (!endsBlank)
            require(again.lines()[lineCount].kind() == ini::LineKind::Blank &&
                    again.lines()[lineCount].text().empty());
    }
    require(sameSurvivors(again.lines(), keptLines, was));

    // Saving the same values again changes nothing.
    SaveScanSettings(again, reread);
    SaveLanguage(again, reread);
    require(again.bytes() == written);
    return 0;
}
