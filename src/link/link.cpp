#include "link.h"

#include "deadline.h"
#include "linedefinition.h"

#include <cstring>

namespace qmr {

Q_LOGGING_CATEGORY(lcFrames, "qmr.frames", QtWarningMsg)

namespace {
constexpr quint8 CommandStart = 0x09;
constexpr quint8 ReplyStart = 0x0A;
constexpr quint8 FrameEnd = 0x0D;
} // namespace

Link::Link(SerialPort &port, Clock &clock, const PortMap &ports)
    : PortHandle(port), m_clock(clock), m_ports(ports)
{
}

bool Link::ComOpen(qint32 portNumber, const char *lineDefinition)
{
    // Only one device is held at a time: a second open first gives the previous one back.
    if (m_open)
        ComClose();

    m_lastDevice = m_ports.deviceFor(portNumber);
    if (m_lastDevice.isEmpty()) {
        m_lastOpenError = PortError::NotFound;
        m_lastOpenErrorString = QStringLiteral("COM%1 has no device").arg(portNumber);
        return false;
    }
    if (!PortHandle.open(m_lastDevice)) {
        m_lastOpenError = PortHandle.error();
        if (m_lastOpenError == PortError::NoError)
            m_lastOpenError = PortError::Other;
        m_lastOpenErrorString = PortHandle.errorString();
        return false;
    }
    m_open = true;
    m_lastOpenError = PortError::NoError;
    m_lastOpenErrorString.clear();

    SavedTimeouts = PortHandle.timeouts();
    PortHandle.setTimeouts(WorkingTimeouts);
    // A definition the port does not take is not an open failure: the commands that follow
    // simply find no reply.
    const auto line =
        parseLineDefinition(lineDefinition ? QString::fromLatin1(lineDefinition) : QString());
    if (line)
        PortHandle.setLineSettings(*line);
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

void Link::ComWriteByte(quint8 b)
{
    const char c = char(b);
    PortHandle.write(&c, 1);
    m_clock.sleep(1);
}

void Link::ComWriteText(const char *bytes, int count)
{
    PortHandle.write(bytes, count);
    m_clock.sleep(5);
}

QByteArray Link::checkDigits(quint8 value)
{
    auto digit = [](int v) { return char(v < 10 ? 0x30 + v : 0x37 + v); };
    QByteArray digits(2, Qt::Uninitialized);
    digits[0] = digit(value >> 4);
    digits[1] = digit(value & 0x0F);
    return digits;
}

QByteArray Link::frame(const QByteArray &commandText)
{
    // The frame carries the text's length as one byte, so only that many bytes go out.
    const quint8 n = quint8(commandText.size());
    quint8 check = CommandStart;
    for (int i = 0; i < n; ++i)
        check ^= quint8(commandText[i]);
    QByteArray bytes;
    bytes.reserve(n + 4);
    bytes.append(char(CommandStart));
    bytes.append(commandText.constData(), n);
    bytes.append(checkDigits(check));
    bytes.append(char(FrameEnd));
    return bytes;
}

bool Link::ReplyCheck(const char *bytes, qint32 length)
{
    if (length < 4)
        return false;
    quint8 check = 0;
    for (qint32 i = 0; i <= length - 4; ++i)
        check ^= quint8(bytes[i]);
    const QByteArray digits = checkDigits(check);
    return bytes[length - 3] == digits[0] && bytes[length - 2] == digits[1];
}

bool Link::SendCommand(const QByteArray &commandText)
{
    ReplyBuffer.fill(0);

    const QByteArray out = frame(commandText);
    const int n = out.size() - 4;
    ComWriteByte(quint8(out[0]));
    ComWriteText(out.constData() + 1, n);
    ComWriteByte(quint8(out[1 + n]));
    ComWriteByte(quint8(out[2 + n]));
    ComWriteByte(quint8(out[3 + n]));
    qCDebug(lcFrames) << "sent" << out.toHex(' ');
    if (m_observer)
        m_observer(true, out);

    ReplyLength = 0;
    // The window closes 120 ms after the last byte was sent, measured only after a read that
    // brought nothing, so a reply that is still flowing is not cut off. A stream that never
    // ends a reply is cut off at the longer stream limit, checked after every read.
    const Deadline window(m_clock, ReplyWindowMs);
    quint32 elapsed = 0;
    qint32 received = 0;
    for (;;) {
        char byte = 0;
        if (PortHandle.readByte(&byte) == 1) {
            ReplyBuffer[ReplyLength] = byte;
            ++ReplyLength;
            ++received;
            if (ReplyLength >= ReplyBufferSize)
                ReplyLength = 0;
            if (quint8(byte) == FrameEnd && quint8(ReplyBuffer[0]) == ReplyStart) {
                ReplyBuffer[ReplyLength] = 0;
                ReplyText = QByteArray(ReplyBuffer.data(),
                                       int(qstrnlen(ReplyBuffer.data(), ReplyBufferSize)));
                const bool ok = ReplyCheck(ReplyBuffer.data(), ReplyLength);
                const QByteArray in(ReplyBuffer.data(), ReplyLength);
                qCDebug(lcFrames) << "received" << in.toHex(' ') << (ok ? "ok" : "check failed");
                if (m_observer)
                    m_observer(false, in);
                return ok;
            }
            if (window.elapsed() > ReplyStreamLimitMs)
                break;
        } else {
            if (m_idleWait) {
                // Sleeps until an event or a byte comes, at the latest when the window ends.
                const quint32 spent = qMin(window.elapsed(), ReplyWindowMs);
                m_idleWait(ReplyWindowMs + 1 - spent);
            } else if (m_pump) {
                m_pump();
            }
            elapsed = window.elapsed();
            if (elapsed > ReplyStreamLimitMs)
                break;
        }
        if (elapsed > ReplyWindowMs)
            break;
    }

    // No complete reply: report what did arrive (up to the buffer's size).
    const QByteArray in(ReplyBuffer.data(),
                        received >= ReplyBufferSize ? ReplyBufferSize : ReplyLength);
    if (in.isEmpty()) {
        qCDebug(lcFrames) << "no reply";
    } else {
        qCDebug(lcFrames) << "abandoned" << in.toHex(' ');
        if (m_observer)
            m_observer(false, in);
    }
    return false;
}

} // namespace qmr
