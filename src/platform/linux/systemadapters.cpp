#include "systemadapters.h"

#include <fstream>

namespace qmr {

namespace fs = std::filesystem;

namespace {

std::string firstLine(const fs::path &file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

// The USB device a tty hangs under: the nearest folder above it with a vendor ID (the
// interface's parent for ttyUSB and ttyACM alike).
fs::path usbDeviceOf(const fs::path &deviceDir)
{
    std::error_code ec;
    fs::path at = fs::canonical(deviceDir, ec);
    for (int up = 0; !ec && up < 4 && at.has_relative_path(); ++up, at = at.parent_path()) {
        if (fs::exists(at / "idVendor", ec))
            return at;
    }
    return {};
}

std::string stablePathOf(const fs::path &root, const std::string &name)
{
    std::error_code ec;
    const fs::path byId = root / "dev/serial/by-id";
    for (fs::directory_iterator it(byId, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path target = fs::read_symlink(it->path(), ec);
        if (!ec && target.filename() == name)
            return "/dev/serial/by-id/" + it->path().filename().string();
        ec.clear();
    }
    return {};
}

} // namespace

AdapterIdentity sysfsAdapter(const std::string &device, const fs::path &root)
{
    AdapterIdentity adapter;
    std::error_code ec;
    // A by-id link names the same device as its target.
    const fs::path real = root == "/" ? fs::canonical(device, ec) : fs::path(device);
    const std::string name = (ec ? fs::path(device) : real).filename().string();
    const fs::path deviceDir = root / "sys/class/tty" / name / "device";
    if (name.empty() || !fs::exists(deviceDir, ec))
        return adapter;

    adapter.driver = fs::read_symlink(deviceDir / "driver", ec).filename().string();
    if (const std::string latency = firstLine(deviceDir / "latency_timer"); !latency.empty()) {
        try {
            adapter.latencyTimerMs = std::stoi(latency);
        } catch (const std::exception &) { // not a number: no timer shown
        }
    }
    if (const fs::path usb = usbDeviceOf(deviceDir); !usb.empty()) {
        adapter.maker = firstLine(usb / "manufacturer");
        adapter.model = firstLine(usb / "product");
        adapter.serialNumber = firstLine(usb / "serial");
        adapter.vendorId = firstLine(usb / "idVendor");
        adapter.productId = firstLine(usb / "idProduct");
    }
    adapter.stablePath = stablePathOf(root, name);
    return adapter;
}

} // namespace qmr
