#include "systemportmap.h"

#include "systemadapters.h"

#include <QFileInfo>
#include <QSerialPortInfo>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <set>
#include <utility>

namespace qmr {

namespace {

// The real device behind a path, so that a link and its target count as one device.
QString canonicalDevice(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QFileInfo(path).absoluteFilePath() : canonical;
}

// 0 on-board UARTs, 1 USB adapters, 2 USB modems (ACM), 3 Bluetooth and other links.
int deviceGroup(const QString &name)
{
    if (name.startsWith(QLatin1String("ttyUSB")))
        return 1;
    if (name.startsWith(QLatin1String("ttyACM")))
        return 2;
    if (name.startsWith(QLatin1String("rfcomm")))
        return 3;
    return 0;
}

// Compares texts with runs of digits taken as numbers: ttyUSB2 before ttyUSB10.
bool naturalLess(const QString &a, const QString &b)
{
    int i = 0;
    int j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            int ei = i;
            int ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            // Compare the numbers without converting them: skip leading zeros, then length.
            int si = i;
            int sj = j;
            while (si < ei - 1 && a[si] == QLatin1Char('0'))
                ++si;
            while (sj < ej - 1 && b[sj] == QLatin1Char('0'))
                ++sj;
            const QStringView na = QStringView(a).mid(si, ei - si);
            const QStringView nb = QStringView(b).mid(sj, ej - sj);
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (const int c = na.compare(nb); c != 0)
                return c < 0;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    if ((a.size() - i) != (b.size() - j))
        return (a.size() - i) < (b.size() - j);
    return a < b;
}

} // namespace

SystemPortMap::SystemPortMap(std::map<int, std::string> assignments,
                             std::vector<std::string> systemPorts)
    : m_assignments(std::move(assignments))
{
    if (systemPorts.empty())
        systemPorts = systemSerialPorts();

    std::set<QString> assigned;
    for (const auto &[comNumber, path] : m_assignments) {
        if (!path.empty())
            assigned.insert(canonicalDevice(QString::fromStdString(path)));
    }
    std::set<QString> seen;
    for (const std::string &device : sortedDevices(std::move(systemPorts))) {
        const QString canonical = canonicalDevice(QString::fromStdString(device));
        if (assigned.contains(canonical) || seen.contains(canonical))
            continue;
        seen.insert(canonical);
        m_unassigned.push_back(device);
    }
}

std::string SystemPortMap::deviceFor(int comNumber) const
{
    if (const auto it = m_assignments.find(comNumber); it != m_assignments.end())
        return it->second;
    if (comNumber < 1)
        return {};
    // The COM numbers not named in [Ports] take the system's ports in turn.
    std::size_t index = std::size_t(comNumber - 1);
    for (const auto &[assigned, path] : m_assignments) {
        if (assigned >= 1 && assigned < comNumber)
            --index;
    }
    return index < m_unassigned.size() ? m_unassigned[index] : std::string();
}

AdapterIdentity SystemPortMap::adapterFor(const std::string &device) const
{
    return sysfsAdapter(device);
}

std::vector<std::string> SystemPortMap::systemSerialPorts()
{
    std::vector<std::string> devices;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        devices.push_back(info.systemLocation().toStdString());
    return sortedDevices(std::move(devices));
}

std::vector<std::string> SystemPortMap::sortedDevices(std::vector<std::string> devices)
{
    // Compared as Qt text, the way the names were always ordered here.
    std::vector<std::pair<QString, std::string>> keyed;
    keyed.reserve(devices.size());
    for (std::string &device : devices)
        keyed.emplace_back(QString::fromStdString(device), std::move(device));
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto &ka, const auto &kb) {
        const QString &a = ka.first;
        const QString &b = kb.first;
        const QString na = QFileInfo(a).fileName();
        const QString nb = QFileInfo(b).fileName();
        const int ga = deviceGroup(na);
        const int gb = deviceGroup(nb);
        if (ga != gb)
            return ga < gb;
        if (na != nb)
            return naturalLess(na, nb);
        return naturalLess(a, b);
    });
    devices.clear();
    for (auto &entry : keyed)
        devices.push_back(std::move(entry.second));
    return devices;
}

} // namespace qmr
