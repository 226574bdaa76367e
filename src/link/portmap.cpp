#include "portmap.h"

#include <QFileInfo>
#include <QSerialPortInfo>
#include <QSet>
#include <algorithm>

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

SystemPortMap::SystemPortMap(QMap<int, QString> assignments, QStringList systemPorts)
    : m_assignments(std::move(assignments))
{
    if (systemPorts.isEmpty())
        systemPorts = systemSerialPorts();

    QSet<QString> assigned;
    for (const QString &path : std::as_const(m_assignments)) {
        if (!path.isEmpty())
            assigned.insert(canonicalDevice(path));
    }
    QSet<QString> seen;
    for (const QString &device : sortedDevices(systemPorts)) {
        const QString canonical = canonicalDevice(device);
        if (assigned.contains(canonical) || seen.contains(canonical))
            continue;
        seen.insert(canonical);
        m_unassigned.append(device);
    }
}

QString SystemPortMap::deviceFor(int comNumber) const
{
    if (m_assignments.contains(comNumber))
        return m_assignments.value(comNumber);
    if (comNumber < 1)
        return {};
    // The COM numbers not named in [Ports] take the system's ports in turn.
    qsizetype index = comNumber - 1;
    for (auto it = m_assignments.constBegin(); it != m_assignments.constEnd(); ++it) {
        if (it.key() >= 1 && it.key() < comNumber)
            --index;
    }
    return index < m_unassigned.size() ? m_unassigned.at(index) : QString();
}

QStringList SystemPortMap::systemSerialPorts()
{
    QStringList devices;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        devices.append(info.systemLocation());
    return sortedDevices(devices);
}

QStringList SystemPortMap::sortedDevices(QStringList devices)
{
    std::stable_sort(devices.begin(), devices.end(), [](const QString &a, const QString &b) {
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
    return devices;
}

} // namespace qmr
