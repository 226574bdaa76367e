#pragma once

#include <cstdint>
#include <string>

namespace qmr {

// One serial line definition: baud, parity (none or even), data bits, stop bits.
struct LineSettings
{
    std::int32_t baud = 19200;
    char parity = 'e'; // 'n' none, 'e' even ('o', 'm', 's' are read but never used here)
    int dataBits = 8;
    int stopBits = 1;
    friend bool operator==(const LineSettings &, const LineSettings &) = default;
};

// The read/write behaviour of an open port, field by field as the module link uses it
// (milliseconds). With the link's working values a one-byte read returns a waiting byte at
// once or nothing after about ReadTotalTimeoutConstant ms.
struct CommTimeouts
{
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
    friend bool operator==(const CommTimeouts &, const CommTimeouts &) = default;
};

// Why an open failed (or what went wrong last).
enum class PortError
{
    NoError,
    NotFound,         // no such device (or the COM number maps to nothing)
    PermissionDenied, // the device exists but this user may not open it
    Busy,             // held by another program or another copy of this one
    NotASerialPort,   // the path exists but is not a serial device
    Io,               // a read or write failed (the device vanished, say)
    Other,
};

// A serial device as the link sees it. One object serves one open device at a time.
// Device names and error texts are UTF-8.
class SerialPort
{
public:
    virtual ~SerialPort() = default;

    // Opens the device exclusively (no other program or copy, whatever path names it).
    // Returns false with error()/errorString() set when it does not open.
    virtual bool open(const std::string &device) = 0;
    // Gives the device back: the line settings and timeouts it had before open() are restored.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Tells whether open() would succeed while touching the device as little as the system
    // allows: no line setting is applied and nothing is written. error()/errorString() as
    // open() sets them.
    virtual bool probe(const std::string &device)
    {
        const bool opened = open(device);
        if (opened)
            close();
        return opened;
    }

    // The current timeouts of the open port, and setting them; false when refused.
    virtual CommTimeouts timeouts() const = 0;
    virtual bool setTimeouts(const CommTimeouts &timeouts) = 0;
    // Applies baud, parity, data and stop bits, no flow control; false when refused.
    virtual bool setLineSettings(const LineSettings &settings) = 0;

    // Writes count bytes and returns when they are handed to the device (blocking).
    // Returns the number written, or -1 on failure.
    virtual std::int64_t write(const char *data, std::int64_t count) = 0;
    // Reads at most one byte, honouring the timeouts: returns 1 with the byte when one is
    // waiting or arrives in time, 0 when none came, -1 when the read failed.
    virtual int readByte(char *byte) = 0;

    // The line setting belongs to the far end (a raw network port): setLineSettings cannot
    // change it, so trying other settings is pointless.
    virtual bool fixedLine() const { return false; }
    // Brackets one operation's use of the port (calls nest): in between, a network port keeps
    // its connection over close() for the next open() of the same device, and a device that
    // did not open is not tried again. A local device ignores it.
    virtual void keepConnection(bool /*keep*/) {}
    // Why the far end cannot carry the line setting last asked for (a network server that
    // answered another value or none); empty when it can, and for a local device, whose
    // driver may refuse a setting its line still carries (a pseudo-terminal's parity).
    virtual std::string lineRefusal() const { return {}; }

    virtual PortError error() const = 0;
    virtual std::string errorString() const = 0;
};

} // namespace qmr
