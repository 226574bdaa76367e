#include "linedefinition.h"

#include <QStringList>

namespace qmr {

std::optional<LineSettings> parseLineDefinition(const QString &text)
{
    const QStringList items = text.split(QLatin1Char(','));
    if (items.size() != 4)
        return std::nullopt;

    bool ok = false;
    LineSettings line;
    line.baud = items[0].trimmed().toInt(&ok);
    if (!ok || line.baud <= 0)
        return std::nullopt;

    const QString parity = items[1].trimmed().toLower();
    if (parity.size() != 1 || !QStringLiteral("neoms").contains(parity[0]))
        return std::nullopt;
    line.parity = parity[0].toLatin1();

    line.dataBits = items[2].trimmed().toInt(&ok);
    if (!ok || line.dataBits < 5 || line.dataBits > 8)
        return std::nullopt;

    line.stopBits = items[3].trimmed().toInt(&ok);
    if (!ok || (line.stopBits != 1 && line.stopBits != 2))
        return std::nullopt;
    return line;
}

int baudRateIndexOf(const QString &text)
{
    for (int i = 0; i < int(BaudRateTable.size()); ++i) {
        if (text == QLatin1String(BaudRateTable[i]))
            return i;
    }
    return -1;
}

} // namespace qmr
