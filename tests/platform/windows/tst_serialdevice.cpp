// The Win32 serial port against the emulator, run by serialdevice.sh: COM3 is a qmrsim at
// its default line setting (19200,e,8,1), COM4 a qmrsim that never answers, COM5 one that
// answers 60 ms late, and the prefix maps no other COM port.

#include "link/commands.h"
#include "link/link.h"
#include "platform/windows/serialdevice.h"
#include "platform/windows/systemclock.h"
#include "platform/windows/systemportmap.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace qmr {
namespace {

constexpr int ModuleCom = 3;
constexpr int SilentCom = 4;
constexpr int SlowCom = 5; // answers 60 ms after a command, as a slow line would
constexpr const char *ModuleLine = "19200,e,8,1";

// Passes everything on to a SerialDevice; gives the port other timeouts than its
// defaults as it opens (as another program may have left them), and notes the timeouts the
// port has when it is given back.
class WatchedPort : public SerialPort
{
public:
    static constexpr CommTimeouts FoundAtOpen{7, 3, 250, 2, 40};

    bool open(const std::string &device) override
    {
        return m_port.open(device) && m_port.setTimeouts(FoundAtOpen);
    }
    void close() override
    {
        m_timeoutsAtClose = m_port.timeouts();
        m_port.close();
    }
    bool isOpen() const override { return m_port.isOpen(); }
    CommTimeouts timeouts() const override { return m_port.timeouts(); }
    bool setTimeouts(const CommTimeouts &t) override { return m_port.setTimeouts(t); }
    bool setLineSettings(const LineSettings &s) override { return m_port.setLineSettings(s); }
    std::int64_t write(const char *data, std::int64_t count) override
    {
        return m_port.write(data, count);
    }
    int readByte(char *byte) override { return m_port.readByte(byte); }
    PortError error() const override { return m_port.error(); }
    std::string errorString() const override { return m_port.errorString(); }

    SerialDevice m_port;
    CommTimeouts m_timeoutsAtClose;
};

std::string device(int com)
{
    return SystemPortMap().deviceFor(com);
}

TEST(SerialDeviceOnEmulator, OpensAndGivesBackTheTimeoutsItFound)
{
    WatchedPort port;
    SystemClock clock;
    SystemPortMap map;
    Link link(port, clock, map);
    ASSERT_TRUE(link.ComOpen(ModuleCom, ModuleLine)) << link.lastOpenErrorString();
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(port.error(), PortError::NoError);
    EXPECT_EQ(port.timeouts(), Link::WorkingTimeouts);
    link.ComClose();
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.m_timeoutsAtClose, WatchedPort::FoundAtOpen);
}

TEST(SerialDeviceOnEmulator, OpenIsExclusive)
{
    SerialDevice first;
    ASSERT_TRUE(first.open(device(ModuleCom))) << first.errorString();
    SerialDevice second;
    for (const std::string &name : {device(ModuleCom), std::string("COM3")}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(second.open(name));
        EXPECT_EQ(second.error(), PortError::Busy);
        EXPECT_NE(second.errorString().find(name), std::string::npos) << second.errorString();
        EXPECT_NE(second.errorString().find("in use by another program"), std::string::npos)
            << second.errorString();
    }
    first.close();
    EXPECT_TRUE(second.open(device(ModuleCom))) << second.errorString();
}

TEST(SerialDeviceOnEmulator, ReplyWindowOnSilence)
{
    SerialDevice port;
    SystemClock clock;
    SystemPortMap map;
    Link link(port, clock, map);
    ASSERT_TRUE(link.ComOpen(SilentCom, ModuleLine)) << link.lastOpenErrorString();
    const std::uint32_t start = clock.milliseconds();
    EXPECT_FALSE(link.SendCommand(Command::readVersion()));
    const std::uint32_t elapsed = clock.milliseconds() - start;
    EXPECT_EQ(link.ReplyLength, 0);
    // The frame's pauses, then more than the 120 ms window; not much more.
    EXPECT_GT(elapsed, Link::ReplyWindowMs + std::uint32_t(Link::FramePauseMs));
    EXPECT_LT(elapsed, 400u);
    link.ComClose();
}

TEST(SerialDeviceOnEmulator, AnswersOnlyAtTheModulesLineSetting)
{
    SerialDevice port;
    SystemClock clock;
    SystemPortMap map;
    Link link(port, clock, map);
    ASSERT_TRUE(link.ComOpen(ModuleCom, ModuleLine)) << link.lastOpenErrorString();
    EXPECT_TRUE(link.SendCommand(Command::readFirstReader()));
    EXPECT_EQ(link.ReplyLength, Reply::ReaderReplyLength);
    EXPECT_EQ(Reply::moduleId(link.ReplyText), "01");
    link.ComClose();

    for (const char *other : {"9600,e,8,1", "38400,e,8,1"}) {
        SCOPED_TRACE(other);
        ASSERT_TRUE(link.ComOpen(ModuleCom, other));
        EXPECT_FALSE(link.SendCommand(Command::readFirstReader()));
        link.ComClose();
    }
    // And back at the module's setting it answers again.
    ASSERT_TRUE(link.ComOpen(ModuleCom, ModuleLine));
    EXPECT_TRUE(link.SendCommand(Command::readVersion()));
    link.ComClose();
}

// Event processing that stays away long (a modal loop while the mouse holds a scroll bar),
// here longer than the stream limit, does not lose the reply that came meanwhile: it lies in
// the port and is read afterwards, all of it.
TEST(SerialDeviceOnEmulator, ReplyWaitingAfterLongEventProcessingIsTaken)
{
    SerialDevice port;
    SystemClock clock;
    SystemPortMap map;
    Link link(port, clock, map);
    int pumps = 0;
    link.setMessagePump([&] {
        if (pumps++ == 0)
            Sleep(Link::ReplyStreamLimitMs + 500);
    });
    ASSERT_TRUE(link.ComOpen(SlowCom, ModuleLine)) << link.lastOpenErrorString();
    for (int i = 0; i < 2; ++i) {
        pumps = 0;
        EXPECT_TRUE(link.SendCommand(Command::readFirstReader()));
        EXPECT_EQ(link.ReplyLength, Reply::ReaderReplyLength);
        EXPECT_GT(pumps, 0);
    }
    link.ComClose();
}

// A sweep over every COM number reaches the emulator's three ports and nothing else: the prefix
// maps no port of the machine (its /dev/ttyS0 is the system console).
TEST(SerialDeviceOnEmulator, SweepOpensOnlyTheEmulatorsPorts)
{
    SerialDevice port;
    SystemPortMap map;
    for (int com = 1; com <= 16; ++com) {
        SCOPED_TRACE(com);
        const bool opened = port.open(map.deviceFor(com));
        if (com == ModuleCom || com == SilentCom || com == SlowCom) {
            EXPECT_TRUE(opened) << port.errorString();
        } else {
            EXPECT_FALSE(opened);
            EXPECT_EQ(port.error(), PortError::NotFound) << port.errorString();
        }
        port.close();
    }
}

} // namespace
} // namespace qmr
