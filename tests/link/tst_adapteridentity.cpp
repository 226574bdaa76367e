// The adapter behind a port: Windows hardware IDs taken apart, and the one-line description.

#include "link/adapteridentity.h"

#include <gtest/gtest.h>

using namespace qmr;

struct HardwareIdCase
{
    const char *id;
    const char *vendor;
    const char *product;
    const char *serial;
};

class HardwareId : public testing::TestWithParam<HardwareIdCase>
{
};

TEST_P(HardwareId, VendorProductAndSerial)
{
    AdapterIdentity adapter;
    readHardwareId(GetParam().id, adapter);
    EXPECT_EQ(adapter.vendorId, GetParam().vendor);
    EXPECT_EQ(adapter.productId, GetParam().product);
    EXPECT_EQ(adapter.serialNumber, GetParam().serial);
}

INSTANTIATE_TEST_SUITE_P(
    SetupApiStrings, HardwareId,
    testing::Values(
        HardwareIdCase{"USB\\VID_0403&PID_6001&REV_0600", "0403", "6001", ""},
        HardwareIdCase{"usb\\vid_10c4&pid_ea60", "10C4", "EA60", ""},
        // FTDI's own bus: the serial number followed by the port letter.
        HardwareIdCase{"FTDIBUS\\VID_0403+PID_6001+A10K1ZQBA\\0000", "0403", "6001", "A10K1ZQB"},
        // An instance ID: the part after the IDs is the serial, unless Windows made it up.
        HardwareIdCase{"USB\\VID_067B&PID_2303\\5&2A3B1C&0&1", "067B", "2303", ""},
        HardwareIdCase{"USB\\VID_1A86&PID_7523\\0001A2B3", "1A86", "7523", "0001A2B3"},
        // Not USB, or broken: nothing taken.
        HardwareIdCase{"ACPI\\PNP0501", "", "", ""}, HardwareIdCase{"USB\\VID_04&PID_", "", "", ""},
        HardwareIdCase{"", "", "", ""}));

TEST(AdapterDescription, NamesWhatIsKnown)
{
    EXPECT_EQ(describeAdapter({}), "");
    AdapterIdentity ftdi{"FTDI",
                         "FT232R USB UART",
                         "A10K1ZQB",
                         "0403",
                         "6001",
                         "ftdi_sio",
                         "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1ZQB-if00-port0",
                         "",
                         16};
    EXPECT_EQ(describeAdapter(ftdi),
              "FTDI FT232R USB UART, USB 0403:6001, serial A10K1ZQB, driver ftdi_sio, latency "
              "timer 16 ms, /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1ZQB-if00-port0");
    // Windows: the friendly name already names the maker; a port without USB IDs shows its ID.
    AdapterIdentity uart{
        "(Standard port types)", "Communications Port (COM1)", "", "", "", "Serial", "",
        "ACPI\\PNP0501"};
    EXPECT_EQ(describeAdapter(uart), "(Standard port types) Communications Port (COM1), driver "
                                     "Serial, ACPI\\PNP0501");
}
