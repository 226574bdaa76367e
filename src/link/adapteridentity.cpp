#include "adapteridentity.h"

#include <cctype>

namespace qmr {

namespace {

bool sameLetters(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// Four hex digits after "VID_" or "PID_" (any case), upper-cased; empty when there are none.
std::string hexField(std::string_view part, std::string_view key)
{
    if (part.size() < key.size() + 4 || !sameLetters(part.substr(0, key.size()), key))
        return {};
    std::string digits;
    for (char c : part.substr(key.size(), 4)) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return {};
        digits += char(std::toupper(static_cast<unsigned char>(c)));
    }
    return digits;
}

} // namespace

bool AdapterIdentity::empty() const
{
    return *this == AdapterIdentity{};
}

std::string describeAdapter(const AdapterIdentity &a)
{
    std::string text;
    const auto add = [&text](const std::string &part) {
        if (!part.empty())
            text += (text.empty() ? "" : ", ") + part;
    };
    std::string name = a.maker;
    // Windows' friendly names and many product names already begin with the maker.
    if (!a.model.empty() && a.model.find(a.maker) != 0)
        name += (name.empty() ? "" : " ") + a.model;
    else if (!a.model.empty())
        name = a.model;
    add(name);
    if (!a.vendorId.empty() || !a.productId.empty())
        add("USB " + a.vendorId + ":" + a.productId);
    if (!a.serialNumber.empty())
        add("serial " + a.serialNumber);
    if (!a.driver.empty())
        add("driver " + a.driver);
    if (a.latencyTimerMs >= 0)
        add("latency timer " + std::to_string(a.latencyTimerMs) + " ms");
    if (a.hardwareId.empty() || a.vendorId.empty())
        add(a.hardwareId);
    add(a.stablePath);
    return text;
}

void readHardwareId(std::string_view id, AdapterIdentity &adapter)
{
    // The enumerator, then the device's IDs joined by '&' (USB) or '+' (FTDIBUS), then an
    // instance part after a backslash.
    const std::size_t slash = id.find('\\');
    if (slash == std::string_view::npos)
        return;
    std::string_view rest = id.substr(slash + 1);
    const std::size_t end = rest.find('\\');
    const std::string_view ids = rest.substr(0, end);
    int part = 0;
    std::size_t from = 0;
    while (from <= ids.size()) {
        std::size_t to = ids.find_first_of("&+", from);
        if (to == std::string_view::npos)
            to = ids.size();
        const std::string_view field = ids.substr(from, to - from);
        if (std::string vid = hexField(field, "VID_"); !vid.empty())
            adapter.vendorId = vid;
        else if (std::string pid = hexField(field, "PID_"); !pid.empty())
            adapter.productId = pid;
        // FTDIBUS puts the adapter's serial number third, followed by the port's letter (A
        // for a single-port chip, A and B for a dual one).
        else if (part == 2 && ids.find('+') != std::string_view::npos && field.size() > 1)
            adapter.serialNumber = std::string(field.substr(0, field.size() - 1));
        ++part;
        from = to + 1;
    }
    // A USB device's instance part is its serial number, unless Windows made one up (those
    // hold '&').
    if (end != std::string_view::npos && sameLetters(id.substr(0, slash), "USB")) {
        const std::string_view instance = rest.substr(end + 1);
        if (!instance.empty() && instance.find('&') == std::string_view::npos)
            adapter.serialNumber = std::string(instance);
    }
}

} // namespace qmr
