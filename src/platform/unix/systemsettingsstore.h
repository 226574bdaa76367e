#pragma once

#include "settings/initext.h"
#include "settings/settingsstore.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace qmr {

// The settings in a per-user INI file, by default $XDG_CONFIG_HOME/TAVEX/QMRConfig.conf
// (~/.config/TAVEX/QMRConfig.conf when XDG_CONFIG_HOME is unset, empty or not absolute).
//
//   [QMRConfig]            the four remembered values
//   ScanCommNo=3           decimal 32-bit integer: optional sign and digits, nothing else
//   ScanBaudRate=19200,e,8,1
//   ScanBaudRateNo=5
//   LanguageFlag=ChineseGB
//   [Ports]                COM number -> device; an empty value means "no such port"
//   COM3=/dev/ttyUSB0
//
// A value is everything after the first '=' of its line, blanks included, so "ScanCommNo= 3"
// holds a text, not an integer, and ends the load like a value of the wrong type. A text is
// taken as written unless it is enclosed in double quotes; then \\, \", \n, \r, \t and \xHH
// are decoded. Texts that would not survive the plain form (leading or trailing blanks,
// control characters, a leading quote) are written quoted. Keys and group names are
// case-sensitive; the first occurrence of a key counts. Lines that are neither blank, a
// comment ('#' or ';'), a [group] nor key=value, and lines that are not valid UTF-8 or hold
// control characters, are not read, and a save keeps them byte for byte. Only the first
// MaxFileBytes of the file are read, and a larger file is never rewritten (the save fails with
// lastError set), so nothing beyond is ever cut. The text itself is read and written by
// IniText (initext.h); this class deals with the file.
//
// Like a registry key opened with full access: when the file exists but this user could not
// replace it (the file or its directory is not writable), nothing is read and nothing is
// written. Saves re-read the file, change only the lines of the values saved (appending
// missing keys to the group, creating the group, the file and its directories if needed) and
// replace the file atomically, so every other line survives and a crash never leaves it half
// written. Two programs saving at once take turns through a lock file beside it.
class SystemSettingsStore : public SettingsStore
{
public:
    static constexpr std::int64_t MaxFileBytes = 1024 * 1024;

    // filePath: the file to use (in the file system's encoding); empty for the per-user default.
    explicit SystemSettingsStore(std::string filePath = {});

    static std::string defaultFilePath();
    const std::string &filePath() const { return m_filePath; }

    bool beginLoad() override;
    ReadResult readInt(std::string_view name, std::int32_t &value) override;
    ReadResult readText(std::string_view name, std::string &value) override;
    void endLoad() override;
    void write(const std::vector<NamedValue> &values) override;

    // The [Ports] group: COM number -> device path (an empty path means "no such port").
    // Only read, never written: a file this user may not replace still names the ports.
    std::map<int, std::string> portAssignments() const;

    // Why the last load or save did not complete; empty after one that did. Never shown.
    const std::string &lastError() const { return m_lastError; }

    // Test seam: runs after the new contents are in the temporary file, before it replaces
    // the old one.
    void setBeforeReplaceHook(std::function<void()> hook) { m_beforeReplace = std::move(hook); }

private:
    bool mayReplaceFile(std::string &reason) const;
    // The file's text (its first MaxFileBytes), or nothing with reason set.
    std::optional<IniText> readFile(std::string &reason) const;

    std::string m_filePath;
    mutable std::string m_lastError;
    std::function<void()> m_beforeReplace;
    std::optional<IniText> m_loading; // the text being loaded, between beginLoad and endLoad
};

} // namespace qmr
