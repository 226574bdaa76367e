#include "link.h"

#include "deadline.h"
#include "linedefinition.h"

#include <cstring>

namespace qmr {

namespace {
constexpr std::uint8_t CommandStart = 0x09;
constexpr std::uint8_t ReplyStart = 0x0A;
constexpr std::uint8_t FrameEnd = 0x0D;
} // namespace

Link::Link(SerialPort &port, Clock &clock, const PortMap &ports)
    : PortHandle(port), m_clock(clock), m_ports(ports)
{
}

bool Link::ComOpen(std::int32_t portNumber, const char *lineDefinition)
{
    if (!openDevice(portNumber, false))
        return false;
    m_open = true;

    SavedTimeouts = PortHandle.timeouts();
    PortHandle.setTimeouts(WorkingTimeouts);
    // A definition the port does not take is not an open failure: the commands that follow
    // simply find no reply.
    const auto line = parseLineDefinition(lineDefinition ? lineDefinition : "");
    if (line && !PortHandle.setLineSettings(*line))
        m_lineRefusal = PortHandle.lineRefusal();
    return true;
}

bool Link::ComProbe(std::int32_t portNumber)
{
    return openDevice(portNumber, true);
}

bool Link::openDevice(std::int32_t portNumber, bool probeOnly)
{
    // Only one device is held at a time: a second open first gives the previous one back.
    if (m_open)
        ComClose();

    m_lineRefusal.clear();
    m_lastDevice = m_ports.deviceFor(portNumber);
    if (m_lastDevice.empty()) {
        m_lastOpenError = PortError::NotFound;
        m_lastOpenErrorString = "COM" + std::to_string(portNumber) + " has no device";
        return false;
    }
    const bool opened = probeOnly ? PortHandle.probe(m_lastDevice) : PortHandle.open(m_lastDevice);
    if (!opened) {
        m_lastOpenError = PortHandle.error();
        if (m_lastOpenError == PortError::NoError)
            m_lastOpenError = PortError::Other;
        m_lastOpenErrorString = PortHandle.errorString();
        return false;
    }
    m_lastOpenError = PortError::NoError;
    m_lastOpenErrorString.clear();
    return true;
}

void Link::ComClose()
{
    if (!m_open)
        return;
    PortHandle.setTimeouts(SavedTimeouts);
    PortHandle.close();
    m_open = false;
}

void Link::ComWriteByte(std::uint8_t b)
{
    const char c = char(b);
    PortHandle.write(&c, 1);
    m_clock.sleep(ByteWritePauseMs);
}

void Link::ComWriteText(const char *bytes, int count)
{
    PortHandle.write(bytes, count);
    m_clock.sleep(TextWritePauseMs);
}

std::string Link::checkDigits(std::uint8_t value)
{
    auto digit = [](int v) { return char(v < 10 ? 0x30 + v : 0x37 + v); };
    return {digit(value >> 4), digit(value & 0x0F)};
}

std::string Link::frame(std::string_view commandText)
{
    // The frame carries the text's length as one byte, so only that many bytes go out.
    const auto n = std::uint8_t(commandText.size());
    std::uint8_t check = CommandStart;
    for (int i = 0; i < n; ++i)
        check ^= std::uint8_t(commandText[std::size_t(i)]);
    std::string bytes;
    bytes.reserve(n + 4u);
    bytes += char(CommandStart);
    bytes.append(commandText.data(), n);
    bytes += checkDigits(check);
    bytes += char(FrameEnd);
    return bytes;
}

bool Link::ReplyCheck(const char *bytes, std::int32_t length)
{
    if (length < 4)
        return false;
    std::uint8_t check = 0;
    for (std::int32_t i = 0; i <= length - 4; ++i)
        check ^= std::uint8_t(bytes[i]);
    const std::string digits = checkDigits(check);
    return bytes[length - 3] == digits[0] && bytes[length - 2] == digits[1];
}

void Link::notify(FrameEvent event, std::string_view bytes) const
{
    if (m_observer)
        m_observer(event, bytes);
}

bool Link::SendCommand(std::string_view commandText)
{
    ReplyBuffer.fill(0);

    const std::string out = frame(commandText);
    const int n = int(out.size()) - 4;
    ComWriteByte(std::uint8_t(out[0]));
    ComWriteText(out.data() + 1, n);
    ComWriteByte(std::uint8_t(out[std::size_t(1 + n)]));
    ComWriteByte(std::uint8_t(out[std::size_t(2 + n)]));
    ComWriteByte(std::uint8_t(out[std::size_t(3 + n)]));
    notify(FrameEvent::Sent, out);

    ReplyLength = 0;
    // The window closes 120 ms after the last byte was sent, judged only right after a read
    // that brought nothing, so a reply that is still flowing is not cut off. The events run
    // after that judgement and a read always follows them: a pump that stays away long (a
    // modal loop while the mouse holds a scroll bar, a dragged window) returns to the bytes
    // that came meanwhile, not to a window that ran out with the reply waiting. A stream that
    // never ends a reply is cut off at the longer stream limit, checked after every read that
    // brought a byte and measured from the end of the last event processing (or the window's
    // start): the bytes that waited in the port while the events were held are a reply, not
    // a stream that went on too long.
    const Deadline window(m_clock, ReplyWindowMs);
    Deadline stream(m_clock, ReplyStreamLimitMs);
    std::int32_t received = 0;
    for (;;) {
        char byte = 0;
        if (PortHandle.readByte(&byte) == 1) {
            ReplyBuffer[std::size_t(ReplyLength)] = byte;
            ++ReplyLength;
            ++received;
            if (ReplyLength >= ReplyBufferSize)
                ReplyLength = 0;
            if (std::uint8_t(byte) == FrameEnd && std::uint8_t(ReplyBuffer[0]) == ReplyStart) {
                ReplyBuffer[std::size_t(ReplyLength)] = 0;
                // The text ends at the first NUL, as a C string of the buffer would.
                ReplyText.assign(ReplyBuffer.data(), strnlen(ReplyBuffer.data(), ReplyBufferSize));
                const bool ok = ReplyCheck(ReplyBuffer.data(), ReplyLength);
                notify(ok ? FrameEvent::Received : FrameEvent::CheckFailed,
                       std::string_view(ReplyBuffer.data(), std::size_t(ReplyLength)));
                return ok;
            }
            if (stream.expired())
                break;
            continue;
        }
        const std::uint32_t elapsed = window.elapsed();
        if (elapsed > ReplyWindowMs)
            break;
        if (m_idleWait)
            // Sleeps until an event or a byte comes, at the latest when the window ends.
            m_idleWait(ReplyWindowMs + 1 - elapsed);
        else if (m_pump)
            m_pump();
        stream.restart();
    }

    // No complete reply: report what did arrive (up to the buffer's size).
    const std::string_view in(
        ReplyBuffer.data(),
        std::size_t(received >= ReplyBufferSize ? ReplyBufferSize : ReplyLength));
    notify(in.empty() ? FrameEvent::NoReply : FrameEvent::Abandoned, in);
    return false;
}

} // namespace qmr
