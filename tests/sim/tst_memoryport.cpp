#include "link/commands.h"
#include "sim/commandframe.h"
#include "sim/memoryport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace qmr;
using qmr::test::cmd;

namespace {

const CommTimeouts Working{0, 0, 1, 0, 0};
const LineSettings Line19200e{19200, 'e', 8, 1};

// Opens COM1 with the link's working settings.
void openWorking(MemoryPort &port)
{
    ASSERT_TRUE(port.open("COM1"));
    ASSERT_TRUE(port.setTimeouts(Working));
    ASSERT_TRUE(port.setLineSettings(Line19200e));
}

void send(MemoryPort &port, const std::string &bytes)
{
    EXPECT_EQ(port.write(bytes.data(), std::int64_t(bytes.size())), std::int64_t(bytes.size()));
}

// Reads until a byte comes (at most `limit` reads); returns the number of empty reads, -1
// on a failed read, -2 when no byte came.
int emptyReadsUntilByte(MemoryPort &port, char *byte, int limit = 10000)
{
    for (int empty = 0; empty < limit; ++empty) {
        const int r = port.readByte(byte);
        if (r == 1)
            return empty;
        if (r < 0)
            return -1;
    }
    return -2;
}

// The bytes due now (reading stops at the first empty read).
std::string readAvailable(MemoryPort &port)
{
    std::string out;
    char b = 0;
    while (port.readByte(&b) == 1)
        out += b;
    return out;
}

} // namespace

TEST(MemoryPort, RefusedOpen)
{
    for (const PortError error :
         {PortError::Busy, PortError::PermissionDenied, PortError::NotASerialPort}) {
        SCOPED_TRACE(int(error));
        FakeClock clock;
        MemoryPort port(clock);
        port.addDevice("COM3");
        port.refuseOpen("COM3", error);
        EXPECT_FALSE(port.open("COM3"));
        EXPECT_EQ(port.error(), error);
        EXPECT_FALSE(port.errorString().empty());
        EXPECT_FALSE(port.isOpen());
        EXPECT_TRUE(port.opens().empty());
        // An unknown name is simply not there.
        EXPECT_FALSE(port.open("COM4"));
        EXPECT_EQ(port.error(), PortError::NotFound);
    }
}

TEST(MemoryPort, OpenAndCloseRestoreTheDevice)
{
    FakeClock clock;
    MemoryPort port(clock);
    port.addDevice("COM1");
    port.addDevice("COM2");
    ASSERT_TRUE(port.open("COM1"));
    EXPECT_EQ(port.error(), PortError::NoError);
    const CommTimeouts own = port.timeouts();
    const LineSettings ownLine = port.currentLine();
    EXPECT_NE(own, Working);
    EXPECT_TRUE(port.setTimeouts(Working));
    EXPECT_TRUE(port.setLineSettings(Line19200e));
    EXPECT_EQ(port.timeouts(), Working);
    EXPECT_EQ(port.currentLine(), Line19200e);
    // One device at a time.
    EXPECT_FALSE(port.open("COM2"));
    EXPECT_EQ(port.error(), PortError::Busy);
    EXPECT_EQ(port.currentDevice(), "COM1");
    port.close();
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.currentDevice(), "");
    EXPECT_EQ(port.closeCount(), 1);
    ASSERT_TRUE(port.open("COM1"));
    EXPECT_EQ(port.timeouts(), own);
    EXPECT_EQ(port.currentLine(), ownLine);
    EXPECT_EQ(port.opens(), (std::vector<std::string>{"COM1", "COM1"}));
}

TEST(MemoryPort, WritesAreRecorded)
{
    FakeClock clock(5000);
    MemoryPort port(clock);
    port.addDevice("COM1");
    openWorking(port);
    send(port, "\x09");
    clock.advance(7);
    send(port, "A00M");
    ASSERT_EQ(port.writes().size(), 2u);
    EXPECT_EQ(port.writes()[1].device, "COM1");
    EXPECT_EQ(port.writes()[1].line, Line19200e);
    EXPECT_EQ(port.writes()[1].bytes, "A00M");
    EXPECT_EQ(port.writes()[1].atMs, 5007u);
}

TEST(MemoryPort, ReplyAtOnce)
{
    FakeClock clock;
    ModuleModel module;
    MemoryPort port(clock);
    port.addDevice("COM1", &module);
    openWorking(port);
    send(port, cmd("A00M"));
    const std::uint32_t sent = clock.milliseconds();
    std::string reply;
    char b = 0;
    while (reply.size() < std::size_t(Reply::ReaderReplyLength) && port.readByte(&b) == 1)
        reply += b;
    ASSERT_EQ(reply.size(), std::size_t(Reply::ReaderReplyLength));
    EXPECT_EQ(Reply::serialNumber(reply), "20250010");
    EXPECT_EQ(clock.milliseconds(), sent); // due bytes cost no time
    // Then the line is quiet: an empty read waits 1 ms.
    EXPECT_EQ(port.readByte(&b), 0);
    EXPECT_EQ(clock.milliseconds(), sent + 1);
}

TEST(MemoryPort, DelayedReplyFallsDue)
{
    FakeClock clock;
    ModuleModel module;
    module.faults().delayMs = 30;
    MemoryPort port(clock);
    port.addDevice("COM1", &module);
    openWorking(port);
    // The delay counts from the write that ends the frame.
    const std::string frame = cmd("A00V");
    send(port, frame.substr(0, 1));
    clock.advance(9);
    send(port, frame.substr(1));
    const std::uint32_t ended = clock.milliseconds();
    char b = 0;
    EXPECT_EQ(emptyReadsUntilByte(port, &b), 29);
    EXPECT_EQ(b, '\x0A');
    EXPECT_EQ(clock.milliseconds(), ended + 30);
}

TEST(MemoryPort, ReadWaitsItsTimeout)
{
    FakeClock clock;
    ModuleModel module;
    module.faults().delayMs = 20;
    MemoryPort port(clock);
    port.addDevice("COM1", &module);
    ASSERT_TRUE(port.open("COM1"));
    ASSERT_TRUE(port.setLineSettings(Line19200e));
    ASSERT_TRUE(port.setTimeouts(CommTimeouts{0, 0, 50, 0, 0}));
    char b = 0;
    const std::uint32_t t0 = clock.milliseconds();
    EXPECT_EQ(port.readByte(&b), 0);
    EXPECT_EQ(clock.milliseconds(), t0 + 50);
    // A byte that falls due during the wait ends it early.
    send(port, cmd("A00M"));
    EXPECT_EQ(port.readByte(&b), 1);
    EXPECT_EQ(clock.milliseconds(), t0 + 70);
    // A zero timeout still takes 1 ms, so a polling reader sees time move.
    ASSERT_TRUE(port.setTimeouts(CommTimeouts{}));
    readAvailable(port);
    const std::uint32_t t1 = clock.milliseconds();
    EXPECT_EQ(port.readByte(&b), 0);
    EXPECT_EQ(clock.milliseconds(), t1 + 1);
}

TEST(MemoryPort, WrongLineGetsNoReply)
{
    FakeClock clock;
    ModuleModel module;
    MemoryPort port(clock);
    port.addDevice("COM1", &module);
    ASSERT_TRUE(port.open("COM1")); // the device's own 9600,n,8,1
    send(port, cmd("A00M"));
    char b = 0;
    EXPECT_EQ(emptyReadsUntilByte(port, &b, 200), -2);
    EXPECT_TRUE(module.commands().empty());
}

TEST(MemoryPort, ClockWrap)
{
    FakeClock clock(0xFFFFFFFAu);
    ModuleModel module;
    module.faults().delayMs = 10;
    MemoryPort port(clock);
    port.addDevice("COM1", &module);
    openWorking(port);
    send(port, cmd("A00M"));
    char b = 0;
    EXPECT_EQ(emptyReadsUntilByte(port, &b), 9);
    EXPECT_EQ(clock.milliseconds(), 4u);
}

TEST(MemoryPort, InjectedBytesArriveInDueOrder)
{
    FakeClock clock(100);
    MemoryPort port(clock);
    port.addDevice("COM1");
    openWorking(port);
    port.inject("late", 110);
    port.inject("soon", 103);
    port.inject("!", 103); // same due time: after what was sent before it
    char b = 0;
    EXPECT_EQ(emptyReadsUntilByte(port, &b), 2);
    EXPECT_EQ(b, 's');
    EXPECT_EQ(readAvailable(port), "oon!");
    EXPECT_EQ(emptyReadsUntilByte(port, &b), 5);
    EXPECT_EQ(b, 'l');
    EXPECT_EQ(clock.milliseconds(), 110u);
}

TEST(MemoryPort, InjectFromTheClockHook)
{
    FakeClock clock(0);
    MemoryPort port(clock);
    port.addDevice("COM1");
    openWorking(port);
    clock.setOnAdvance([&](std::uint32_t now) {
        if (now == 5)
            port.inject("x", now);
    });
    char b = 0;
    EXPECT_EQ(emptyReadsUntilByte(port, &b), 4);
    EXPECT_EQ(b, 'x');
}

TEST(MemoryPort, EndlessStreamTakesLineTimeAndStopsWhenSpokenTo)
{
    FakeClock clock;
    ModuleModel module;
    module.faults().endless = true;
    MemoryPort port(clock);
    port.addDevice("COM1", &module);
    openWorking(port);
    send(port, cmd("A00M"));
    const std::uint32_t start = clock.milliseconds();
    char b = 0;
    int zeros = 0;
    bool sawEnd = false;
    for (int i = 0; i < 1920; ++i) {
        const int r = port.readByte(&b);
        zeros += r == 0;
        sawEnd |= b == '\r';
    }
    EXPECT_EQ(zeros, 0);
    EXPECT_FALSE(sawEnd);
    // 1920 bytes of ten bits at 19200 baud take one second of line time.
    EXPECT_EQ(clock.milliseconds() - start, 1000u);
    // Spoken to, it stops (with bytes that are no command, so no new stream starts).
    send(port, "\x09zz\r");
    EXPECT_EQ(port.readByte(&b), 0);
}

TEST(MemoryPort, CloseLosesBytesInFlight)
{
    FakeClock clock;
    ModuleModel module;
    module.faults().delayMs = 5;
    MemoryPort port(clock);
    port.addDevice("COM1", &module);
    openWorking(port);
    send(port, cmd("A00M"));
    port.close();
    openWorking(port);
    clock.advance(10);
    char b = 0;
    EXPECT_EQ(port.readByte(&b), 0);
}

TEST(MemoryPort, Vanish)
{
    FakeClock clock;
    ModuleModel module;
    MemoryPort port(clock);
    port.addDevice("COM1", &module);
    openWorking(port);
    port.vanish("COM1");
    char b = 0;
    const std::uint32_t before = clock.milliseconds();
    EXPECT_EQ(port.readByte(&b), -1);
    EXPECT_EQ(port.error(), PortError::Io);
    // A failed read still takes its time, so a reply window on a gone device runs out.
    EXPECT_EQ(clock.milliseconds(), before + 1);
    EXPECT_EQ(port.write("x", 1), -1);
    EXPECT_FALSE(port.setTimeouts(Working));
    EXPECT_TRUE(module.commands().empty());
    port.close();
    EXPECT_FALSE(port.open("COM1"));
    EXPECT_EQ(port.error(), PortError::NotFound);
    // Closed: reads and writes fail too.
    EXPECT_EQ(port.readByte(&b), -1);
    EXPECT_EQ(port.write("x", 1), -1);
}
