#pragma once

#include "clock.h"
#include "portmap.h"
#include "serialport.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qmr {

// What the link tells a frame observer.
enum class FrameEvent
{
    Sent,        // a whole command frame went out
    Received,    // a reply frame arrived and its check value is right
    CheckFailed, // a reply frame arrived with a wrong check value
    Abandoned,   // bytes came but no reply end within the window (or the stream limit)
    NoReply,     // nothing came within the window (bytes is empty)
};

// Called with every frame sent and every reply (or its absence), for traces.
using FrameObserver = std::function<void(FrameEvent event, std::string_view bytes)>;

// The module link: the one serial connection, the framed command/reply exchange and the
// reply state. One instance serves the whole program; tests make their own over an
// in-memory port and a fake clock.
class Link
{
public:
    static constexpr int ReplyBufferSize = 1024;
    static constexpr std::uint32_t ReplyWindowMs = 120;
    // A stream of bytes that never brings a reply end is cut off this long after sending
    // ended, so a babbling line cannot hang the program.
    static constexpr std::uint32_t ReplyStreamLimitMs = 1000;
    // Pauses after each write: 1 ms after a single byte, 5 ms after the command text.
    static constexpr int ByteWritePauseMs = 1;
    static constexpr int TextWritePauseMs = 5;
    // The five writes of a frame (start byte, text, two check digits, end byte) pause this
    // long in all: the least time a command takes before its reply can be read.
    static constexpr int FramePauseMs = 4 * ByteWritePauseMs + TextWritePauseMs;
    // Read behaviour while the link uses the port: a one-byte read returns a waiting byte at
    // once, or nothing after about 1 ms; writes have no timeout.
    static constexpr CommTimeouts WorkingTimeouts{0, 0, 1, 0, 0};

    Link(SerialPort &port, Clock &clock, const PortMap &ports);

    // Opens the device of COM portNumber exclusively and applies lineDefinition and the
    // working timeouts. True when the device opened, even if the settings were refused.
    bool ComOpen(std::int32_t portNumber, const char *lineDefinition);
    // Restores the timeouts found at open and gives the device back.
    void ComClose();
    // Whether COM portNumber would open, without applying a line setting or writing; the
    // device is given back at once. Sets lastDevice() and the open error as ComOpen does.
    bool ComProbe(std::int32_t portNumber);
    // Writes one byte, then pauses 1 ms.
    void ComWriteByte(std::uint8_t b);
    // Writes count bytes in one write, then pauses 5 ms.
    void ComWriteText(const char *bytes, int count);

    // Frames commandText (at most 255 bytes), sends it and waits for the reply frame:
    // true when a complete reply arrived within the window and its check value is right.
    bool SendCommand(std::string_view commandText);

    // Called after every empty read while a reply is awaited and the window is still open (the
    // window's event processing); a read always follows it, before the window is judged again.
    void setMessagePump(std::function<void()> pump) { m_pump = std::move(pump); }
    // Replaces the message pump where an event loop can wait: lets pending events run and,
    // when there are none, blocks until one comes (a byte reaching the port is one) or maxMs
    // have passed. Saves waking every millisecond while a reply is awaited.
    void setIdleWait(std::function<void(std::uint32_t maxMs)> wait)
    {
        m_idleWait = std::move(wait);
    }
    void setFrameObserver(FrameObserver observer) { m_observer = std::move(observer); }

    bool isOpen() const { return m_open; }
    // The open port's line setting is the far end's (a raw network port): ComOpen's line
    // definition did not reach the device.
    bool lineFixed() const { return m_open && PortHandle.fixedLine(); }
    // Why the last ComOpen failed (NoError after a successful one), and on which device.
    PortError lastOpenError() const { return m_lastOpenError; }
    std::string lastOpenErrorString() const { return m_lastOpenErrorString; }
    std::string lastDevice() const { return m_lastDevice; }
    // The map of COM numbers this link opens by (which also knows each port's adapter).
    const PortMap &portMap() const { return m_ports; }
    // The device behind COM portNumber in the port map.
    std::string deviceOf(std::int32_t portNumber) const { return m_ports.deviceFor(portNumber); }
    // Why the device opened by the last ComOpen cannot carry its line definition (a network
    // server that cannot set it); empty when it can.
    std::string lineRefusal() const { return m_lineRefusal; }
    // Brackets one operation's use of the port (see SerialPort::keepConnection).
    void keepConnection(bool keep) { PortHandle.keepConnection(keep); }

    // The reply state, overwritten by every SendCommand.
    std::array<char, ReplyBufferSize> ReplyBuffer{};
    std::int32_t ReplyLength = 0;
    std::string ReplyText; // the last complete reply, from its 0x0A to its 0x0D

    // The check value of a frame's bytes as two upper-case hex digits.
    static std::string checkDigits(std::uint8_t value);
    // The whole command frame for commandText: 0x09, text, check digits, 0x0D.
    static std::string frame(std::string_view commandText);
    // True when bytes is a complete reply frame whose check digits are right.
    static bool ReplyCheck(const char *bytes, std::int32_t length);

private:
    void notify(FrameEvent event, std::string_view bytes) const;
    // Opens (or only probes) the device of portNumber and records the outcome.
    bool openDevice(std::int32_t portNumber, bool probeOnly);

    SerialPort &PortHandle; // the one serial device; open between ComOpen and ComClose
    Clock &m_clock;
    const PortMap &m_ports;
    std::function<void()> m_pump;
    std::function<void(std::uint32_t)> m_idleWait;
    FrameObserver m_observer;
    bool m_open = false;
    CommTimeouts SavedTimeouts;
    PortError m_lastOpenError = PortError::NoError;
    std::string m_lastOpenErrorString;
    std::string m_lastDevice;
    std::string m_lineRefusal;
};

// One operation's hold on the port, for its whole scope: a network port keeps one connection
// through the operation's opens and closes and ends it (the server's line restored) at its
// end, or at the close after it when the operation leaves the port open.
class ConnectionHold
{
public:
    explicit ConnectionHold(Link &link) : m_link(link) { m_link.keepConnection(true); }
    ~ConnectionHold() { m_link.keepConnection(false); }
    ConnectionHold(const ConnectionHold &) = delete;
    ConnectionHold &operator=(const ConnectionHold &) = delete;

private:
    Link &m_link;
};

} // namespace qmr
