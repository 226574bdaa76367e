// The reply reader fed arbitrary byte streams: whatever arrives, SendCommand returns within
// the stream limit in fake time, keeps ReplyLength inside the buffer, and changes ReplyText
// only when a reply end was seen.

#include "link/link.h"
#include "link/portmap.h"
#include "streamport.h"

#include "require.h"

#include <cstdint>
#include <cstdlib>

using namespace qmr;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    FakeClock clock(0xFFFFF000u); // near the wrap of the 32-bit clock
    StreamPort port(clock, input);
    const FixedPortMap map({{1, QStringLiteral("/dev/fuzz")}});
    Link link(port, clock, map);
    require(link.ComOpen(1, "19200,e,8,1"));

    // Several commands in a row over one stream: the reply state carries over.
    for (int command = 0; command < 4; ++command) {
        const QByteArray before = link.ReplyText;
        const quint32 start = clock.milliseconds();
        const bool ok = link.SendCommand("A00M");
        const quint32 took = clock.milliseconds() - start;
        const qint32 length = link.ReplyLength;

        require(length >= 0 && length < Link::ReplyBufferSize);
        // Writing the frame takes 8 ms; the wait ends at the stream limit at the latest
        // (plus the silence of one pause marker that began just before it).
        require(took <= 8 + Link::ReplyStreamLimitMs + 256 + 2);
        if (ok) {
            require(length >= 4);
            require(link.ReplyBuffer[0] == '\n' && link.ReplyBuffer[size_t(length - 1)] == '\r');
            require(Link::ReplyCheck(link.ReplyBuffer.data(), length));
        }
        if (link.ReplyText != before) {
            // Replaced only by a reply end: the text is the buffer up to its first zero,
            // which the end byte terminated (at offset 0 when the end byte filled the buffer).
            require(link.ReplyText.size() <= length);
            if (length > 0) {
                require(link.ReplyText.startsWith('\n'));
                require(link.ReplyBuffer[size_t(length - 1)] == '\r');
                require(link.ReplyBuffer[size_t(length)] == 0);
            } else {
                require(link.ReplyText.isEmpty());
            }
        }
        require(!link.ReplyText.contains('\0'));
    }
    link.ComClose();
    require(!port.isOpen());
    return 0;
}
