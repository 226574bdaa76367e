// The network serial port in memory: the Telnet engine against ser2net's own byte sequences,
// and the port over a scripted server on a fake clock (negotiation, line settings, 0xFF both
// ways, a held port, a server that closes, one that never answers, a raw TCP port).

#include "link/dispatchingport.h"
#include "link/link.h"
#include "link/networkport.h"
#include "link/telnetsession.h"
#include "scriptedsocket.h"

#include <gtest/gtest.h>

#include <functional>

using namespace qmr;

namespace {

std::string bytes(std::initializer_list<int> values)
{
    std::string out;
    for (const int v : values)
        out += char(v);
    return out;
}

// A stream with everything the server may mix into the module's bytes: 0xFF doubled, a modem
// state notification, an option request, a subnegotiation holding a doubled 0xFF, a go-ahead.
const std::string ServerStream =
    "\x0a"
    "A" +
    bytes({255, 255}) + "B" + bytes({255, 250, 44, 107, 0x30, 255, 240}) + "C" +
    bytes({255, 253, 24}) + bytes({255, 250, 44, 106, 255, 255, 255, 240}) + "D" +
    bytes({255, 249}) + "\x0d";
const std::string ModuleBytes = std::string("\x0a"
                                            "A") +
                                char(255) + "BCD\x0d";

} // namespace

TEST(TelnetSession, AnswersSer2netsOpeningAndRefusesEcho)
{
    TelnetSession telnet;
    const std::string greeting = telnet.greeting();
    EXPECT_EQ(greeting, bytes({255, 251, 0, 255, 253, 0, 255, 251, 44}));
    std::string data;
    std::string reply;
    telnet.receive(ser2netGreeting(), data, reply);
    EXPECT_TRUE(data.empty());
    // Suppress-go-ahead both ways is agreed, echo refused; what we asked for is not asked again.
    EXPECT_EQ(reply, bytes({255, 253, 3, 255, 251, 3, 255, 254, 1}));
    EXPECT_TRUE(telnet.comPortAgreed());
    EXPECT_FALSE(telnet.comPortRefused());

    // The same offers again change nothing and are not answered (no loop).
    reply.clear();
    telnet.receive(ser2netGreeting().substr(0, 6), data, reply);
    EXPECT_TRUE(reply.empty());
    // An option we do not run is refused once per request.
    telnet.receive(bytes({255, 253, 24, 255, 251, 31}), data, reply);
    EXPECT_EQ(reply, bytes({255, 252, 24, 255, 254, 31}));

    TelnetSession refused;
    refused.greeting();
    refused.receive(bytes({255, 254, 44}), data, reply);
    EXPECT_TRUE(refused.comPortRefused());
    EXPECT_FALSE(refused.comPortAgreed());
}

TEST(TelnetSession, KeepsOnlyModuleBytesWhereverTheStreamIsCut)
{
    // Every cut of the stream into two reads yields the same module bytes.
    for (std::size_t cut = 0; cut <= ServerStream.size(); ++cut) {
        TelnetSession telnet;
        std::string data;
        std::string reply;
        telnet.receive(std::string_view(ServerStream).substr(0, cut), data, reply);
        telnet.receive(std::string_view(ServerStream).substr(cut), data, reply);
        EXPECT_EQ(data, ModuleBytes) << "cut at " << cut;
        EXPECT_EQ(reply, bytes({255, 252, 24})) << "cut at " << cut;
    }
    // An over-long subnegotiation is skipped to its end; the bytes after it count.
    TelnetSession telnet;
    std::string data;
    std::string reply;
    telnet.receive(bytes({255, 250, 44, 101}) + std::string(500, '\x01') + bytes({255, 240}) + "X",
                   data, reply);
    EXPECT_EQ(data, "X");
    EXPECT_FALSE(telnet.confirmed().baud);
    EXPECT_EQ(TelnetSession::encode(bytes({1, 255, 2, 255, 255})),
              bytes({1, 255, 255, 2, 255, 255, 255, 255}));
}

TEST(TelnetSession, LineSettingCommandsAndConfirmations)
{
    TelnetSession telnet;
    const std::string sent = telnet.lineSettingCommands({57600, 'e', 8, 1});
    EXPECT_EQ(sent, bytes({255, 250, 44, 1, 0, 0,   0xE1, 0x00, 255, 240, // baud 57600
                           255, 250, 44, 2, 8, 255, 240,                  // 8 data bits
                           255, 250, 44, 3, 3, 255, 240,                  // even parity
                           255, 250, 44, 4, 1, 255, 240,                  // 1 stop bit
                           255, 250, 44, 5, 1, 255, 240}));               // no flow control
    std::string data;
    std::string reply;
    telnet.receive(answerComPort(sent).substr(0, 30), data, reply);
    EXPECT_FALSE(telnet.confirmed().all());
    telnet.receive(answerComPort(sent).substr(30), data, reply);
    EXPECT_TRUE(telnet.confirmed().all());
    EXPECT_EQ(telnet.confirmed().value.baud, 57600u);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(telnet.lineSettingCommands({9600, 'n', 8, 2}).substr(17, 14),
              bytes({255, 250, 44, 3, 1, 255, 240, 255, 250, 44, 4, 2, 255, 240}));
}

TEST(NetworkAddress, NamesOfNetworkPorts)
{
    const auto a = parseNetworkAddress("rfc2217://127.0.0.7:4001");
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->comPortControl);
    EXPECT_EQ(a->host, "127.0.0.7");
    EXPECT_EQ(a->port, 4001);
    const auto b = parseNetworkAddress("TCP://[::1]:65535");
    ASSERT_TRUE(b);
    EXPECT_FALSE(b->comPortControl);
    EXPECT_EQ(b->host, "::1");
    for (const char *bad : {"rfc2217://host", "rfc2217://:4001", "rfc2217://host:0",
                            "rfc2217://host:65536", "tcp://host:40x1", "tcp://a b:1",
                            "tcp://::1:4001", "/dev/ttyUSB0", "COM5", "rfc2217://host:-1"})
        EXPECT_FALSE(parseNetworkAddress(bad)) << bad;
    EXPECT_TRUE(isNetworkDevice("rfc2217://host"));
    EXPECT_FALSE(isNetworkDevice("/dev/rfc2217"));
}

class NetworkPortTest : public ::testing::Test
{
protected:
    NetworkPortTest()
    {
        auto owned = std::make_unique<ScriptedSocket>(clock);
        socket = owned.get();
        port = std::make_unique<NetworkPort>(clock, std::move(owned));
        socket->onConnect = ser2netGreeting;
        socket->server = [](std::string_view sent) { return answerComPort(sent); };
    }
    FakeClock clock{0xFFFFFF00u};
    ScriptedSocket *socket = nullptr;
    std::unique_ptr<NetworkPort> port;
};

TEST_F(NetworkPortTest, LinkRoundTripOverRfc2217)
{
    const FixedPortMap map({{5, "rfc2217://127.0.0.1:4001"}});
    Link link(*port, clock, map);
    ASSERT_TRUE(link.ComOpen(5, "57600,e,8,1"));
    EXPECT_FALSE(link.lineFixed());
    EXPECT_NE(socket->sent.find(bytes({255, 250, 44, 1, 0, 0, 0xE1, 0x00, 255, 240})),
              std::string::npos);

    // The server answers a command with a reply holding 0xFF (doubled on the wire) and a
    // notification in its middle.
    const std::string reply = "\x0a"
                              "A00:" +
                              std::string(1, char(255)) + "123";
    const std::string check = Link::checkDigits([&] {
        std::uint8_t c = 0;
        for (const char ch : reply)
            c ^= std::uint8_t(ch);
        return c;
    }());
    socket->server = [&](std::string_view sent) {
        return sent.back() == '\x0d' ? TelnetSession::encode(reply.substr(0, 5)) +
                                           bytes({255, 250, 44, 107, 0x30, 255, 240}) +
                                           TelnetSession::encode(reply.substr(5) + check + "\x0d")
                                     : std::string();
    };
    const std::size_t before = socket->sent.size();
    const std::string command = "A00\xff";
    ASSERT_TRUE(link.SendCommand(command));
    EXPECT_EQ(link.ReplyText, reply + check + "\x0d");
    // The command's 0xFF went out doubled.
    EXPECT_EQ(socket->sent.substr(before, 6), bytes({9, 'A', '0', '0', 255, 255}));
    link.ComClose();
    EXPECT_FALSE(port->isOpen());
}

TEST_F(NetworkPortTest, HeldPortVanishedServerAndSilentHost)
{
    // ser2net gives a held port's second client its greeting, a message and the close.
    socket->onConnect = [] { return ser2netGreeting() + "Port already in use\r\n"; };
    socket->server = nullptr;
    socket->closeWhenDrained = true;
    EXPECT_FALSE(port->open("rfc2217://127.0.0.1:4001"));
    EXPECT_EQ(port->error(), PortError::Busy);
    EXPECT_NE(port->errorString().find("\"Port already in use\""), std::string::npos);

    // Open, then the server goes away: reads and writes fail as on a vanished device.
    socket->onConnect = ser2netGreeting;
    socket->server = [](std::string_view sent) { return answerComPort(sent); };
    socket->closeWhenDrained = false;
    ASSERT_TRUE(port->open("rfc2217://127.0.0.1:4001"));
    ASSERT_TRUE(port->setTimeouts(Link::WorkingTimeouts));
    char byte = 0;
    EXPECT_EQ(port->readByte(&byte), 0);
    socket->closeWhenDrained = true;
    EXPECT_EQ(port->readByte(&byte), -1);
    EXPECT_EQ(port->error(), PortError::Io);
    EXPECT_EQ(port->write("x", 1), -1);
    port->close();
    socket->closeWhenDrained = false;

    // A server that never negotiates, a host that never answers: each within the limit.
    socket->onConnect = nullptr;
    socket->server = nullptr;
    std::uint32_t start = clock.milliseconds();
    EXPECT_FALSE(port->open("rfc2217://127.0.0.1:4001"));
    EXPECT_LE(clock.milliseconds() - start, NetworkPort::ConnectLimitMs + 60);
    EXPECT_NE(port->errorString().find("did not complete"), std::string::npos);
    socket->silent = true;
    start = clock.milliseconds();
    EXPECT_FALSE(port->open("rfc2217://127.0.0.2:4001"));
    EXPECT_LE(clock.milliseconds() - start, NetworkPort::ConnectLimitMs);
    EXPECT_NE(port->error(), PortError::NoError);
    EXPECT_FALSE(port->open("rfc2217://nohost"));
    EXPECT_EQ(port->error(), PortError::NotFound);
}

TEST_F(NetworkPortTest, RawPortSendsNoTelnetAndKeepsTheServersLine)
{
    socket->onConnect = nullptr;
    socket->server = [](std::string_view sent) { return std::string(sent); }; // an echo
    ASSERT_TRUE(port->open("tcp://127.0.0.1:4002"));
    EXPECT_TRUE(socket->sent.empty());
    EXPECT_TRUE(port->fixedLine());
    EXPECT_FALSE(port->setLineSettings({57600, 'e', 8, 1}));
    EXPECT_NE(port->errorString().find("cannot be changed"), std::string::npos);
    ASSERT_TRUE(port->setTimeouts(Link::WorkingTimeouts));
    EXPECT_EQ(port->write(bytes({255, 1}).data(), 2), 2);
    EXPECT_EQ(socket->sent, bytes({255, 1}));
    char byte = 0;
    ASSERT_EQ(port->readByte(&byte), 1);
    EXPECT_EQ(std::uint8_t(byte), 255);
    port->close();

    // A raw server whose message comes after the settle time and closes: still a held port.
    socket->onConnect = nullptr;
    ASSERT_TRUE(port->open("tcp://127.0.0.1:4002"));
    socket->incoming.push_back("Port already in use\r\n");
    socket->closeWhenDrained = true;
    ASSERT_TRUE(port->setTimeouts(Link::WorkingTimeouts));
    EXPECT_EQ(port->readByte(&byte), -1);
    EXPECT_EQ(port->error(), PortError::Busy);
    port->close();

    // A held raw port: the server's message and the close come at once.
    socket->onConnect = [] { return std::string("Port's device already in use\r\n"); };
    socket->closeWhenDrained = true;
    EXPECT_FALSE(port->open("tcp://127.0.0.1:4002"));
    EXPECT_EQ(port->error(), PortError::Busy);
}

// The habits of device servers other than ser2net, each with the outcome it must get and the
// most (fake) time it may cost.
struct ServerHabit
{
    const char *name;
    std::function<void(ScriptedSocket &, ComPortServer &)> arrange;
    LineSettings line;  // set after the open; the open alone when baud is 0
    PortError error;    // NoError: it works
    const char *reason; // in the error text
    std::uint32_t maxMs;
};

TEST(ServerHabits, EachGetsItsReasonInBoundedTime)
{
    const std::string greeting = ser2netGreeting();
    const std::string noBinary = bytes({255, 253, 44, 255, 252, 0, 255, 254, 0});
    const ServerHabit habits[] = {
        {"refuses binary",
         [&](auto &s, auto &) { s.onConnect = [&] { return noBinary; }; },
         {0, 'e', 8, 1},
         PortError::NotASerialPort,
         "refuses binary transfer",
         60},
        {"answers another parity",
         [](auto &, auto &c) { c.answerInstead[3] = 1; },
         {19200, 'e', 8, 1},
         PortError::Other,
         "cannot set parity even",
         60},
        {"won't COM port control",
         [](auto &s, auto &) { s.onConnect = [] {
                                   return bytes({255, 252, 44});
                               }; },
         {0, 'e', 8, 1},
         PortError::NotASerialPort,
         "COM port control",
         60},
        {"silent",
         [](auto &s, auto &) {
             s.onConnect = nullptr;
             s.server = nullptr;
         },
         {0, 'e', 8, 1},
         PortError::Other,
         "did not complete",
         NetworkPort::ConnectLimitMs + 60},
        {"leaves out one answer",
         [](auto &, auto &c) { c.answerInstead[4] = -1; },
         {19200, 'e', 8, 2},
         PortError::Other,
         "no answer about its stop size",
         NetworkPort::LineSettingLimitMs + 60},
        {"floods before the port is open",
         [&](auto &s, auto &) {
             s.onConnect = [&] { return std::string(100000, 'x') + greeting; };
         },
         {19200, 'e', 8, 1},
         PortError::NoError,
         "",
         60},
        {"held, gone before our first word",
         [&](auto &s, auto &) {
             s.onConnect = [&] { return greeting + "Port already in use\r\n"; };
             s.resetOnSend = s.closeWhenDrained = true;
         },
         {0, 'e', 8, 1},
         PortError::Busy,
         "in use by another client (the server says \"Port "
         "already in use\")",
         60},
    };
    for (const ServerHabit &habit : habits) {
        FakeClock clock;
        auto owned = std::make_unique<ScriptedSocket>(clock);
        ScriptedSocket &socket = *owned;
        ComPortServer server;
        socket.onConnect = ser2netGreeting;
        socket.server = std::ref(server);
        habit.arrange(socket, server);
        NetworkPort port(clock, std::move(owned));
        const std::uint32_t start = clock.milliseconds();
        bool ok = port.open("rfc2217://127.0.0.1:4001");
        if (ok && habit.line.baud != 0)
            ok = port.setLineSettings(habit.line);
        EXPECT_LE(clock.milliseconds() - start, habit.maxMs) << habit.name;
        EXPECT_EQ(ok, habit.error == PortError::NoError) << habit.name;
        if (ok) {
            ASSERT_TRUE(port.setTimeouts(Link::WorkingTimeouts));
            char byte = 0;
            EXPECT_EQ(port.readByte(&byte), 0) << habit.name << ": the flood is no module byte";
            continue;
        }
        EXPECT_EQ(port.error(), habit.error) << habit.name;
        EXPECT_NE(port.errorString().find(habit.reason), std::string::npos)
            << habit.name << ": " << port.errorString();
    }
}

TEST(ServerHabits, ASweepKeepsOneConnectionAndLeavesTheServersLine)
{
    FakeClock clock;
    auto owned = std::make_unique<ScriptedSocket>(clock);
    ScriptedSocket &socket = *owned;
    ComPortServer server;        // found at 9600,n,8,1
    server.answerInstead[3] = 1; // and it cannot do even parity
    socket.onConnect = ser2netGreeting;
    socket.server = std::ref(server);
    NetworkPort port(clock, std::move(owned));
    const FixedPortMap map({{5, "rfc2217://127.0.0.1:4001"}});
    Link link(port, clock, map);
    {
        const ConnectionHold hold(link);
        for (const char *line : {"57600,e,8,1", "115200,n,8,1", "38400,n,8,2"}) {
            ASSERT_TRUE(link.ComOpen(5, line));
            link.ComClose();
        }
        EXPECT_EQ(socket.connects, 1);
        EXPECT_EQ(server.line.baud, 38400u);
        ASSERT_TRUE(link.ComOpen(5, "57600,e,8,1"));
        EXPECT_EQ(link.lineRefusal(), "the server cannot set parity even");
        link.ComClose();
    }
    // The DTR and RTS were raised once; the server's port is at its own line again.
    EXPECT_NE(socket.sent.find(bytes({255, 250, 44, 5, 8, 255, 240, 255, 250, 44, 5, 11})),
              std::string::npos);
    EXPECT_EQ(server.line, (TelnetSession::LineCodes{9600, 8, 1, 1, 1}));
    EXPECT_EQ(socket.connects, 1);

    // A dead port is tried once per operation, not per open.
    socket.silent = true;
    {
        const ConnectionHold hold(link);
        EXPECT_FALSE(link.ComOpen(5, "57600,e,8,1"));
        EXPECT_FALSE(link.ComOpen(5, "19200,e,8,1"));
        EXPECT_EQ(socket.connects, 2);
    }
    EXPECT_FALSE(link.ComOpen(5, "19200,e,8,1"));
    EXPECT_EQ(socket.connects, 3);
}

TEST(ServerHabits, FlowControlSuspendHoldsTheModulesBytes)
{
    FakeClock clock;
    auto owned = std::make_unique<ScriptedSocket>(clock);
    ScriptedSocket &socket = *owned;
    socket.onConnect = ser2netGreeting;
    socket.server = ComPortServer();
    NetworkPort port(clock, std::move(owned));
    ASSERT_TRUE(port.open("rfc2217://127.0.0.1:4001"));
    ASSERT_TRUE(port.setTimeouts(Link::WorkingTimeouts));
    socket.incoming.push_back(bytes({255, 250, 44, 108, 255, 240}));
    char byte = 0;
    EXPECT_EQ(port.readByte(&byte), 0);
    const std::size_t before = socket.sent.size();
    const std::uint32_t start = clock.milliseconds();
    EXPECT_EQ(port.write("A", 1), -1); // no resume within a reply window
    EXPECT_LE(clock.milliseconds() - start, NetworkPort::SuspendLimitMs + 30);
    EXPECT_EQ(socket.sent.size(), before);
    socket.incoming.push_back(bytes({255, 250, 44, 109, 255, 240}));
    EXPECT_EQ(port.readByte(&byte), 0);
    EXPECT_EQ(port.write("A", 1), 1);
}

TEST(DispatchingPort, ChoosesTheBackendByName)
{
    FakeClock clock;
    auto socketOwned = std::make_unique<ScriptedSocket>(clock);
    ScriptedSocket &socket = *socketOwned;
    socket.refuse = true;
    auto local = std::make_unique<NetworkPort>(clock, std::make_unique<ScriptedSocket>(clock));
    DispatchingPort port(std::move(local),
                         std::make_unique<NetworkPort>(clock, std::move(socketOwned)));
    EXPECT_FALSE(port.open("rfc2217://127.0.0.1:1"));
    EXPECT_TRUE(port.network());
    EXPECT_EQ(socket.connects, 1);
    EXPECT_NE(port.errorString().find("refused"), std::string::npos);
    // A device path goes to the local backend (here a network port, which refuses the name).
    EXPECT_FALSE(port.open("/dev/ttyUSB0"));
    EXPECT_FALSE(port.network());
    EXPECT_EQ(socket.connects, 1);
}
