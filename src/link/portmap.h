#pragma once

#include "adapteridentity.h"

#include <map>
#include <string>

namespace qmr {

// Maps COM numbers (1, 2, ...) to the names of the devices that stand behind them. Each
// platform has its own rule; the link only asks.
class PortMap
{
public:
    virtual ~PortMap() = default;
    // The device for a COM number, or an empty text when there is none.
    virtual std::string deviceFor(int comNumber) const = 0;
    // What the system knows of the adapter behind a device this map gave; nothing by default.
    virtual AdapterIdentity adapterFor(const std::string &device) const
    {
        (void)device;
        return {};
    }
};

// A fixed table: for tests, the emulator demo, and ports named on the command line.
class FixedPortMap : public PortMap
{
public:
    FixedPortMap() = default;
    explicit FixedPortMap(std::map<int, std::string> devices) : m_devices(std::move(devices)) {}
    std::string deviceFor(int comNumber) const override
    {
        const auto it = m_devices.find(comNumber);
        return it == m_devices.end() ? std::string() : it->second;
    }
    void set(int comNumber, std::string device) { m_devices[comNumber] = std::move(device); }

private:
    std::map<int, std::string> m_devices;
};

} // namespace qmr
