#pragma once

#include "link/adapteridentity.h"

namespace qmr {

// The adapter behind COM comNumber as SetupAPI describes it: the friendly name, the maker,
// the first hardware ID with the USB vendor and product ID read out of it, the serial number
// where the instance ID carries one, and the driver's service. Nothing for a number no port
// of the Ports class has (a port a mapping or Wine added).
AdapterIdentity setupApiAdapter(int comNumber);

} // namespace qmr
