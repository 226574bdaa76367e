// The Windows edge without a serial port: the clock's pauses, the COM port names, why an
// open failed, and the port's handling of read errors on a stand-in device.

#include "platform/windows/serialdevice.h"
#include "platform/windows/systemclock.h"
#include "platform/windows/systemportmap.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <timeapi.h>
#include <vector>

namespace qmr {
namespace {

// Microseconds of the performance counter, the clock's own measure.
std::int64_t counterUs()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return now.QuadPart / frequency.QuadPart * 1'000'000 +
           now.QuadPart % frequency.QuadPart * 1'000'000 / frequency.QuadPart;
}

TEST(SystemClock, PauseNeverEndsEarlyAndOneMillisecondIsShort)
{
    SystemClock clock;
    // What this Windows offers (Wine may have neither); the clock works either way.
    RecordProperty("highResolutionTimer", clock.highResolutionTimer());
    RecordProperty("throttlingOptedOut", clock.throttlingOptedOut());
    for (const int ms : {1, 2, 5, 20}) {
        SCOPED_TRACE(ms);
        for (int i = 0; i < 5; ++i) {
            const std::int64_t start = counterUs();
            const std::uint32_t startMs = clock.milliseconds();
            clock.sleep(ms);
            EXPECT_GE(counterUs() - start, std::int64_t(ms) * 1000);
            EXPECT_GE(clock.milliseconds() - startMs, std::uint32_t(ms));
        }
    }
    // The 1 ms pauses after the bytes of a frame must not take a system tick (15.6 ms) each.
    const std::uint32_t start = clock.milliseconds();
    for (int i = 0; i < 20; ++i)
        clock.sleep(1);
    EXPECT_LT(clock.milliseconds() - start, 20u * 5u);
    clock.sleep(0);
    clock.sleep(-3);
}

TEST(SystemClock, MillisecondsFollowThePerformanceCounter)
{
    SystemClock clock;
    const std::int64_t startUs = counterUs();
    const std::uint32_t startMs = clock.milliseconds();
    Sleep(30);
    const std::int64_t passedUs = counterUs() - startUs;
    const std::uint32_t passedMs = clock.milliseconds() - startMs;
    EXPECT_GE(std::int64_t(passedMs) + 1, passedUs / 1000);
    EXPECT_LE(std::int64_t(passedMs), passedUs / 1000 + 1);
}

TEST(SystemPortMap, EveryComNumberIsNamedInTheDeviceNamespace)
{
    const SystemPortMap map;
    EXPECT_EQ(map.deviceFor(1), "\\\\.\\COM1");
    EXPECT_EQ(map.deviceFor(9), "\\\\.\\COM9");
    EXPECT_EQ(map.deviceFor(10), "\\\\.\\COM10");
    EXPECT_EQ(map.deviceFor(256), "\\\\.\\COM256");
    EXPECT_EQ(map.deviceFor(0), "");
    EXPECT_EQ(map.deviceFor(-1), "");
}

TEST(SystemPortMap, ComNamesOfTheSystemList)
{
    EXPECT_EQ(SystemPortMap::comNumberOf("COM3"), 3);
    EXPECT_EQ(SystemPortMap::comNumberOf("com12"), 12);
    for (const char *name :
         {"COM", "COM0", "COM03", "COM3:", "COM-3", "COM+3", "LPT1", "CON", "COM99999999999"})
        EXPECT_EQ(SystemPortMap::comNumberOf(name), 0) << name;

    const std::vector<int> ports = SystemPortMap::systemComPorts();
    EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end()));
    EXPECT_TRUE(std::adjacent_find(ports.begin(), ports.end()) == ports.end());
}

TEST(SerialDevice, WhyAnOpenFailed)
{
    EXPECT_EQ(SerialDevice::errorFor(ERROR_FILE_NOT_FOUND), PortError::NotFound);
    EXPECT_EQ(SerialDevice::errorFor(ERROR_PATH_NOT_FOUND), PortError::NotFound);
    EXPECT_EQ(SerialDevice::errorFor(ERROR_ACCESS_DENIED), PortError::Busy);
    EXPECT_EQ(SerialDevice::errorFor(ERROR_SHARING_VIOLATION), PortError::Busy);
    EXPECT_EQ(SerialDevice::errorFor(ERROR_GEN_FAILURE), PortError::Other);
    EXPECT_EQ(SerialDevice::definitionText({9600, 'n', 7, 2}), "9600,n,7,2");

    // The test prefix maps no port to COM20.
    SerialDevice port;
    EXPECT_FALSE(port.open("\\\\.\\COM20"));
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.error(), PortError::NotFound);
    EXPECT_EQ(port.errorString().rfind("\\\\.\\COM20: ", 0), 0u) << port.errorString();
    EXPECT_GT(port.errorString().size(), std::string("\\\\.\\COM20: ").size());
    char byte = 0;
    EXPECT_EQ(port.readByte(&byte), -1);
    EXPECT_EQ(port.write("x", 1), -1);
    EXPECT_FALSE(port.setTimeouts({}));
}

// A device whose reads fail, after a line error, until the error is cleared; it records the
// line settings set on it. It starts with abort-on-error on, as a driver may leave it.
class LineErrorComm : public Win32Comm
{
public:
    struct Record
    {
        DCB state{};
        std::vector<DCB> statesSet;
        bool lineError = false;
        int failedReads = 0;
        int clears = 0;
        bool closed = false;
    };
    explicit LineErrorComm(Record &record) : m_r(record)
    {
        m_r.state.DCBlength = sizeof m_r.state;
        m_r.state.BaudRate = 9600;
        m_r.state.ByteSize = 8;
        m_r.state.fBinary = TRUE;
        m_r.state.fAbortOnError = TRUE;
    }
    HANDLE open(const std::string &) override { return Handle; }
    BOOL close(HANDLE) override { return m_r.closed = true; }
    BOOL getState(HANDLE, DCB *state) override
    {
        *state = m_r.state;
        return TRUE;
    }
    BOOL setState(HANDLE, DCB *state) override
    {
        m_r.state = *state;
        m_r.statesSet.push_back(*state);
        return TRUE;
    }
    BOOL getTimeouts(HANDLE, COMMTIMEOUTS *t) override
    {
        *t = {};
        return TRUE;
    }
    BOOL setTimeouts(HANDLE, COMMTIMEOUTS *) override { return TRUE; }
    BOOL read(HANDLE, void *data, DWORD, DWORD *done) override
    {
        if (m_r.lineError) {
            ++m_r.failedReads;
            SetLastError(ERROR_OPERATION_ABORTED);
            return FALSE;
        }
        *static_cast<char *>(data) = 'x';
        *done = 1;
        return TRUE;
    }
    BOOL write(HANDLE, const void *, DWORD count, DWORD *done) override
    {
        *done = count;
        return TRUE;
    }
    BOOL clearError(HANDLE, DWORD *errors) override
    {
        ++m_r.clears;
        *errors = m_r.lineError ? CE_FRAME : 0;
        m_r.lineError = false;
        return TRUE;
    }

private:
    static inline const HANDLE Handle = reinterpret_cast<HANDLE>(std::intptr_t(0x4711));
    Record &m_r;
};

TEST(SerialDevice, LineErrorIsClearedAndCountsAsEmptyRead)
{
    LineErrorComm::Record r;
    SerialDevice port(std::make_unique<LineErrorComm>(r));
    ASSERT_TRUE(port.open("\\\\.\\COM7"));
    // Opened with abort-on-error off, and it stays off through a new line setting.
    ASSERT_EQ(r.statesSet.size(), 1u);
    EXPECT_FALSE(r.state.fAbortOnError);
    ASSERT_TRUE(port.setLineSettings({19200, 'e', 8, 1}));
    EXPECT_FALSE(r.state.fAbortOnError);
    EXPECT_EQ(r.state.BaudRate, 19200u);
    EXPECT_EQ(r.state.Parity, EVENPARITY);

    char byte = 0;
    EXPECT_EQ(port.readByte(&byte), 1);
    r.lineError = true;
    EXPECT_EQ(port.readByte(&byte), 0); // the failed read, cleared
    EXPECT_EQ(r.failedReads, 1);
    EXPECT_EQ(r.clears, 1);
    EXPECT_EQ(port.readByte(&byte), 1); // and the next read works again
    EXPECT_EQ(byte, 'x');
    EXPECT_EQ(port.error(), PortError::NoError);

    // Given back as found: abort-on-error on again, at the line setting found at open.
    port.close();
    EXPECT_TRUE(r.closed);
    EXPECT_TRUE(r.state.fAbortOnError);
    EXPECT_EQ(r.state.BaudRate, 9600u);
}

// A read that fails and cannot be cleared either (the device is gone) is a failed read.
TEST(SerialDevice, ReadFailsWhenTheErrorCannotBeCleared)
{
    class GoneComm : public LineErrorComm
    {
    public:
        using LineErrorComm::LineErrorComm;
        BOOL clearError(HANDLE, DWORD *) override
        {
            SetLastError(ERROR_BAD_COMMAND);
            return FALSE;
        }
    };
    LineErrorComm::Record r;
    SerialDevice port(std::make_unique<GoneComm>(r));
    ASSERT_TRUE(port.open("COM7"));
    r.lineError = true;
    char byte = 0;
    EXPECT_EQ(port.readByte(&byte), -1);
    EXPECT_EQ(port.error(), PortError::Io);
    EXPECT_NE(port.errorString().find("COM7"), std::string::npos) << port.errorString();
}

} // namespace
} // namespace qmr
