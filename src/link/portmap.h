#pragma once

#include <QMap>
#include <QString>

namespace qmr {

// Maps COM numbers (1, 2, ...) to device paths. A number named in the settings file's
// [Ports] group uses that path (an empty path: no such port); the others take, in order,
// the serial ports the system has (on-board UARTs first, then USB and ACM adapters, each in
// natural numeric order), skipping devices already named in [Ports].
class PortMap
{
public:
    virtual ~PortMap() = default;
    // The device for a COM number, or an empty text when there is none.
    virtual QString deviceFor(int comNumber) const = 0;
};

// The Linux mapping described above.
class SystemPortMap : public PortMap
{
public:
    // assignments: the [Ports] group; systemPorts: the system's serial devices, or the
    // devices QSerialPortInfo reports when left empty (tests pass their own list).
    explicit SystemPortMap(QMap<int, QString> assignments, QStringList systemPorts = {});
    QString deviceFor(int comNumber) const override;
    // The system's serial devices in COM order (the rule above), as QSerialPortInfo lists them.
    static QStringList systemSerialPorts();
    // Orders device paths: ttyS*, ttyAMA* and other on-board UARTs first, then ttyUSB*, then
    // ttyACM*, each in natural numeric order (ttyUSB2 before ttyUSB10).
    static QStringList sortedDevices(QStringList devices);

private:
    QMap<int, QString> m_assignments;
    QStringList m_unassigned; // system ports not named in [Ports], in COM order
};

// A fixed table, for tests and for the emulator demo.
class FixedPortMap : public PortMap
{
public:
    explicit FixedPortMap(QMap<int, QString> devices) : m_devices(std::move(devices)) {}
    QString deviceFor(int comNumber) const override { return m_devices.value(comNumber); }

private:
    QMap<int, QString> m_devices;
};

} // namespace qmr
