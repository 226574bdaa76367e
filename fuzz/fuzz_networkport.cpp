// The network serial port fed whatever a server may send: the first input byte picks RFC 2217
// or raw TCP (bit 0), the size of each chunk the server sends (bits 1 to 4, 1 to 16 bytes)
// and whether it closes the connection at the end or falls silent (bit 5); the rest is the
// server's bytes. Whatever comes, open, every command and close return within their limits in
// fake time, and the reply state stays inside its buffer.

#include "link/link.h"
#include "link/networkport.h"
#include "link/portmap.h"
#include "sim/fakeclock.h"

#include "require.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

using namespace qmr;

namespace {

class FuzzSocket : public StreamSocket
{
public:
    FuzzSocket(FakeClock &clock, std::string stream, std::size_t chunk, bool closes)
        : m_clock(clock), m_stream(std::move(stream)), m_chunk(chunk), m_closes(closes)
    {
    }
    bool connect(const std::string &, std::uint16_t, std::uint32_t) override { return true; }
    bool send(const char *, std::size_t) override { return !m_closed; }
    std::int64_t receive(char *buffer, std::size_t size, std::uint32_t timeoutMs) override
    {
        // Every call costs at least a millisecond, as a read of the real port does at the least.
        if (m_closed) {
            m_clock.advance(1);
            return -1;
        }
        if (m_at >= m_stream.size()) {
            if (m_closes) {
                m_closed = true;
                return -1;
            }
            m_clock.advance(int(std::max<std::uint32_t>(timeoutMs, 1)));
            return 0;
        }
        const std::size_t n = std::min({size, m_chunk, m_stream.size() - m_at});
        std::memcpy(buffer, m_stream.data() + m_at, n);
        m_at += n;
        m_clock.advance(0);
        return std::int64_t(n);
    }
    void close() override {}
    Error error() const override { return m_closed ? Error::Closed : Error::NoError; }
    std::string errorString() const override { return m_closed ? "closed" : ""; }

private:
    FakeClock &m_clock;
    std::string m_stream;
    std::size_t m_chunk;
    bool m_closes;
    std::size_t m_at = 0;
    bool m_closed = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const bool raw = data[0] & 1;
    const std::size_t chunk = 1 + ((data[0] >> 1) & 0x0F);
    const bool closes = data[0] & 0x20;
    FakeClock clock(0xFFFFF000u);
    auto socket = std::make_unique<FuzzSocket>(
        clock, std::string(reinterpret_cast<const char *>(data + 1), size - 1), chunk, closes);
    NetworkPort port(clock, std::move(socket));
    const FixedPortMap map({{1, raw ? "tcp://127.0.0.1:4001" : "rfc2217://127.0.0.1:4001"}});
    Link link(port, clock, map);

    std::uint32_t start = clock.milliseconds();
    const bool opened = link.ComOpen(1, "57600,e,8,1");
    // Connecting and negotiating, then confirming the line: each within its limit. The input
    // can feed at most a few bytes per fake millisecond, so the bound holds whatever it is.
    require(clock.milliseconds() - start <=
            NetworkPort::ConnectLimitMs + NetworkPort::LineSettingLimitMs + 100);
    if (!opened) {
        require(!port.isOpen());
        return 0;
    }
    for (int command = 0; command < 3; ++command) {
        start = clock.milliseconds();
        link.SendCommand("A00M");
        require(clock.milliseconds() - start <=
                Link::FramePauseMs + Link::ReplyStreamLimitMs + 256 + 2);
        require(link.ReplyLength >= 0 && link.ReplyLength < Link::ReplyBufferSize);
    }
    link.ComClose();
    require(!port.isOpen());
    return 0;
}
