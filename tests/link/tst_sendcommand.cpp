#include "link/link.h"
#include "scriptedport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

using namespace qmr;
using qmr::test::ScriptedPort;

namespace {

const std::string Device = "/dev/ttyTEST";

using Event = std::pair<FrameEvent, std::string>;

// One link over a scripted port and a fake clock, opened at "19200,e,8,1".
struct Bench
{
    explicit Bench(std::uint32_t start = 1000) : clock(start), port(clock), link(port, clock, ports)
    {
        port.addDevice(Device);
        link.setMessagePump([this] { ++pumps; });
        link.setFrameObserver([this](FrameEvent event, std::string_view bytes) {
            events.emplace_back(event, std::string(bytes));
        });
    }
    bool open() { return link.ComOpen(1, "19200,e,8,1"); }
    // Sends a command and remembers when the reply window opened (after the frame).
    bool send(std::string_view command = "A00M")
    {
        port.writes.clear();
        clock.clearSleeps();
        pumps = 0;
        port.emptyReads = 0;
        clock.setOnAdvance({});
        events.clear();
        const bool ok = link.SendCommand(command);
        windowStart = port.writes.empty() ? 0 : port.writes.back().atMs + Link::ByteWritePauseMs;
        return ok;
    }
    std::uint32_t sinceWindowStart() { return clock.milliseconds() - windowStart; }
    // The clock reading at which the reply window of the next send() opens.
    std::uint32_t nextWindowStart() { return clock.milliseconds() + Link::FramePauseMs; }

    FakeClock clock;
    ScriptedPort port;
    FixedPortMap ports{{{1, Device}, {16, Device}}};
    Link link;
    int pumps = 0;
    std::uint32_t windowStart = 0;
    std::vector<Event> events;
};

const std::string GoodReply = "\n1209\r"; // text "12"
const std::string ShortestReply = "\n0A\r";
const std::string SixteenByteReply = "\n 01 123456700B\r";

} // namespace

TEST(SendCommand, WorkedExample)
{
    Bench b;
    ASSERT_TRUE(b.open());
    b.port.answer(GoodReply);
    EXPECT_TRUE(b.send("A00M"));
    EXPECT_EQ(b.link.ReplyLength, 6);
    EXPECT_EQ(b.link.ReplyText, GoodReply);
    EXPECT_EQ(b.events, (std::vector<Event>{{FrameEvent::Sent, "\x09"
                                                               "A00M05\r"},
                                            {FrameEvent::Received, GoodReply}}));
}

TEST(SendCommand, WritePacing)
{
    Bench b;
    ASSERT_TRUE(b.open());
    b.send("A00M");
    // One write per call: start byte, the text, two check digits, end byte.
    std::vector<std::string> writes;
    for (const auto &w : b.port.writes)
        writes.push_back(w.bytes);
    EXPECT_EQ(writes, (std::vector<std::string>{"\x09", "A00M", "0", "5", "\r"}));
    ASSERT_GE(b.clock.sleeps().size(), 5u);
    EXPECT_EQ(std::vector<int>(b.clock.sleeps().begin(), b.clock.sleeps().begin() + 5),
              (std::vector<int>{1, 5, 1, 1, 1}));
    // The reply reader starts only after the last pause: the frame took 9 ms.
    const auto &w = b.port.writes;
    EXPECT_EQ(w[1].atMs - w[0].atMs, 1u);
    EXPECT_EQ(w[2].atMs - w[1].atMs, 5u);
    EXPECT_EQ(w[4].atMs - w[0].atMs, 8u);
    EXPECT_EQ(Link::FramePauseMs, 9);
}

TEST(SendCommand, WriteCallsPause)
{
    Bench b;
    ASSERT_TRUE(b.open());
    b.link.ComWriteByte(0x41);
    b.link.ComWriteText("ABCDEFG", 7);
    ASSERT_EQ(b.port.writes.size(), 2u);
    EXPECT_EQ(b.port.writes[0].bytes, "A");
    EXPECT_EQ(b.port.writes[1].bytes, "ABCDEFG");
    EXPECT_EQ(b.clock.sleeps(), (std::vector<int>{1, 5}));
}

TEST(SendCommand, Replies)
{
    const struct
    {
        const char *name;
        std::string reply;
        bool ok;
        bool complete; // a reply end was seen: ReplyText replaced
        int length;
        FrameEvent event;
    } rows[] = {
        {"shortest", ShortestReply, true, true, 4, FrameEvent::Received},
        {"two bytes", "\n\r", false, true, 2, FrameEvent::CheckFailed},
        {"three bytes", "\n0\r", false, true, 3, FrameEvent::CheckFailed},
        {"lower-case check", "\n0a\r", false, true, 4, FrameEvent::CheckFailed},
        {"leading noise", std::string(1, '\0') + ShortestReply, false, false, 5,
         FrameEvent::Abandoned},
        {"leftover byte", "5" + GoodReply, false, false, 7, FrameEvent::Abandoned},
        {"sixteen bytes", SixteenByteReply, true, true, 16, FrameEvent::Received},
        {"no end byte", "\n1209", false, false, 5, FrameEvent::Abandoned},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        Bench b;
        ASSERT_TRUE(b.open());
        b.link.ReplyText = "previous";
        b.port.answer(r.reply);
        EXPECT_EQ(b.send(), r.ok);
        EXPECT_EQ(b.link.ReplyLength, r.length);
        EXPECT_EQ(std::string(b.link.ReplyBuffer.data(), std::size_t(r.length)),
                  r.reply.substr(0, std::size_t(r.length)));
        if (r.complete) {
            EXPECT_EQ(b.link.ReplyText, r.reply);
            EXPECT_EQ(b.port.emptyReads, 0);
        } else {
            EXPECT_EQ(b.link.ReplyText, "previous");
            EXPECT_EQ(b.sinceWindowStart(), 121u); // ran out the whole window
        }
        // The observer sees the sent frame, then the reply bytes as far as they came.
        ASSERT_EQ(b.events.size(), 2u);
        EXPECT_EQ(b.events[0].first, FrameEvent::Sent);
        EXPECT_EQ(b.events[1], (Event{r.event, r.reply.substr(0, std::size_t(r.length))}));
    }
}

TEST(SendCommand, SilenceIsReportedAsNoReply)
{
    Bench b;
    ASSERT_TRUE(b.open());
    EXPECT_FALSE(b.send());
    ASSERT_EQ(b.events.size(), 2u);
    EXPECT_EQ(b.events[1], (Event{FrameEvent::NoReply, ""}));
}

TEST(SendCommand, FirstEndByteEndsReply)
{
    Bench b;
    ASSERT_TRUE(b.open());
    b.port.answer(ShortestReply + GoodReply);
    EXPECT_TRUE(b.send());
    EXPECT_EQ(b.link.ReplyText, ShortestReply);
    EXPECT_EQ(b.port.unread(), int(GoodReply.size()));
}

TEST(SendCommand, BufferZeroedBetweenCalls)
{
    Bench b;
    ASSERT_TRUE(b.open());
    b.port.answer(SixteenByteReply);
    EXPECT_TRUE(b.send());
    b.port.answer(ShortestReply);
    EXPECT_TRUE(b.send());
    EXPECT_EQ(b.link.ReplyText, ShortestReply);
    EXPECT_EQ(b.link.ReplyBuffer[4], '\0');
    EXPECT_EQ(b.link.ReplyBuffer[10], '\0');
}

TEST(SendCommand, ZeroByteEndsReplyText)
{
    // The text is the buffer up to its first zero, as a C string of it would be.
    Bench b;
    ASSERT_TRUE(b.open());
    const std::string reply("\n12\0"
                            "45XX\r",
                            9);
    b.port.answer(reply);
    EXPECT_FALSE(b.send());
    EXPECT_EQ(b.link.ReplyLength, 9);
    EXPECT_EQ(b.link.ReplyText, "\n12");
    EXPECT_EQ(b.events.back(), (Event{FrameEvent::CheckFailed, reply}));
}

TEST(SendCommand, FlowingReplyAcceptedPastWindow)
{
    // The reply starts 110 ms into the window and its bytes take 1 ms each: its end byte
    // comes at 126 ms, but no read came back empty in between.
    Bench b;
    ASSERT_TRUE(b.open());
    b.port.setByteTime(1);
    b.port.script(SixteenByteReply, b.nextWindowStart() + 110);
    EXPECT_TRUE(b.send());
    EXPECT_EQ(b.link.ReplyLength, 16);
    EXPECT_GT(b.sinceWindowStart(), 120u);
}

TEST(SendCommand, ReplyAfterPauseTooLate)
{
    // The same reply with a pause before its end byte is cut off by the window.
    Bench b;
    ASSERT_TRUE(b.open());
    const std::uint32_t start = b.nextWindowStart();
    b.port.script(SixteenByteReply.substr(0, 15), start + 110);
    b.port.script("\r", start + 125);
    EXPECT_FALSE(b.send());
    EXPECT_EQ(b.link.ReplyLength, 15);
    EXPECT_EQ(b.port.unread(), 1);
    EXPECT_EQ(b.events.back(), (Event{FrameEvent::Abandoned, SixteenByteReply.substr(0, 15)}));
}

TEST(SendCommand, ReplyTextAfterFailures)
{
    Bench b;
    ASSERT_TRUE(b.open());
    b.port.answer(GoodReply);
    EXPECT_TRUE(b.send());

    // Silence keeps the last complete reply.
    EXPECT_FALSE(b.send());
    EXPECT_EQ(b.link.ReplyText, GoodReply);
    EXPECT_EQ(b.link.ReplyLength, 0);

    // A complete reply with a wrong check replaces it.
    const std::string bad = "\n1208\r";
    b.port.answer(bad);
    EXPECT_FALSE(b.send());
    EXPECT_EQ(b.link.ReplyText, bad);
}

TEST(SendCommand, SilenceWindowAcrossClockWrap)
{
    const struct
    {
        const char *name;
        std::uint32_t clockStart;
    } rows[] = {
        {"ordinary", 1000},
        {"wrap inside the window", 0xFFFFFFFFu - 50},
        {"wrap while sending", 0xFFFFFFFFu - 4},
        {"wrap at the last read", 0xFFFFFFFFu - 9 - 120},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        Bench b(r.clockStart);
        ASSERT_TRUE(b.open());
        EXPECT_FALSE(b.send());
        // Each empty read lets 1 ms pass and then the messages run: the window is over once
        // more than 120 ms have passed, at the 121st empty read, with no messages after it.
        EXPECT_EQ(b.port.emptyReads, 121);
        EXPECT_EQ(b.pumps, 120);
        EXPECT_EQ(b.sinceWindowStart(), 121u);
        EXPECT_EQ(b.link.ReplyLength, 0);
    }
}

TEST(SendCommand, PumpTimeCountsTowardsWindow)
{
    // A message handler that takes time (a repaint, say) counts towards the window.
    Bench b;
    ASSERT_TRUE(b.open());
    b.link.setMessagePump([&] {
        ++b.pumps;
        b.clock.advance(59);
    });
    EXPECT_FALSE(b.send());
    EXPECT_EQ(b.pumps, 2); // after the empty reads at 1 and 61 ms; the one at 121 ms ends it
    EXPECT_EQ(b.sinceWindowStart(), 121u);
}

// The event processing may not come back for long (a modal loop while the mouse holds a
// scroll-bar arrow or drags the window): the reply that came meanwhile is read before the
// window is judged, and taken.
TEST(SendCommand, ReplyArrivingWhileEventsBlockIsTaken)
{
    // Half a second, and longer than the stream limit: the bytes that waited are no stream.
    for (const int blockMs : {500, 1500})
        for (const bool idleWait : {false, true}) {
            SCOPED_TRACE(testing::Message() << (idleWait ? "idle wait " : "pump ") << blockMs);
            Bench b;
            ASSERT_TRUE(b.open());
            b.port.setByteTime(1);
            b.port.script(SixteenByteReply, b.nextWindowStart() + 30);
            auto block = [&] {
                ++b.pumps;
                b.clock.advance(blockMs);
            };
            if (idleWait)
                b.link.setIdleWait([&](std::uint32_t) { block(); });
            else
                b.link.setMessagePump(block);
            EXPECT_TRUE(b.send());
            EXPECT_EQ(b.pumps, 1);
            EXPECT_EQ(b.link.ReplyLength, 16);
            EXPECT_GT(b.sinceWindowStart(), std::uint32_t(blockMs));

            // Without a reply the same block ends the window at the read after it.
            EXPECT_FALSE(b.send());
            EXPECT_EQ(b.pumps, 1);
            EXPECT_EQ(b.port.emptyReads, 2);
        }
}

TEST(SendCommand, IdleWaitReplacesPumpUntilWindowEnds)
{
    // A wait that sees no event sleeps its whole length: one wait ends the window.
    Bench b;
    ASSERT_TRUE(b.open());
    std::vector<std::uint32_t> waits;
    b.link.setIdleWait([&](std::uint32_t maxMs) {
        waits.push_back(maxMs);
        b.clock.advance(int(maxMs));
    });
    EXPECT_FALSE(b.send());
    EXPECT_EQ(b.pumps, 0);
    // The first read took its 1 ms timeout; the wait covers the rest of the 121 ms, and the
    // read after it (1 ms more) finds nothing either.
    EXPECT_EQ(waits, (std::vector<std::uint32_t>{120}));
    EXPECT_EQ(b.sinceWindowStart(), 122u);
}

TEST(SendCommand, IdleWaitEndsWhenByteArrives)
{
    Bench b;
    ASSERT_TRUE(b.open());
    const std::uint32_t due = b.nextWindowStart() + 30;
    b.port.script(GoodReply, due);
    std::vector<std::uint32_t> waits;
    b.link.setIdleWait([&](std::uint32_t maxMs) {
        waits.push_back(maxMs);
        // Wakes when the reply reaches the port, or after maxMs.
        const std::uint32_t toDue = due - b.clock.milliseconds();
        b.clock.advance(int(std::min(maxMs, toDue)));
    });
    EXPECT_TRUE(b.send());
    EXPECT_EQ(waits, (std::vector<std::uint32_t>{120}));
    EXPECT_EQ(b.sinceWindowStart(), 30u);
}

TEST(SendCommand, IdleWaitAfterFlowingReplyStaysShort)
{
    // Bytes that flow past the window end, then stop: the wait that follows is at most 1 ms,
    // not a wrapped-around length.
    Bench b;
    ASSERT_TRUE(b.open());
    b.port.setByteTime(1);
    const std::uint32_t due = b.nextWindowStart() + 110;
    b.port.script(SixteenByteReply.substr(0, 15), due);
    std::vector<std::uint32_t> waits;
    b.link.setIdleWait([&](std::uint32_t maxMs) {
        waits.push_back(maxMs);
        const std::uint32_t toDue = due - b.clock.milliseconds();
        b.clock.advance(int(std::min(maxMs, toDue)));
    });
    EXPECT_FALSE(b.send());
    // Woken by the first byte at 110 ms; the bytes end at 125 ms, and the empty read after
    // them at 126 ms ends the window without another wait.
    EXPECT_EQ(waits, (std::vector<std::uint32_t>{120}));
    EXPECT_EQ(b.link.ReplyLength, 15);
}

TEST(SendCommand, FailedReadCountsAsEmpty)
{
    Bench b;
    ASSERT_TRUE(b.open());
    b.port.failReads(true);
    EXPECT_FALSE(b.send());
    EXPECT_EQ(b.pumps, 120);
}

TEST(SendCommand, NoiseBeforeReplyNeverRecognised)
{
    Bench b;
    ASSERT_TRUE(b.open());
    const std::string noise("x\r\n\r");
    b.port.answer(noise + ShortestReply);
    EXPECT_FALSE(b.send());
    EXPECT_EQ(b.link.ReplyLength, int(noise.size() + ShortestReply.size()));
    EXPECT_EQ(b.port.unread(), 0);
}

TEST(SendCommand, BufferWrapsAt1024)
{
    // After 1024 bytes of noise the writing starts again at offset 0, where a reply's
    // 0x0A now makes it recognisable.
    Bench b;
    ASSERT_TRUE(b.open());
    b.link.ReplyText = "previous";
    b.port.answer(std::string(1024, 'x') + ShortestReply);
    EXPECT_TRUE(b.send());
    EXPECT_EQ(b.link.ReplyLength, 4);
    EXPECT_EQ(b.link.ReplyText, ShortestReply);
    EXPECT_EQ(b.link.ReplyBuffer[5], 'x'); // the rest of the first pass stays
}

TEST(SendCommand, WrappedNoiseStaysUnrecognised)
{
    Bench b;
    ASSERT_TRUE(b.open());
    b.port.answer(std::string(1000, 'x') + ShortestReply + std::string(30, 'y'));
    EXPECT_FALSE(b.send());
    EXPECT_EQ(b.link.ReplyLength, 1034 - 1024);
    EXPECT_EQ(b.link.ReplyBuffer[0], 'y');
    // What came is reported up to the buffer's size, not only the bytes since the wrap.
    ASSERT_EQ(b.events.size(), 2u);
    EXPECT_EQ(b.events[1].first, FrameEvent::Abandoned);
    EXPECT_EQ(b.events[1].second.size(), std::size_t(Link::ReplyBufferSize));
}

TEST(SendCommand, EndlessStreamIsCutOff)
{
    for (const std::string pattern : {"x", "x\r", "\n1"}) {
        SCOPED_TRACE(pattern);
        Bench b;
        ASSERT_TRUE(b.open());
        b.link.ReplyText = "previous";
        b.port.stream(pattern);
        b.port.setByteTime(1);
        EXPECT_FALSE(b.send());
        EXPECT_EQ(b.sinceWindowStart(), Link::ReplyStreamLimitMs + 1);
        EXPECT_EQ(b.link.ReplyText, "previous");
        EXPECT_EQ(b.pumps, 0);
        ASSERT_EQ(b.events.size(), 2u);
        EXPECT_EQ(b.events[1].first, FrameEvent::Abandoned);
    }
}

TEST(ComOpen, AppliesSettingsAndGivesThemBack)
{
    Bench b;
    const CommTimeouts before = b.port.deviceTimeouts;
    ASSERT_TRUE(b.link.ComOpen(16, "19200,e,8,1"));
    EXPECT_TRUE(b.link.isOpen());
    EXPECT_EQ(b.port.opened, std::vector<std::string>{Device});
    EXPECT_EQ(b.port.timeouts(), Link::WorkingTimeouts);
    EXPECT_EQ(b.port.linesSet, (std::vector<LineSettings>{{19200, 'e', 8, 1}}));
    EXPECT_EQ(b.link.lastOpenError(), PortError::NoError);
    EXPECT_EQ(b.link.lastOpenErrorString(), "");
    EXPECT_EQ(b.link.lastDevice(), Device);

    b.link.ComClose();
    EXPECT_FALSE(b.link.isOpen());
    EXPECT_EQ(b.port.closes, 1);
    EXPECT_EQ(b.port.deviceTimeouts, before);
    EXPECT_EQ(b.port.timeoutsSet.back(), before);
}

TEST(ComOpen, TimeoutsGivenBackAsFound)
{
    // Whatever the device had is what it gets back, not a fixed value.
    Bench b;
    b.port.deviceTimeouts = {1, 2, 3, 4, 5};
    ASSERT_TRUE(b.open());
    b.link.ComClose();
    EXPECT_EQ(b.port.deviceTimeouts, (CommTimeouts{1, 2, 3, 4, 5}));
}

TEST(ComOpen, Fails)
{
    const struct
    {
        const char *name;
        int comNumber;
        PortError refusal;
        PortError error;
        const char *message;
    } rows[] = {
        {"busy", 1, PortError::Busy, PortError::Busy, "cannot open /dev/ttyTEST"},
        {"permission", 1, PortError::PermissionDenied, PortError::PermissionDenied,
         "cannot open /dev/ttyTEST"},
        // A port that fails to open but names no error still reports a failure.
        {"refused without a reason", 1, PortError::NoError, PortError::Other, ""},
        {"no device for the number", 2, PortError::NoError, PortError::NotFound,
         "COM2 has no device"},
        {"no such number", 0, PortError::NoError, PortError::NotFound, "COM0 has no device"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        Bench b;
        if (r.error == PortError::Other)
            b.port.refuseOpenSilently(Device);
        else if (r.refusal != PortError::NoError)
            b.port.refuseOpen(Device, r.refusal);
        EXPECT_FALSE(b.link.ComOpen(r.comNumber, "19200,e,8,1"));
        EXPECT_FALSE(b.link.isOpen());
        EXPECT_EQ(b.link.lastOpenError(), r.error);
        EXPECT_EQ(b.link.lastOpenErrorString(), r.message);
        EXPECT_TRUE(b.port.timeoutsSet.empty());
        EXPECT_TRUE(b.port.linesSet.empty());
        // Nothing to give back: a close after a failed open touches nothing.
        b.link.ComClose();
        EXPECT_EQ(b.port.closes, 0);
    }
}

TEST(ComOpen, SettingsNotTakenStillOpen)
{
    const struct
    {
        const char *definition;
        bool refuse;
        std::size_t linesSet;
    } rows[] = {
        {"19200,x,8,1", false, 0},
        {"", false, 0},
        {nullptr, false, 0},
        {"115200,e,8,1", true, 1}, // refused by the port
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.definition ? r.definition : "(null)");
        Bench b;
        b.port.refuseLineSettings(r.refuse);
        EXPECT_TRUE(b.link.ComOpen(1, r.definition));
        EXPECT_EQ(b.port.linesSet.size(), r.linesSet);
        EXPECT_EQ(b.port.timeouts(), Link::WorkingTimeouts);
    }
}

TEST(ComOpen, SecondOpenGivesFirstBack)
{
    Bench b;
    ASSERT_TRUE(b.open());
    ASSERT_TRUE(b.open());
    EXPECT_EQ(b.port.closes, 1);
    EXPECT_EQ(b.port.timeoutsSet.size(), 3u); // working, restored, working
}
