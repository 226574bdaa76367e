#pragma once

#include <string>
#include <string_view>

namespace qmr {

// What the system knows of the adapter behind a serial device. Empty fields are unknown.
struct AdapterIdentity
{
    std::string maker;
    std::string model;        // the product name, or Windows' friendly name
    std::string serialNumber; // as the adapter reports it
    std::string vendorId;     // USB vendor and product ID, four hex digits each ("0403")
    std::string productId;
    std::string driver;      // the kernel driver (ftdi_sio) or the Windows service (FTDIBUS)
    std::string stablePath;  // Linux: the /dev/serial/by-id name, which survives replugging
    std::string hardwareId;  // Windows: the first hardware ID (USB\VID_0403&PID_6001)
    int latencyTimerMs = -1; // an FTDI adapter's latency timer, -1 when it has none

    bool empty() const;
    friend bool operator==(const AdapterIdentity &, const AdapterIdentity &) = default;
};

// One line naming the adapter: "FTDI FT232R USB UART, USB 0403:6001, serial A10K1ZQB, driver
// ftdi_sio, latency timer 16 ms, /dev/serial/by-id/usb-FTDI_..."; empty when nothing is known.
std::string describeAdapter(const AdapterIdentity &adapter);

// Reads the vendor and product ID, and the serial number where the ID carries one, out of a
// Windows hardware or instance ID: "USB\VID_0403&PID_6001&REV_0600",
// "FTDIBUS\VID_0403+PID_6001+A10K1ZQBA\0000", "USB\VID_067B&PID_2303\5&2A3B&0&1". Only the
// fields found are set.
void readHardwareId(std::string_view id, AdapterIdentity &adapter);

} // namespace qmr
