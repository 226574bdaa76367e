#pragma once

#include "serialport.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qmr {

// The Telnet side of a network serial port (a serial device server speaking Telnet with the
// COM port control option). It only turns bytes into bytes: what the server sent becomes the
// module's bytes and the answers owed to the server, and the module's bytes and line settings
// become what goes to the server. No socket, no clock, so it is tested in memory.
class TelnetSession
{
public:
    static constexpr std::uint8_t Iac = 255;
    static constexpr std::uint8_t Dont = 254;
    static constexpr std::uint8_t Do = 253;
    static constexpr std::uint8_t Wont = 252;
    static constexpr std::uint8_t Will = 251;
    static constexpr std::uint8_t Sb = 250;
    static constexpr std::uint8_t Se = 240;
    static constexpr std::uint8_t Binary = 0;
    static constexpr std::uint8_t SuppressGoAhead = 3;
    static constexpr std::uint8_t ComPort = 44;
    // COM port control commands; the server answers each with the code plus 100.
    static constexpr std::uint8_t SetBaudRate = 1;
    static constexpr std::uint8_t SetDataSize = 2;
    static constexpr std::uint8_t SetParity = 3;
    static constexpr std::uint8_t SetStopSize = 4;
    static constexpr std::uint8_t SetControl = 5;
    static constexpr std::uint8_t FlowControlSuspend = 8;
    static constexpr std::uint8_t FlowControlResume = 9;
    static constexpr std::uint8_t ServerOffset = 100;
    // The longest subnegotiation kept; the rest of a longer one is skipped up to its end.
    static constexpr std::size_t MaxSubnegotiation = 32;

    // The server's line in its own codes (RFC 2217: parity 1 none, 2 odd, 3 even; stop size
    // 1 one, 2 two; control 1 no flow control).
    struct LineCodes
    {
        std::uint32_t baud = 0;
        std::uint8_t dataSize = 0;
        std::uint8_t parity = 0;
        std::uint8_t stopSize = 0;
        std::uint8_t control = 0;
        friend bool operator==(const LineCodes &, const LineCodes &) = default;
    };
    static LineCodes codesOf(const LineSettings &settings);

    // What the server answered to the SET- commands, one flag per command, with its values.
    struct Confirmed
    {
        bool baud = false;
        bool dataSize = false;
        bool parity = false;
        bool stopSize = false;
        bool control = false;
        LineCodes value;
        bool all() const { return baud && dataSize && parity && stopSize && control; }
        bool line() const { return baud && dataSize && parity && stopSize; }
    };

    // Our opening offers: binary both ways and COM port control.
    std::string greeting();
    // Takes bytes the server sent: the module's bytes are appended to data, the answers the
    // negotiation owes the server to reply. Any byte sequence is taken; a sequence cut between
    // two calls continues with the next.
    void receive(std::string_view bytes, std::string &data, std::string &reply);
    // The module's bytes as they go to the server (0xFF doubled).
    static std::string encode(std::string_view data);
    // The five commands that set the server's line: baud, data bits, parity, stop bits and
    // no flow control. Clears what was confirmed before.
    std::string lineSettingCommands(const LineSettings &settings);
    // The same with the server's own codes; the control command only when codes.control is set.
    std::string lineCodeCommands(const LineCodes &codes);
    // Asks for the server's baud rate, data size, parity and stop size without changing them
    // (value 0 asks); the answers give the line as found and confirm the port is ours.
    std::string lineQuery();
    // No flow control, DTR and RTS raised: what a module without modem lines wants.
    static std::string controlCommands();

    // The server agreed to COM port control (it said DO), or refused it (DONT or WONT).
    bool comPortAgreed() const { return m_local[ComPort]; }
    bool comPortRefused() const { return m_comPortRefused; }
    // Binary transfer agreed both ways, or refused by the server either way.
    bool binaryAgreed() const { return m_local[Binary] && m_remote[Binary]; }
    bool binaryRefused() const { return m_binaryRefused; }
    // The server asked us to hold the module's bytes (FLOWCONTROL-SUSPEND until RESUME).
    bool suspended() const { return m_suspended; }
    const Confirmed &confirmed() const { return m_confirmed; }

private:
    enum class State
    {
        Data,
        Command,
        Option,
        Sub,
        SubCommand
    };
    void option(std::uint8_t verb, std::uint8_t code, std::string &reply);
    void subnegotiation();
    static std::string command(std::uint8_t verb, std::uint8_t code);
    static std::string comPortCommand(std::uint8_t code, std::string_view value);

    State m_state = State::Data;
    std::uint8_t m_verb = 0;
    std::string m_sub;
    bool m_subOverflow = false;
    // Options enabled on our side (we WILL) and the server's (it WILL), and what we asked for,
    // so an answer to our own request is not answered again.
    std::array<bool, 256> m_local{};
    std::array<bool, 256> m_remote{};
    std::array<bool, 256> m_askedLocal{};
    std::array<bool, 256> m_askedRemote{};
    bool m_comPortRefused = false;
    bool m_binaryRefused = false;
    bool m_suspended = false;
    Confirmed m_confirmed;
};

} // namespace qmr
