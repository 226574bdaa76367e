#include "dispatchingport.h"

#include "networkport.h"

namespace qmr {

DispatchingPort::DispatchingPort(std::unique_ptr<SerialPort> local,
                                 std::unique_ptr<SerialPort> network)
    : m_local(std::move(local)), m_network(std::move(network)), m_current(m_local.get())
{
}

SerialPort &DispatchingPort::choose(const std::string &device)
{
    // Only one device at a time: the other backend gives its device back first.
    SerialPort *next = isNetworkDevice(device) ? m_network.get() : m_local.get();
    if (next != m_current)
        m_current->close();
    m_current = next;
    return *m_current;
}

bool DispatchingPort::open(const std::string &device)
{
    return choose(device).open(device);
}

bool DispatchingPort::probe(const std::string &device)
{
    return choose(device).probe(device);
}

} // namespace qmr
