#pragma once

#include "clock.h"
#include "deadline.h"
#include "serialport.h"
#include "streamsocket.h"
#include "telnetsession.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qmr {

// A port behind a serial device server, named "rfc2217://HOST:PORT" (Telnet with COM port
// control: the tool sets the line) or "tcp://HOST:PORT" (raw bytes: the server's line
// setting is fixed).
struct NetworkAddress
{
    bool comPortControl = true; // rfc2217://; false for tcp://
    std::string host;
    std::uint16_t port = 0;
};

// Whether a device name is a network port name at all (by its scheme), and its parts when it
// is a well-formed one.
bool isNetworkDevice(std::string_view device);
std::optional<NetworkAddress> parseNetworkAddress(std::string_view device);

// The serial port contract over a TCP connection to a serial device server. open() connects
// and negotiates within ConnectLimitMs; a server that closes the connection before the port
// is ours has it given to another client (Busy); one that closes it later is a vanished port
// (reads and writes fail with Io). The server's line as found at connect is set again before
// the connection ends. While the connection is kept (keepConnection), close() leaves it up and
// the next open() of the same port reuses it, and a port that did not open is not tried again.
class NetworkPort : public SerialPort
{
public:
    // Connecting, and the negotiation after it, end within this; a dead host costs no more.
    static constexpr std::uint32_t ConnectLimitMs = 1000;
    // The server's confirmation of a new line setting must come within this.
    static constexpr std::uint32_t LineSettingLimitMs = 1000;
    // A raw port is watched this long after connecting: a server whose port is held closes
    // the connection at once (after a message saying so). It covers the round trip the reply
    // window allows (about 100 ms) with room to spare.
    static constexpr std::uint32_t RawSettleMs = 200;
    // The server's line as found is set again within this before the connection ends.
    static constexpr std::uint32_t RestoreLimitMs = 500;
    // What the server sends before the port is ours is kept up to this (its message).
    static constexpr std::size_t MaxEarlyBytes = 256;
    // A write waits at most this for a server that suspended the module's bytes to resume.
    static constexpr std::uint32_t SuspendLimitMs = 120;

    NetworkPort(Clock &clock, std::unique_ptr<StreamSocket> socket);
    ~NetworkPort() override;

    bool open(const std::string &device) override;
    void close() override;
    bool isOpen() const override { return m_open; }

    CommTimeouts timeouts() const override { return m_timeouts; }
    bool setTimeouts(const CommTimeouts &timeouts) override;
    // Sends the line setting and waits for the server to confirm it; on a tcp:// port the
    // line is the server's and this fails, saying so.
    bool setLineSettings(const LineSettings &settings) override;
    void keepConnection(bool keep) override;
    std::string lineRefusal() const override { return m_lineRefusal; }

    std::int64_t write(const char *data, std::int64_t count) override;
    int readByte(char *byte) override;

    PortError error() const override { return m_error; }
    std::string errorString() const override { return m_errorString; }

    // A tcp:// port: the server's line setting cannot be changed from here.
    bool fixedLine() const override { return m_open && !m_address.comPortControl; }

private:
    void setError(PortError error, std::string text);
    // Receives for at most timeoutMs: module bytes to m_data, the negotiation answered.
    // Returns the bytes received (0: none came), -1 when the connection closed or failed
    // (the error is set).
    std::int64_t pump(std::uint32_t timeoutMs);
    void take(std::string_view received, std::string &reply);
    bool sendRaw(const std::string &bytes);
    bool connectAndNegotiate(const std::string &device);
    bool reuseKept(const std::string &device);
    bool negotiate(const Deadline &limit);
    bool settleRaw();
    bool closedEarly();
    bool compareLine(const TelnetSession::LineCodes &asked);
    std::string heldText() const;
    void restoreLine();
    void finish();
    void drop();

    Clock &m_clock;
    std::unique_ptr<StreamSocket> m_socket;
    TelnetSession m_telnet;
    NetworkAddress m_address;
    std::string m_device;
    std::string m_data; // module bytes received, not yet read
    std::size_t m_dataRead = 0;
    std::string m_early;        // what the server sent before the port was ours (bounded)
    bool m_spoken = false;      // a raw port: we wrote to the module since connecting
    bool m_moduleSpoke = false; // a raw port: bytes came after our first write
    bool m_open = false;
    bool m_connected = false;   // the connection is up (open, or kept after close())
    bool m_lost = false;        // the connection closed or failed while open
    int m_keeps = 0;            // keepConnection(true) calls not yet ended
    std::string m_failedDevice; // a port that did not open while kept, and why
    PortError m_failedError = PortError::NoError;
    std::string m_failedText;
    TelnetSession::LineCodes m_found; // the server's line at connect
    bool m_negotiated = false;        // rfc2217: the negotiation completed, the port is ours
    bool m_lineChanged = false;
    std::string m_lineRefusal;
    CommTimeouts m_timeouts;
    PortError m_error = PortError::NoError;
    std::string m_errorString;
};

} // namespace qmr
