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

std::string parityName(std::uint8_t code)
{
    switch (code) {
    case 1:
        return "none";
    case 2:
        return "odd";
    case 3:
        return "even";
    case 4:
        return "mark";
    case 5:
        return "space";
    default:
        return std::to_string(code);
    }
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
    m_keeps = 0;
    finish();
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
    m_connected = false;
    m_data.clear();
    m_dataRead = 0;
}

void NetworkPort::keepConnection(bool keep)
{
    if (keep) {
        ++m_keeps;
    } else if (m_keeps > 0 && --m_keeps == 0 && !m_open) {
        finish();
    }
    // A port that did not open is tried again by the next operation (or the next probe).
    m_failedDevice.clear();
}

bool NetworkPort::open(const std::string &device)
{
    if (m_open)
        close();
    setError(PortError::NoError, {});
    if (m_keeps > 0 && device == m_failedDevice) {
        // Tried in this operation already: a dead host costs its time once, not per attempt.
        setError(m_failedError, m_failedText);
        return false;
    }
    if (m_connected && reuseKept(device))
        return true;
    finish();
    setError(PortError::NoError, {}); // a kept connection found lost says nothing of the new one
    const bool ok = connectAndNegotiate(device);
    if (!ok && m_keeps > 0) {
        m_failedDevice = device;
        m_failedError = m_error;
        m_failedText = m_errorString;
    }
    return ok;
}

bool NetworkPort::reuseKept(const std::string &device)
{
    if (device != m_device || m_lost)
        return false;
    // Whatever came since the last close (a late reply) is no answer to what comes next; a
    // connection lost meanwhile is made again.
    if (pump(0) < 0)
        return false;
    m_data.clear();
    m_dataRead = 0;
    m_open = true;
    return true;
}

bool NetworkPort::connectAndNegotiate(const std::string &device)
{
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
    m_lineChanged = false;
    m_found = {};
    m_negotiated = false;
    m_early.clear();
    m_spoken = m_moduleSpoke = false;
    m_data.clear();
    m_dataRead = 0;

    // One budget for the look-up, the connect and the negotiation.
    const Deadline limit(m_clock, ConnectLimitMs);
    if (!m_socket->connect(m_address.host, m_address.port, ConnectLimitMs)) {
        // Not NotFound: a scan keeps a named network port's reason over the plain absence of
        // the COM numbers after it.
        setError(PortError::Other, device + ": " + m_socket->errorString());
        m_socket->close();
        return false;
    }
    m_open = m_connected = true;
    const bool ok = m_address.comPortControl ? negotiate(limit) : settleRaw();
    if (!ok)
        drop();
    return ok;
}

std::string NetworkPort::heldText() const
{
    std::string text = m_device + " is in use by another client";
    const std::string said = printable(m_early);
    if (!said.empty())
        text += " (the server says \"" + said + "\")";
    return text;
}

bool NetworkPort::closedEarly()
{
    // The connection failed before the port was ours. What the server sent before it closed
    // may still wait in the socket (a send can fail first): it is all read now, so a held port
    // is named as held whatever the timing.
    bool closed = m_socket->error() == StreamSocket::Error::Closed;
    std::array<char, 512> buffer;
    for (int i = 0; i < 64; ++i) {
        const std::int64_t n = m_socket->receive(buffer.data(), buffer.size(), 0);
        if (n <= 0) {
            closed = closed || (n < 0 && m_socket->error() == StreamSocket::Error::Closed);
            break;
        }
        std::string reply;
        take(std::string_view(buffer.data(), std::size_t(n)), reply);
    }
    if (closed)
        setError(PortError::Busy, heldText());
    return false;
}

bool NetworkPort::negotiate(const Deadline &limit)
{
    // The port is ours once the server agreed to COM port control and binary transfer both
    // ways and answered the questions about its line (which is how it is found, and how it
    // is left). A server that gave the port to another client says so and closes.
    if (!sendRaw(m_telnet.greeting()))
        return closedEarly();
    bool asked = false;
    while (!limit.expired()) {
        if (m_telnet.comPortRefused()) {
            setError(PortError::NotASerialPort,
                     m_device + ": the server does not take COM port control (RFC 2217); for a "
                                "port at a fixed line setting name it tcp://");
            return false;
        }
        if (m_telnet.binaryRefused()) {
            setError(PortError::NotASerialPort,
                     m_device + ": the server refuses binary transfer, which the module's "
                                "bytes need");
            return false;
        }
        if (!asked && m_telnet.comPortAgreed()) {
            if (!sendRaw(m_telnet.lineQuery() + TelnetSession::controlCommands()))
                return closedEarly();
            asked = true;
        }
        if (asked && m_telnet.confirmed().line() && m_telnet.binaryAgreed()) {
            m_found = m_telnet.confirmed().value;
            m_negotiated = true;
            // Bytes before this point are no answer to anything this program sent.
            m_data.clear();
            m_dataRead = 0;
            return true;
        }
        if (pump(std::min<std::uint32_t>(limit.remaining() + 1, 50)) < 0)
            return closedEarly();
    }
    std::string missing = !m_telnet.comPortAgreed()      ? "COM port control"
                          : !m_telnet.binaryAgreed()     ? "binary transfer"
                          : !m_telnet.confirmed().line() ? "the questions about its line"
                                                         : "";
    setError(PortError::Other, m_device +
                                   ": the server did not complete the COM port "
                                   "negotiation within " +
                                   std::to_string(ConnectLimitMs) + " ms (no answer to " + missing +
                                   ")");
    return false;
}

bool NetworkPort::settleRaw()
{
    const Deadline settle(m_clock, RawSettleMs);
    while (!settle.expired()) {
        if (pump(std::min<std::uint32_t>(settle.remaining() + 1, 20)) < 0)
            return closedEarly();
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
    m_open = false;
    if (m_keeps > 0 && !m_lost)
        return; // kept for the next open of the same port
    finish();
}

void NetworkPort::finish()
{
    if (!m_connected)
        return;
    if (!m_lost)
        restoreLine();
    drop();
}

void NetworkPort::restoreLine()
{
    // The next client of the server's port finds the line as this program found it.
    if (!m_address.comPortControl || !m_lineChanged || m_found.baud == 0)
        return;
    if (!sendRaw(m_telnet.lineCodeCommands(m_found)))
        return;
    const Deadline limit(m_clock, RestoreLimitMs);
    while (!m_telnet.confirmed().line() && !limit.expired()) {
        if (pump(std::min<std::uint32_t>(limit.remaining() + 1, 50)) < 0)
            return;
    }
    m_lineChanged = false;
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
    const TelnetSession::LineCodes asked = TelnetSession::codesOf(settings);
    m_lineChanged = true;
    m_lineRefusal.clear();
    if (!sendRaw(m_telnet.lineCodeCommands(asked)))
        return false;
    const Deadline limit(m_clock, LineSettingLimitMs);
    while (!m_telnet.confirmed().all()) {
        if (limit.expired()) {
            const auto &c = m_telnet.confirmed();
            const char *what = !c.baud       ? "baud rate"
                               : !c.dataSize ? "data size"
                               : !c.parity   ? "parity"
                               : !c.stopSize ? "stop size"
                                             : "flow control";
            m_lineRefusal = "the server did not confirm the line setting (no answer about its " +
                            std::string(what) + ")";
            setError(PortError::Other, m_device + ": " + m_lineRefusal);
            return false;
        }
        if (pump(std::min<std::uint32_t>(limit.remaining() + 1, 50)) < 0)
            return false;
    }
    return compareLine(asked);
}

bool NetworkPort::compareLine(const TelnetSession::LineCodes &asked)
{
    // A server that answers another value than asked cannot carry that line.
    const TelnetSession::LineCodes &got = m_telnet.confirmed().value;
    std::string what;
    if (got.baud != asked.baud)
        what = "baud rate " + std::to_string(asked.baud);
    else if (got.dataSize != asked.dataSize)
        what = "data size " + std::to_string(asked.dataSize);
    else if (got.parity != asked.parity)
        what = "parity " + parityName(asked.parity);
    else if (got.stopSize != asked.stopSize)
        what = "stop size " + std::to_string(asked.stopSize);
    else if (got.control != asked.control)
        what = "flow control off";
    if (what.empty())
        return true;
    m_lineRefusal = "the server cannot set " + what;
    setError(PortError::Other, m_device + ": " + m_lineRefusal);
    return false;
}

bool NetworkPort::sendRaw(const std::string &bytes)
{
    if (m_socket->send(bytes.data(), bytes.size()))
        return true;
    setError(PortError::Io, m_device + ": " + m_socket->errorString());
    m_lost = true;
    return false;
}

void NetworkPort::take(std::string_view received, std::string &reply)
{
    // Read bytes are dropped before new ones are added, so the buffer stays small.
    m_data.erase(0, m_dataRead);
    m_dataRead = 0;
    const std::size_t before = m_data.size();
    if (m_address.comPortControl)
        m_telnet.receive(received, m_data, reply);
    else
        m_data.append(received); // raw TCP: every byte is the module's, once we spoke
    if (m_address.comPortControl ? m_negotiated : m_spoken) {
        m_moduleSpoke = m_moduleSpoke || m_data.size() > before;
        return;
    }
    // Not ours yet: only the server speaks, and only its first words are kept.
    m_early.append(m_data, before, MaxEarlyBytes - std::min(MaxEarlyBytes, m_early.size()));
    m_data.resize(before);
}

std::int64_t NetworkPort::pump(std::uint32_t timeoutMs)
{
    std::array<char, 4096> buffer;
    const std::int64_t n = m_socket->receive(buffer.data(), buffer.size(), timeoutMs);
    if (n < 0) {
        setError(PortError::Io, m_device + ": " + m_socket->errorString());
        m_lost = true;
        // A raw server that spoke unasked and closed before the module said a word gave the
        // port to another client; its message may come later than the settle time.
        if (!m_address.comPortControl && !m_moduleSpoke && !m_early.empty())
            setError(PortError::Busy, heldText());
        return -1;
    }
    if (n == 0)
        return 0;
    std::string reply;
    take(std::string_view(buffer.data(), std::size_t(n)), reply);
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
    if (m_telnet.suspended()) {
        // The server asked us to hold the module's bytes: wait for it to resume, not longer
        // than a reply window.
        const Deadline limit(m_clock, SuspendLimitMs);
        while (m_telnet.suspended() && !limit.expired()) {
            if (pump(std::min<std::uint32_t>(limit.remaining() + 1, 20)) < 0)
                return -1;
        }
        if (m_telnet.suspended()) {
            setError(PortError::Io, m_device + ": the server holds the module's bytes back "
                                               "(flow control suspended)");
            return -1;
        }
    }
    m_spoken = true;
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
