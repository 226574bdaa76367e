#pragma once

#include "link/link.h"

#include <nlohmann/json.hpp>

#include <string>

namespace qmr {

// What ports and report say of one COM number: its device, whether it would open (tried
// without setting its line or writing to it), why not, and the adapter behind it.
struct PortStatus
{
    int com = 0;
    std::string device;
    bool openable = false;
    PortError error = PortError::NoError;
    std::string reason;
    AdapterIdentity adapter;

    bool exists() const { return !device.empty() && error != PortError::NotFound; }
    // "ok", "no device", or why it does not open.
    std::string stateText() const;
};

PortStatus probePort(Link &link, int com);

// The adapter as a JSON object of the fields known ({} when none is).
nlohmann::json adapterJson(const AdapterIdentity &adapter);
// A port as ports --json and report list it.
nlohmann::json portStatusJson(const PortStatus &port, bool remembered);

} // namespace qmr
