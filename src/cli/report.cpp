#include "report.h"

#include "fileservices.h"
#include "frametrace.h"
#include "link/commands.h"
#include "portstatus.h"
#include "terminaltext.h"

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

namespace qmr {

namespace {

using nlohmann::json;

constexpr int ComNumbers = 16;

json systemJson()
{
#if defined(_WIN32)
    const char *os = "Windows";
#elif defined(__linux__)
    const char *os = "Linux";
#else
    const char *os = "Unix";
#endif
#if defined(__x86_64__) || defined(_M_X64)
    const char *arch = "x86_64";
#elif defined(__aarch64__) || defined(_M_ARM64)
    const char *arch = "aarch64";
#elif defined(__i386__) || defined(_M_IX86)
    const char *arch = "x86";
#else
    const char *arch = "other";
#endif
    json system{{"os", os}, {"architecture", arch}};
    // The distribution, where the system names it in the usual place.
    std::ifstream release("/etc/os-release");
    for (std::string line; std::getline(release, line);) {
        if (line.starts_with("PRETTY_NAME=")) {
            std::string name = line.substr(12);
            if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
                name = name.substr(1, name.size() - 2);
            system["release"] = name;
        }
    }
    return system;
}

// "A00M" at one port and line, as the scan's search asks it, with its frames.
json tryLine(ModuleContext &ctx, int com, int lineNo)
{
    json entry{{"com", com}, {"line", BaudRateTable[std::size_t(lineNo)]}};
    std::vector<std::string> lines;
    FrameTrace trace([&lines](const std::string &line) { lines.push_back(line); }, std::string(),
                     ctx.clock.milliseconds());
    ctx.link.setFrameObserver([&](FrameEvent event, std::string_view bytes) {
        trace.frame(event, bytes, ctx.clock.milliseconds());
    });
    bool answered = false;
    if (!ctx.link.ComOpen(com, BaudRateTable[std::size_t(lineNo)])) {
        entry["opened"] = false;
        entry["reason"] = ctx.link.lastOpenErrorString();
    } else {
        entry["opened"] = true;
        for (int attempt = 0; attempt < 2 && !answered; ++attempt) {
            answered = ctx.link.SendCommand(Command::readFirstReader()) &&
                       ctx.link.ReplyLength == Reply::ReaderReplyLength;
        }
        ctx.link.ComClose();
    }
    trace.flush();
    ctx.link.setFrameObserver({});
    entry["answered"] = answered;
    json frames = json::array();
    for (std::string &line : lines) {
        while (!line.empty() && line.back() == '\n')
            line.pop_back();
        frames.push_back(escapeControls(line, Backslash::AsIs));
    }
    entry["frames"] = frames;
    return entry;
}

} // namespace

int runReport(const std::string &file, ModuleContext &ctx, std::ostream &out, std::ostream &err)
{
    const std::uint32_t start = ctx.clock.milliseconds();
    const Settings &s = ctx.settings;
    json report{
        {"tool", {{"name", "qmrctl"}, {"version", QMR_VERSION}}},
        {"system", systemJson()},
        {"time", localTimeStamp(TimePrecision::Seconds)},
        {"settings",
         {{"ScanCommNo", s.ScanCommNo},
          {"ScanBaudRate", escapeControls(s.ScanBaudRate, Backslash::AsIs)},
          {"ScanBaudRateNo", s.ScanBaudRateNo},
          {"LanguageFlag", escapeControls(s.LanguageFlag, Backslash::AsIs)}}},
    };
    json ports = json::array();
    json sweep = json::array();
    for (int com = 1; com <= ComNumbers; ++com) {
        const PortStatus port = probePort(ctx.link, com);
        ports.push_back(portStatusJson(port, com == s.ScanCommNo));
        if (!port.openable)
            continue; // missing, or held by another program: not touched
        for (int lineNo = 0; lineNo < int(BaudRateTable.size()); ++lineNo) {
            json entry = tryLine(ctx, com, lineNo);
            const bool opened = entry["opened"].get<bool>();
            sweep.push_back(std::move(entry));
            if (!opened)
                break;
        }
    }
    report["ports"] = ports;
    report["sweep"] = sweep;
    const double seconds = (ctx.clock.milliseconds() - start) / 1000.0;
    report["seconds"] = seconds;

    std::ofstream stream(filePath(file), std::ios::binary | std::ios::trunc);
    stream << report.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
    stream.close();
    if (!stream) {
        err << "qmrctl: cannot write the report to " << escapeControls(file, Backslash::AsIs)
            << '\n';
        return 1;
    }
    char took[32];
    std::snprintf(took, sizeof took, "%.1f s", seconds);
    out << "qmrctl: report written to " << escapeControls(file, Backslash::AsIs) << " (took "
        << took << ")\n"
        << std::flush;
    return 0;
}

} // namespace qmr
