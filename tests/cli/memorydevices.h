#pragma once

#include "cli/devicefactory.h"
#include "sim/fakeclock.h"
#include "sim/memoryport.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qmr {

// Ports named on the command line, for tests: each name stands for an in-memory device, and
// every makeDevices() call makes a fresh fake clock and in-memory port of its own (as each
// provisioning thread gets), on which the test puts its modules through setUp.
class MemoryDevices : public DeviceFactory
{
public:
    std::map<std::string, std::string> names; // port name -> device
    // Called on the thread that asks, with its new port and clock.
    std::function<void(const std::string &device, MemoryPort &port, FakeClock &clock)> setUp;

    std::string deviceFor(const std::string &portName) const override
    {
        const auto it = names.find(portName);
        return it == names.end() ? std::string() : it->second;
    }

    PortDevices makeDevices(const std::string &device) override
    {
        auto clock = std::make_unique<FakeClock>();
        auto port = std::make_unique<MemoryPort>(*clock);
        port->addDevice(device);
        if (setUp)
            setUp(device, *port, *clock);
        const std::lock_guard lock(m_mutex);
        ++m_made;
        m_ports[device] = port.get();
        return {std::move(clock), std::move(port)};
    }

    void persist(const std::string &path) override
    {
        const std::lock_guard lock(m_mutex);
        persisted.push_back(path);
    }
    std::vector<std::string> persisted; // every persist() call's path, in order

    int made() const
    {
        const std::lock_guard lock(m_mutex);
        return m_made;
    }
    // The last port made for a device (alive while the command that made it runs).
    MemoryPort *portFor(const std::string &device) const
    {
        const std::lock_guard lock(m_mutex);
        const auto it = m_ports.find(device);
        return it == m_ports.end() ? nullptr : it->second;
    }

private:
    mutable std::mutex m_mutex;
    int m_made = 0;
    std::map<std::string, MemoryPort *> m_ports;
};

} // namespace qmr
