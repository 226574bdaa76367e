#pragma once

#include "settings.h"

#include <QMap>
#include <QString>

namespace qmr {

// Where the remembered settings live. Every error of a store is silent: a load that
// fails leaves the defaults (or what was read before the error), a save that fails
// leaves the in-memory values untouched and the program goes on.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;

    // Sets the defaults, then the stored values in the order ScanCommNo, ScanBaudRate,
    // ScanBaudRateNo, LanguageFlag; the first value of the wrong type ends the load.
    virtual void LoadSettings(Settings &settings) = 0;
    // Writes ScanCommNo, ScanBaudRateNo, ScanBaudRate, in this order.
    virtual void SaveScanSettings(const Settings &settings) = 0;
    // Writes LanguageFlag only.
    virtual void SaveLanguage(const Settings &settings) = 0;

    // The [Ports] group: COM number -> device path (an empty path means "no such port").
    virtual QMap<int, QString> portAssignments() const = 0;
};

} // namespace qmr
