#pragma once

#include "link/clock.h"
#include "link/serialport.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qmr {

// A lock on a file, released when the object goes.
class FileLock
{
public:
    virtual ~FileLock() = default;
};

// A serial backend and a clock for one port. The clock is declared first so that it outlives
// the port, which may keep a reference to it (the in-memory port of the tests does).
struct PortDevices
{
    std::unique_ptr<Clock> clock;
    std::unique_ptr<SerialPort> port;
};

// What a program gives qmrctl for ports named on the command line (--port, --ports). Each
// provisioning thread asks for devices of its own, so no port or clock is shared between
// threads; the real program gives a new backend and clock, the tests an in-memory module on
// a fake clock.
class DeviceFactory
{
public:
    virtual ~DeviceFactory() = default;
    // The device behind a port name as the user typed it ("COM5", "/dev/ttyUSB0"), or an
    // empty text when the name is no port on this system.
    virtual std::string deviceFor(const std::string &portName) const = 0;
    // Devices for the thread that calls it, to talk to `device`; called on that thread.
    virtual PortDevices makeDevices(const std::string &device) = 0;
    // Makes what was written to the file durable, so that it survives a power cut (the
    // provisioning record calls it after every line); false with the system's reason.
    virtual bool persist(const std::filesystem::path &file, std::string &why) = 0;
    // Makes the entry of a file just created in its directory durable; false with the reason.
    virtual bool persistDirectory(const std::filesystem::path &file, std::string &why) = 0;
    // Locks the file (creating it when there is none) against every other process for as long
    // as the returned object lives. Nothing when it cannot be locked: heldElsewhere when
    // another process holds it, else why says what failed.
    virtual std::unique_ptr<FileLock> lockFile(const std::filesystem::path &file,
                                               bool &heldElsewhere, std::string &why) = 0;
    // What names the device whichever way it was written ("COM3" and "com3", a symlink and its
    // target), so one device listed twice is found.
    virtual std::string deviceIdentity(const std::string &device) const { return device; }
};

// The path of a file named in UTF-8 (as qmrctl's arguments are on every system): on Windows
// it reaches the file system through the wide calls, so any character works.
std::filesystem::path filePath(const std::string &utf8);
// The UTF-8 text of a path, for messages.
std::string pathText(const std::filesystem::path &path);

} // namespace qmr
