#include "telnetsession.h"

namespace qmr {

namespace {

// The options this end runs on its side (WILL) and accepts on the server's (DO): binary
// both ways, no go-ahead, and COM port control on ours. Echo above all is refused, the
// server would send the module's own bytes back as if the module had sent them.
bool acceptLocal(std::uint8_t code)
{
    return code == TelnetSession::Binary || code == TelnetSession::SuppressGoAhead ||
           code == TelnetSession::ComPort;
}

bool acceptRemote(std::uint8_t code)
{
    return code == TelnetSession::Binary || code == TelnetSession::SuppressGoAhead;
}

std::uint8_t parityCode(char parity)
{
    switch (parity) {
    case 'o':
        return 2;
    case 'e':
        return 3;
    case 'm':
        return 4;
    case 's':
        return 5;
    default:
        return 1;
    }
}

} // namespace

std::string TelnetSession::command(std::uint8_t verb, std::uint8_t code)
{
    return {char(Iac), char(verb), char(code)};
}

std::string TelnetSession::comPortCommand(std::uint8_t code, std::string_view value)
{
    std::string out{char(Iac), char(Sb), char(ComPort), char(code)};
    out += encode(value);
    out += char(Iac);
    out += char(Se);
    return out;
}

std::string TelnetSession::greeting()
{
    m_askedLocal[Binary] = m_askedRemote[Binary] = m_askedLocal[ComPort] = true;
    return command(Will, Binary) + command(Do, Binary) + command(Will, ComPort);
}

std::string TelnetSession::encode(std::string_view data)
{
    std::string out;
    out.reserve(data.size());
    for (const char c : data) {
        out += c;
        if (std::uint8_t(c) == Iac)
            out += c;
    }
    return out;
}

TelnetSession::LineCodes TelnetSession::codesOf(const LineSettings &settings)
{
    return {std::uint32_t(settings.baud), std::uint8_t(settings.dataBits),
            parityCode(settings.parity), std::uint8_t(settings.stopBits == 2 ? 2 : 1), 1};
}

std::string TelnetSession::lineSettingCommands(const LineSettings &settings)
{
    return lineCodeCommands(codesOf(settings));
}

std::string TelnetSession::lineCodeCommands(const LineCodes &codes)
{
    m_confirmed = {};
    const std::uint32_t baud = codes.baud;
    const std::string baudBytes{char(baud >> 24), char(baud >> 16), char(baud >> 8), char(baud)};
    std::string out = comPortCommand(SetBaudRate, baudBytes) +
                      comPortCommand(SetDataSize, std::string(1, char(codes.dataSize))) +
                      comPortCommand(SetParity, std::string(1, char(codes.parity))) +
                      comPortCommand(SetStopSize, std::string(1, char(codes.stopSize)));
    if (codes.control != 0)
        out += comPortCommand(SetControl, std::string(1, char(codes.control)));
    return out;
}

std::string TelnetSession::lineQuery()
{
    return lineCodeCommands({0, 0, 0, 0, 0});
}

std::string TelnetSession::controlCommands()
{
    // 1: no flow control; 8: DTR on; 11: RTS on.
    return comPortCommand(SetControl, std::string(1, char(1))) +
           comPortCommand(SetControl, std::string(1, char(8))) +
           comPortCommand(SetControl, std::string(1, char(11)));
}

void TelnetSession::option(std::uint8_t verb, std::uint8_t code, std::string &reply)
{
    // Each side answers only a change of state, so two ends never loop on an option.
    switch (verb) {
    case Do:
        if (acceptLocal(code)) {
            if (!m_local[code] && !m_askedLocal[code])
                reply += command(Will, code);
            m_local[code] = true;
        } else {
            reply += command(Wont, code);
        }
        m_askedLocal[code] = false;
        break;
    case Dont:
        if (code == ComPort)
            m_comPortRefused = true;
        if (code == Binary)
            m_binaryRefused = true;
        if (m_local[code])
            reply += command(Wont, code);
        m_local[code] = false;
        m_askedLocal[code] = false;
        break;
    case Will:
        if (acceptRemote(code)) {
            if (!m_remote[code] && !m_askedRemote[code])
                reply += command(Do, code);
            m_remote[code] = true;
        } else {
            reply += command(Dont, code);
        }
        m_askedRemote[code] = false;
        break;
    default: // Wont
        // A server that will not run COM port control on its side refuses it as surely as
        // one that tells us not to.
        if (code == ComPort)
            m_comPortRefused = true;
        if (code == Binary)
            m_binaryRefused = true;
        if (m_remote[code])
            reply += command(Dont, code);
        m_remote[code] = false;
        m_askedRemote[code] = false;
        break;
    }
}

void TelnetSession::subnegotiation()
{
    // Only the server's answers to COM port commands matter; its notifications (line and
    // modem state) and anything else are taken and dropped.
    if (m_sub.size() < 2 || std::uint8_t(m_sub[0]) != ComPort)
        return;
    const std::uint8_t code = std::uint8_t(m_sub[1]);
    const std::string_view value = std::string_view(m_sub).substr(2);
    const auto one = [&](bool &flag, std::uint8_t &to) {
        if (value.size() == 1) {
            flag = true;
            to = std::uint8_t(value[0]);
        }
    };
    LineCodes &v = m_confirmed.value;
    switch (code) {
    case ServerOffset + SetBaudRate:
        if (value.size() == 4) {
            m_confirmed.baud = true;
            v.baud = std::uint32_t(std::uint8_t(value[0])) << 24 |
                     std::uint32_t(std::uint8_t(value[1])) << 16 |
                     std::uint32_t(std::uint8_t(value[2])) << 8 |
                     std::uint32_t(std::uint8_t(value[3]));
        }
        break;
    case ServerOffset + SetDataSize:
        one(m_confirmed.dataSize, v.dataSize);
        break;
    case ServerOffset + SetParity:
        one(m_confirmed.parity, v.parity);
        break;
    case ServerOffset + SetStopSize:
        one(m_confirmed.stopSize, v.stopSize);
        break;
    case ServerOffset + SetControl: {
        // Answers to the DTR and RTS commands (8 to 13) are no flow control answer.
        std::uint8_t answer = 0;
        bool seen = false;
        one(seen, answer);
        if (seen && (answer < 8 || answer > 13)) {
            m_confirmed.control = true;
            v.control = answer;
        }
        break;
    }
    case ServerOffset + FlowControlSuspend:
        m_suspended = true;
        break;
    case ServerOffset + FlowControlResume:
        m_suspended = false;
        break;
    default:
        break;
    }
}

void TelnetSession::receive(std::string_view bytes, std::string &data, std::string &reply)
{
    for (const char c : bytes) {
        const auto b = std::uint8_t(c);
        switch (m_state) {
        case State::Data:
            if (b == Iac)
                m_state = State::Command;
            else
                data += c;
            break;
        case State::SubCommand:
            if (b == Iac) {
                if (m_sub.size() < MaxSubnegotiation)
                    m_sub += c;
                else
                    m_subOverflow = true;
                m_state = State::Sub;
                break;
            }
            if (b == Se) {
                if (!m_subOverflow)
                    subnegotiation();
                m_state = State::Data;
                break;
            }
            // A command inside a subnegotiation ends it unfinished; the command counts.
            [[fallthrough]];
        case State::Command:
            if (b == Iac) {
                data += c;
                m_state = State::Data;
            } else if (b == Will || b == Wont || b == Do || b == Dont) {
                m_verb = b;
                m_state = State::Option;
            } else if (b == Sb) {
                m_sub.clear();
                m_subOverflow = false;
                m_state = State::Sub;
            } else {
                m_state = State::Data; // go-ahead, no-operation and the like carry nothing here
            }
            break;
        case State::Option:
            option(m_verb, b, reply);
            m_state = State::Data;
            break;
        case State::Sub:
            if (b == Iac)
                m_state = State::SubCommand;
            else if (m_sub.size() < MaxSubnegotiation)
                m_sub += c;
            else
                m_subOverflow = true;
            break;
        }
    }
}

} // namespace qmr
