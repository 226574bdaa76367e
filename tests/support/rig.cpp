#include "rig.h"

#include "link/linedefinition.h"
#include "operations/scan.h"

#include <algorithm>
#include <map>

namespace qmr {

namespace {

std::map<int, std::string> sixteenPorts()
{
    std::map<int, std::string> devices;
    for (int com = 1; com <= 16; ++com)
        devices.emplace(com, Rig::device(com));
    return devices;
}

} // namespace

std::string InterceptingPort::replyFrame(std::string_view text)
{
    std::uint8_t check = 0x0A;
    for (char c : text)
        check ^= std::uint8_t(c);
    return '\x0A' + std::string(text) + Link::checkDigits(check) + '\x0D';
}

bool InterceptingPort::open(const std::string &device)
{
    m_refused = refuse && refuse(device);
    if (m_refused)
        return false;
    return m_inner.open(device);
}

// Collects the writes of one frame and decides its fate once its end byte comes.
std::int64_t InterceptingPort::write(const char *data, std::int64_t count)
{
    m_chunks.emplace_back(data, std::size_t(count));
    if (count == 0 || data[count - 1] != '\x0D')
        return count;
    const std::vector<std::string> chunks = std::move(m_chunks);
    m_chunks.clear();
    std::string frame;
    for (const std::string &chunk : chunks)
        frame += chunk;
    // 0x09, the text, two check digits, 0x0D.
    const std::string command = frame.size() >= 4 ? frame.substr(1, frame.size() - 4) : "";
    sent.push_back(command);
    if (onCommand)
        onCommand(command);
    const Response response = script ? script(command) : Response{};
    switch (response.action) {
    case Action::Pass:
        for (const std::string &chunk : chunks)
            m_inner.write(chunk.data(), std::int64_t(chunk.size()));
        break;
    case Action::Silence:
        break;
    case Action::Reply:
        m_inner.inject(replyFrame(response.replyText), m_clock.milliseconds());
        break;
    }
    return count;
}

Rig::Rig() : map(sixteenPorts()), link(port, clock, map), ctx{link, clock, settings, store, view} {}

void Rig::remember(int com, int lineIndex)
{
    settings.ScanCommNo = com;
    settings.ScanBaudRateNo = lineIndex;
    settings.ScanBaudRate = BaudRateTable[std::size_t(lineIndex)];
}

bool Rig::scanned()
{
    addModule(3, module);
    remember(3, module.config().lineIndex);
    const bool ok = RunScan(ctx).ok() && ctx.ScanOk;
    clearRecords();
    return ok;
}

void Rig::clearRecords()
{
    view.clearRecords();
    port.sent.clear();
    clock.clearSleeps();
    store.clearRecords();
}

int Rig::sleepsOf(int ms) const
{
    return int(std::count(clock.sleeps().begin(), clock.sleeps().end(), ms));
}

} // namespace qmr
