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

inline QString failedPortDetail(qint32 comNumber, const Link &link)
{
    QString detail = QStringLiteral("COM%1: ").arg(comNumber);
    if (!link.lastDevice().isEmpty())
        detail += link.lastDevice() + QStringLiteral(": ");
    QString reason = link.lastOpenErrorString();
    if (reason.isEmpty())
        reason = QStringLiteral("no such port");
    return detail + reason;
}

} // namespace qmr
