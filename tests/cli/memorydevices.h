#pragma once

#include "cli/devicefactory.h"
#include "cli/fileservices.h"
#include "sim/fakeclock.h"
#include "sim/memoryport.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace qmr {

// Locked paths, as the system keeps them per file; factories that share one lock each other out.
class HeldPaths
{
public:
    class Lock : public FileLock
    {
    public:
        Lock(HeldPaths &held, std::string path) : m_held(held), m_path(std::move(path)) {}
        ~Lock() override
        {
            const std::lock_guard lock(m_held.m_mutex);
            m_held.m_paths.erase(m_path);
        }
        Lock(const Lock &) = delete;
        Lock &operator=(const Lock &) = delete;

    private:
        HeldPaths &m_held;
        std::string m_path;
    };
    std::unique_ptr<FileLock> take(const std::string &path)
    {
        const std::lock_guard lock(m_mutex);
        if (!m_paths.insert(path).second)
            return nullptr;
        return std::make_unique<Lock>(*this, path);
    }

private:
    std::mutex m_mutex;
    std::set<std::string> m_paths;
};

// Ports named on the command line, for tests: each name stands for an in-memory device, and
// every makeDevices() call makes a fresh fake clock and in-memory port of its own (as each
// provisioning thread gets), on which the test puts its modules through setUp. It keeps the
// record's files too: every persist() call is counted, and locks hold among its copies.
class MemoryDevices : public DeviceFactory, public FileServices
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

    bool persist(const std::filesystem::path &file, std::string &why) override
    {
        const std::lock_guard lock(m_mutex);
        persisted.push_back(file.string());
        if (persistFailsFrom > 0 && int(persisted.size()) >= persistFailsFrom) {
            why = "Input/output error";
            return false;
        }
        return true;
    }
    bool persistDirectory(const std::filesystem::path &file, std::string &) override
    {
        const std::lock_guard lock(m_mutex);
        directoriesPersisted.push_back(file.string());
        return true;
    }
    // Locks among the factories of one test process, as the system's lock does among processes.
    std::unique_ptr<FileLock> lockFile(const std::filesystem::path &file, bool &heldElsewhere,
                                       std::string &why) override;
    std::string deviceIdentity(const std::string &device) const override
    {
        const auto it = sameDevice.find(device);
        return it == sameDevice.end() ? device : it->second;
    }

    std::vector<std::string> persisted; // every persist() call's path, in order
    std::vector<std::string> directoriesPersisted;
    int persistFailsFrom = 0; // the persist() call, counted from 1, from which on it fails
    std::map<std::string, std::string> sameDevice; // another name of a device -> the device
    std::shared_ptr<HeldPaths> locks = std::make_shared<HeldPaths>();

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

inline std::unique_ptr<FileLock> MemoryDevices::lockFile(const std::filesystem::path &file,
                                                         bool &heldElsewhere, std::string &why)
{
    std::ofstream create(file, std::ios::app);
    if (!create) {
        heldElsewhere = false;
        why = "cannot be created";
        return nullptr;
    }
    auto lock = locks->take(std::filesystem::absolute(file).string());
    heldElsewhere = !lock;
    return lock;
}

} // namespace qmr
