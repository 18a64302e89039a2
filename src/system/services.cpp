// The services list and the start and stop of named services.
#include "system/services.h"

#include <vector>

namespace farlink::system {

namespace {

// Written once by the start-up worker before any group reads it.
std::vector<platform::ServiceEntry> driverList;

} // namespace

std::int32_t takeActiveDriverList() {
    // A new take replaces the old list whole; a failed one leaves no stale entries behind.
    driverList.clear();
    std::vector<platform::ServiceEntry> drivers;
    if (!platform::enumActiveDrivers(drivers)) return 0;
    driverList = std::move(drivers);
    return activeDriverCount();
}

std::span<const platform::ServiceEntry> activeDrivers() {
    return driverList;
}

std::int32_t activeDriverCount() {
    return static_cast<std::int32_t>(driverList.size());
}

int startService(std::string_view name) {
    return platform::startNamedService(name) ? 1 : 0;
}

int stopService(std::string_view name) {
    return platform::stopNamedService(name) ? 1 : 0;
}

} // namespace farlink::system
