#include "systemport.h"

#include "link/networkport.h"
#include "serialdevice.h"
#include "tcpsocket.h"

namespace qmr {

std::unique_ptr<DispatchingPort> makeSystemPort(Clock &clock)
{
    return std::make_unique<DispatchingPort>(
        std::make_unique<SerialDevice>(),
        std::make_unique<NetworkPort>(clock, std::make_unique<TcpSocket>()));
}

} // namespace qmr
