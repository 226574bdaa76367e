#pragma once

#include "link/link.h"

#include <QString>

namespace qmr {

// The tooltip texts of the message line: which device stands behind a COM number and, when
// it did not open, why ("COM3: /dev/ttyUSB0: permission denied ...").
inline QString openedPortDetail(qint32 comNumber, const Link &link)
{
    return QStringLiteral("COM%1: %2").arg(comNumber).arg(link.lastDevice());
}

// Names the COM number, the device and the reason once each, whichever of them the
// reason text already carries.
inline QString failedPortDetail(qint32 comNumber, const Link &link)
{
    const QString com = QStringLiteral("COM%1").arg(comNumber);
    const QString device = link.lastDevice();
    const QString reason = link.lastOpenErrorString();
    if (reason.startsWith(com + QLatin1Char(' ')))
        return reason;
    QString detail = com;
    if (!device.isEmpty() && !reason.contains(device))
        detail += QStringLiteral(": ") + device;
    if (!reason.isEmpty())
        detail += QStringLiteral(": ") + reason;
    return detail;
}

} // namespace qmr
