#include "portstatus.h"

#include "porterrorwords.h"

namespace qmr {

using nlohmann::json;

std::string PortStatus::stateText() const
{
    if (openable)
        return "ok";
    if (device.empty())
        return "no device";
    return reason.empty() ? std::string(portErrorName(error)) : reason;
}

PortStatus probePort(Link &link, int com)
{
    PortStatus port;
    port.com = com;
    // Probed, not opened: a free device keeps its line settings and hears nothing.
    port.openable = link.ComProbe(com);
    port.device = link.lastDevice();
    port.error = port.openable ? PortError::NoError : link.lastOpenError();
    port.reason = port.openable ? std::string() : link.lastOpenErrorString();
    if (port.exists())
        port.adapter = link.portMap().adapterFor(port.device);
    return port;
}

json adapterJson(const AdapterIdentity &a)
{
    json j = json::object();
    const std::pair<const char *, const std::string *> texts[] = {
        {"maker", &a.maker},       {"model", &a.model},           {"serial", &a.serialNumber},
        {"vendorId", &a.vendorId}, {"productId", &a.productId},   {"driver", &a.driver},
        {"byId", &a.stablePath},   {"hardwareId", &a.hardwareId},
    };
    for (const auto &[name, value] : texts) {
        if (!value->empty())
            j[name] = *value;
    }
    if (a.latencyTimerMs >= 0)
        j["latencyTimerMs"] = a.latencyTimerMs;
    return j;
}

json portStatusJson(const PortStatus &port, bool remembered)
{
    return json{{"com", port.com},
                {"device", port.device},
                {"exists", port.exists()},
                {"openable", port.openable},
                {"error", portErrorName(port.error)},
                {"reason", port.reason},
                {"remembered", remembered},
                {"adapter", adapterJson(port.adapter)}};
}

} // namespace qmr
