#pragma once

#include "link/link.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qmr {

// --trace: every frame as one line "   seconds tx|rx HEX  |text|", a reply shown whole when its
// 0x0D arrives. Lines go to the writer given, each after the tag ("COM3: " when several ports
// are traced at once).
class FrameTrace
{
public:
    FrameTrace(std::function<void(const std::string &line)> write, std::string tag,
               std::uint32_t startMs)
        : m_write(std::move(write)), m_tag(std::move(tag)), m_start(startMs)
    {
    }
    void frame(FrameEvent event, std::string_view bytes, std::uint32_t nowMs);
    // Writes the reply being gathered, if any.
    void flush();

private:
    void line(std::uint32_t atMs, const char *direction, std::string_view bytes);

    std::function<void(const std::string &)> m_write;
    std::string m_tag;
    std::uint32_t m_start;
    std::string m_received;
    std::uint32_t m_receivedAt = 0;
};

} // namespace qmr
