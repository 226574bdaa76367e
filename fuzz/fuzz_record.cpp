// The provisioning record's reader on arbitrary text, in memory, in both formats: what it
// takes, written again, reads back as the same entries and is written the same; what it
// refuses it names by line. A record is read whole or not at all.

#include "cli/provisionrecord.h"

#include "require.h"

#include <cstdint>
#include <string>
#include <vector>

using namespace qmr;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);
    for (const auto format : {ProvisionRecord::Format::JsonLines, ProvisionRecord::Format::Csv}) {
        // One line.
        RecordEntry entry;
        std::string why;
        if (ProvisionRecord::parseLine(input, format, entry, &why)) {
            const std::string line = ProvisionRecord::formatLine(entry, format);
            require(line.find('\n') == std::string::npos && line.find('\r') == std::string::npos);
            RecordEntry back;
            require(ProvisionRecord::parseLine(line, format, back));
            require(back == entry);
            require(ProvisionRecord::formatLine(back, format) == line);
        } else {
            require(!why.empty());
        }

        // A whole record.
        std::vector<RecordEntry> entries;
        std::string error;
        std::size_t cutLine = 0;
        if (!ProvisionRecord::parseText(input, format, entries, error, cutLine)) {
            require(error.rfind("line ", 0) == 0);
            continue;
        }
        require(cutLine == 0 || input.back() != '\n');
        std::string text = format == ProvisionRecord::Format::Csv && !entries.empty()
                               ? ProvisionRecord::csvHeader() + '\n'
                               : std::string();
        for (const RecordEntry &e : entries)
            text += ProvisionRecord::formatLine(e, format) + '\n';
        std::vector<RecordEntry> again;
        std::size_t againCut = 0;
        require(ProvisionRecord::parseText(text, format, again, error, againCut));
        require(again == entries && againCut == 0);
    }
    return 0;
}
