// The Windows edge without a serial port: the clock's pauses, the COM port names and why an
// open failed.

#include "platform/windows/win32clock.h"
#include "platform/windows/win32portmap.h"
#include "platform/windows/win32serialport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <timeapi.h>

namespace qmr {
namespace {

TEST(Win32Clock, PauseNeverEndsEarlyAndOneMillisecondIsShort)
{
    Win32Clock clock;
    for (const int ms : {1, 2, 5, 20}) {
        SCOPED_TRACE(ms);
        const DWORD start = timeGetTime();
        clock.sleep(ms);
        EXPECT_GE(timeGetTime() - start, DWORD(ms));
    }
    // The 1 ms pauses after the bytes of a frame must not take a system tick (15.6 ms) each.
    const std::uint32_t start = clock.milliseconds();
    for (int i = 0; i < 20; ++i)
        clock.sleep(1);
    EXPECT_LT(clock.milliseconds() - start, 20u * 5u);
    clock.sleep(0);
    clock.sleep(-3);
}

TEST(Win32PortMap, EveryComNumberIsNamedInTheDeviceNamespace)
{
    const Win32PortMap map;
    EXPECT_EQ(map.deviceFor(1), "\\\\.\\COM1");
    EXPECT_EQ(map.deviceFor(9), "\\\\.\\COM9");
    EXPECT_EQ(map.deviceFor(10), "\\\\.\\COM10");
    EXPECT_EQ(map.deviceFor(256), "\\\\.\\COM256");
    EXPECT_EQ(map.deviceFor(0), "");
    EXPECT_EQ(map.deviceFor(-1), "");
}

TEST(Win32PortMap, ComNamesOfTheSystemList)
{
    EXPECT_EQ(Win32PortMap::comNumberOf("COM3"), 3);
    EXPECT_EQ(Win32PortMap::comNumberOf("com12"), 12);
    for (const char *name :
         {"COM", "COM0", "COM03", "COM3:", "COM-3", "COM+3", "LPT1", "CON", "COM99999999999"})
        EXPECT_EQ(Win32PortMap::comNumberOf(name), 0) << name;

    const std::vector<int> ports = Win32PortMap::systemComPorts();
    EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end()));
    EXPECT_TRUE(std::adjacent_find(ports.begin(), ports.end()) == ports.end());
}

TEST(Win32SerialPort, WhyAnOpenFailed)
{
    EXPECT_EQ(Win32SerialPort::errorFor(ERROR_FILE_NOT_FOUND), PortError::NotFound);
    EXPECT_EQ(Win32SerialPort::errorFor(ERROR_PATH_NOT_FOUND), PortError::NotFound);
    EXPECT_EQ(Win32SerialPort::errorFor(ERROR_ACCESS_DENIED), PortError::Busy);
    EXPECT_EQ(Win32SerialPort::errorFor(ERROR_SHARING_VIOLATION), PortError::Busy);
    EXPECT_EQ(Win32SerialPort::errorFor(ERROR_GEN_FAILURE), PortError::Other);
    EXPECT_EQ(Win32SerialPort::definitionText({9600, 'n', 7, 2}), "9600,n,7,2");

    // The test prefix maps no port to COM20.
    Win32SerialPort port;
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

} // namespace
} // namespace qmr
