#include "networkport.h"

#include "deadline.h"
#include "vocabulary/decimal.h"

#include <algorithm>
#include <array>
#include <climits>

namespace qmr {

namespace {

constexpr std::string_view ComPortScheme = "rfc2217://";
constexpr std::string_view RawScheme = "tcp://";

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char p, char t) {
               return p == (t >= 'A' && t <= 'Z' ? char(t - 'A' + 'a') : t);
           });
}

// What the server said before it closed, as one printable line for the error text.
std::string printable(std::string_view bytes)
{
    std::string out;
    for (const char c : bytes.substr(0, 80)) {
        if (c >= 0x20 && c < 0x7F)
            out += c;
        else if (c == '\r' || c == '\n')
            out += ' ';
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

} // namespace

bool isNetworkDevice(std::string_view device)
{
    return startsWithNoCase(device, ComPortScheme) || startsWithNoCase(device, RawScheme);
}

std::optional<NetworkAddress> parseNetworkAddress(std::string_view device)
{
    NetworkAddress address;
    std::string_view rest;
    if (startsWithNoCase(device, ComPortScheme)) {
        rest = device.substr(ComPortScheme.size());
    } else if (startsWithNoCase(device, RawScheme)) {
        address.comPortControl = false;
        rest = device.substr(RawScheme.size());
    } else {
        return std::nullopt;
    }
    // HOST:PORT, the host an IPv6 address in brackets or a name or IPv4 address without ':'.
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    std::string_view host = rest.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    else if (host.find(':') != std::string_view::npos)
        return std::nullopt;
    const bool hostOk = !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '-' || c == ':' || c == '_';
    });
    const auto port = parseDecimal(rest.substr(colon + 1), 1, 65535);
    if (!hostOk || !port)
        return std::nullopt;
    address.host = std::string(host);
    address.port = std::uint16_t(*port);
    return address;
}

NetworkPort::NetworkPort(Clock &clock, std::unique_ptr<StreamSocket> socket)
    : m_clock(clock), m_socket(std::move(socket))
{
}

NetworkPort::~NetworkPort()
{
    close();
}

void NetworkPort::setError(PortError error, std::string text)
{
    m_error = error;
    m_errorString = std::move(text);
}

void NetworkPort::drop()
{
    m_socket->close();
    m_open = false;
    m_data.clear();
    m_dataRead = 0;
}

bool NetworkPort::open(const std::string &device)
{
    if (m_open)
        close();
    setError(PortError::NoError, {});
    const auto address = parseNetworkAddress(device);
    if (!address) {
        setError(PortError::NotFound, device + " is no network port (rfc2217://HOST:PORT or "
                                               "tcp://HOST:PORT)");
        return false;
    }
    m_address = *address;
    m_device = device;
    m_telnet = TelnetSession();
    m_lost = false;
    m_data.clear();
    m_dataRead = 0;

    if (!m_socket->connect(m_address.host, m_address.port, ConnectLimitMs)) {
        // Not NotFound: a scan keeps a named network port's reason over the plain absence of
        // the COM numbers after it.
        setError(PortError::Other, device + ": " + m_socket->errorString());
        m_socket->close();
        return false;
    }
    m_open = true;
    const bool ok = m_address.comPortControl ? negotiate() : settleRaw();
    if (!ok)
        drop();
    return ok;
}

std::string NetworkPort::heldText() const
{
    std::string text = m_device + " is in use by another client";
    const std::string said = printable(m_data);
    if (!said.empty())
        text += " (the server says \"" + said + "\")";
    return text;
}

bool NetworkPort::negotiate()
{
    // The port is ours once the server agreed to COM port control and answered a question
    // about its baud rate. A server that gave the port to another client says so and closes.
    const Deadline limit(m_clock, ConnectLimitMs);
    if (!sendRaw(m_telnet.greeting()))
        return false;
    bool asked = false;
    while (!limit.expired()) {
        if (!asked && m_telnet.comPortAgreed()) {
            if (!sendRaw(m_telnet.baudQuery()))
                return false;
            asked = true;
        }
        if (asked && m_telnet.confirmed().baud) {
            // Bytes before this point are no answer to anything this program sent.
            m_data.clear();
            m_dataRead = 0;
            return true;
        }
        if (m_telnet.comPortRefused()) {
            setError(PortError::NotASerialPort,
                     m_device + ": the server does not take COM port control (RFC 2217); for a "
                                "port at a fixed line setting name it tcp://");
            return false;
        }
        if (pump(std::min<std::uint32_t>(limit.remaining() + 1, 50)) < 0) {
            if (m_error == PortError::Io && m_socket->error() == StreamSocket::Error::Closed)
                setError(PortError::Busy, heldText());
            return false;
        }
    }
    setError(PortError::Other,
             m_device + ": the server did not complete the COM port negotiation within " +
                 std::to_string(ConnectLimitMs) + " ms");
    return false;
}

bool NetworkPort::settleRaw()
{
    const Deadline settle(m_clock, RawSettleMs);
    while (!settle.expired()) {
        if (pump(std::min<std::uint32_t>(settle.remaining() + 1, 20)) < 0) {
            if (m_error == PortError::Io && m_socket->error() == StreamSocket::Error::Closed)
                setError(PortError::Busy, heldText());
            return false;
        }
    }
    // Nothing but a message of the server can have come yet; the module speaks when asked.
    m_data.clear();
    m_dataRead = 0;
    return true;
}

void NetworkPort::close()
{
    if (!m_open)
        return;
    drop();
}

bool NetworkPort::setTimeouts(const CommTimeouts &timeouts)
{
    if (!m_open)
        return false;
    m_timeouts = timeouts;
    return true;
}

bool NetworkPort::setLineSettings(const LineSettings &settings)
{
    if (!m_open) {
        setError(PortError::Io, "the port is not open");
        return false;
    }
    if (!m_address.comPortControl) {
        setError(PortError::Other, m_device + " is a raw TCP port: its line setting is the "
                                              "server's and cannot be changed from here");
        return false;
    }
    if (!sendRaw(m_telnet.lineSettingCommands(settings)))
        return false;
    const Deadline limit(m_clock, LineSettingLimitMs);
    while (!m_telnet.confirmed().all()) {
        if (limit.expired()) {
            setError(PortError::Other, m_device + ": the server did not confirm the line setting");
            return false;
        }
        if (pump(std::min<std::uint32_t>(limit.remaining() + 1, 50)) < 0)
            return false;
    }
    if (m_telnet.confirmed().baudValue != std::uint32_t(settings.baud)) {
        setError(PortError::Other, m_device + ": the server set " +
                                       std::to_string(m_telnet.confirmed().baudValue) +
                                       " baud instead of " + std::to_string(settings.baud));
        return false;
    }
    return true;
}

bool NetworkPort::sendRaw(const std::string &bytes)
{
    if (m_socket->send(bytes.data(), bytes.size()))
        return true;
    setError(PortError::Io, m_device + ": " + m_socket->errorString());
    return false;
}

std::int64_t NetworkPort::pump(std::uint32_t timeoutMs)
{
    std::array<char, 4096> buffer;
    const std::int64_t n = m_socket->receive(buffer.data(), buffer.size(), timeoutMs);
    if (n < 0) {
        setError(PortError::Io, m_device + ": " + m_socket->errorString());
        m_lost = true;
        return -1;
    }
    if (n == 0)
        return 0;
    // Read bytes are dropped before new ones are added, so the buffer stays small.
    m_data.erase(0, m_dataRead);
    m_dataRead = 0;
    const std::string_view received(buffer.data(), std::size_t(n));
    if (!m_address.comPortControl) {
        m_data.append(received); // raw TCP: every byte is the module's
        return n;
    }
    std::string reply;
    m_telnet.receive(received, m_data, reply);
    return reply.empty() || sendRaw(reply) ? n : -1;
}

std::int64_t NetworkPort::write(const char *data, std::int64_t count)
{
    if (!m_open || count < 0) {
        setError(PortError::Io, "the port is not open");
        return -1;
    }
    if (m_lost)
        return -1; // the error says why
    const std::string_view bytes(data, std::size_t(count));
    if (!sendRaw(m_address.comPortControl ? TelnetSession::encode(bytes) : std::string(bytes)))
        return -1;
    return count;
}

int NetworkPort::readByte(char *byte)
{
    if (!m_open) {
        setError(PortError::Io, "the port is not open");
        return -1;
    }
    // The serial driver's rules: an interval of all ones with no totals returns at once, no
    // total at all waits until a byte comes.
    const CommTimeouts &t = m_timeouts;
    const bool atOnce = t.ReadIntervalTimeout == UINT_MAX && t.ReadTotalTimeoutMultiplier == 0 &&
                        t.ReadTotalTimeoutConstant == 0;
    const std::uint64_t total =
        std::uint64_t(t.ReadTotalTimeoutMultiplier) + t.ReadTotalTimeoutConstant;
    const auto waitMs = atOnce ? 0u : std::uint32_t(std::min<std::uint64_t>(total, UINT32_MAX));
    const Deadline limit(m_clock, waitMs);
    for (;;) {
        if (m_dataRead < m_data.size()) {
            *byte = m_data[m_dataRead++];
            return 1;
        }
        // Option traffic brings no module byte: then the wait goes on for the rest of its time.
        const std::uint32_t remaining = total == 0 && !atOnce ? 1000u : limit.remaining();
        const std::int64_t received = pump(remaining);
        if (received < 0)
            return -1;
        if (m_dataRead < m_data.size())
            continue;
        if (atOnce || (total != 0 && (received == 0 || limit.expired())))
            return 0;
    }
}

} // namespace qmr
