// The reply reader fed arbitrary byte streams: whatever arrives, SendCommand returns within
// the stream limit in fake time, keeps ReplyLength inside the buffer, changes ReplyText
// only when a reply end was seen, and tells the frame observer exactly one outcome.

#include "link/link.h"
#include "link/portmap.h"
#include "streamport.h"

#include "require.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace qmr;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FakeClock clock(0xFFFFF000u); // near the wrap of the 32-bit clock
    StreamPort port(clock, std::string(reinterpret_cast<const char *>(data), size));
    const FixedPortMap map({{1, "/dev/fuzz"}});
    Link link(port, clock, map);
    int sent = 0;
    int outcomes = 0;
    FrameEvent last = FrameEvent::Sent;
    std::string lastBytes;
    link.setFrameObserver([&](FrameEvent event, std::string_view bytes) {
        if (event == FrameEvent::Sent) {
            ++sent;
        } else {
            ++outcomes;
            last = event;
            lastBytes.assign(bytes);
        }
    });
    require(link.ComOpen(1, "19200,e,8,1"));

    // Several commands in a row over one stream: the reply state carries over.
    for (int command = 0; command < 4; ++command) {
        const std::string before = link.ReplyText;
        const std::uint32_t start = clock.milliseconds();
        const bool ok = link.SendCommand("A00M");
        const std::uint32_t took = clock.milliseconds() - start;
        const std::int32_t length = link.ReplyLength;

        require(length >= 0 && length < Link::ReplyBufferSize);
        // Writing the frame takes its pauses; the wait ends at the stream limit at the latest
        // (plus the silence of one pause marker that began just before it).
        require(took <= Link::FramePauseMs + Link::ReplyStreamLimitMs + 256 + 2);
        require(sent == command + 1 && outcomes == command + 1);
        if (ok) {
            require(length >= 4);
            require(link.ReplyBuffer[0] == '\n' &&
                    link.ReplyBuffer[std::size_t(length - 1)] == '\r');
            require(Link::ReplyCheck(link.ReplyBuffer.data(), length));
            require(last == FrameEvent::Received);
        } else {
            require(last != FrameEvent::Received);
        }
        if (last == FrameEvent::Received || last == FrameEvent::CheckFailed)
            require(lastBytes == std::string_view(link.ReplyBuffer.data(), std::size_t(length)));
        // Silence comes with no bytes, bytes without a reply end never as silence.
        if (last == FrameEvent::NoReply)
            require(lastBytes.empty());
        if (last == FrameEvent::Abandoned)
            require(!lastBytes.empty());
        if (link.ReplyText != before) {
            // Replaced only by a reply end: the text is the buffer up to its first zero,
            // which the end byte terminated (at offset 0 when the end byte filled the buffer).
            require(last == FrameEvent::Received || last == FrameEvent::CheckFailed);
            require(link.ReplyText.size() <= std::size_t(length));
            if (length > 0) {
                require(link.ReplyText.front() == '\n');
                require(link.ReplyBuffer[std::size_t(length - 1)] == '\r');
                require(link.ReplyBuffer[std::size_t(length)] == 0);
            } else {
                require(link.ReplyText.empty());
            }
        }
        require(link.ReplyText.find('\0') == std::string::npos);
    }
    link.ComClose();
    require(!port.isOpen());
    return 0;
}
