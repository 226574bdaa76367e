#include "frametrace.h"

#include <cstdio>

namespace qmr {

namespace {

// "09 41 30 ...": the bytes as upper-case hex, one space between.
std::string hexBytes(std::string_view bytes)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string text;
    for (const char c : bytes) {
        if (!text.empty())
            text += ' ';
        text += Hex[std::uint8_t(c) >> 4];
        text += Hex[std::uint8_t(c) & 0x0F];
    }
    return text;
}

std::string printable(std::string_view bytes)
{
    std::string text;
    for (const char c : bytes)
        text += (c >= 0x20 && c < 0x7f) ? c : '.';
    return text;
}

} // namespace

void FrameTrace::frame(FrameEvent event, std::string_view bytes, std::uint32_t nowMs)
{
    switch (event) {
    case FrameEvent::Sent:
        flush();
        line(nowMs, "tx", bytes);
        return;
    case FrameEvent::NoReply:
        return; // no line: the next frame sent, or none, tells it
    case FrameEvent::Received:
    case FrameEvent::CheckFailed:
    case FrameEvent::Abandoned:
        break;
    }
    if (m_received.empty())
        m_receivedAt = nowMs;
    m_received += bytes;
    if (bytes.find('\r') != std::string_view::npos)
        flush();
}

void FrameTrace::flush()
{
    if (m_received.empty())
        return;
    line(m_receivedAt, "rx", m_received);
    m_received.clear();
}

void FrameTrace::line(std::uint32_t atMs, const char *direction, std::string_view bytes)
{
    // Seconds since the trace started, right-aligned in ten columns with three decimals.
    char time[32];
    std::snprintf(time, sizeof time, "%10.3f", double(atMs - m_start) / 1000.0);
    m_write(m_tag + time + " " + direction + " " + hexBytes(bytes) + "  |" + printable(bytes) +
            "|\n");
}

} // namespace qmr
