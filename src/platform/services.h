// The service control manager's shape on this platform.
//
// Active drivers: on a Linux host the kernel's loaded modules (/proc/modules): name and a
// display name; with FARLINK_MACHINE the image's services/drivers file, one "name<TAB>display
// name" per line. Starting and stopping services: on a host run by systemd, through systemctl
// with a small table from service names to units ("SNMP" -> koru-inband.service, "FARLINK" ->
// farlink.service); elsewhere they fail cleanly (last error 1060, no such service). With
// FARLINK_MACHINE every start and stop is recorded as a line "start NAME" / "stop NAME" in the
// machine's record file and succeeds when the name is in the image's services/installed file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace farlink::platform {

struct ServiceEntry {
    std::string name;
    std::string displayName;
    std::uint32_t currentState = 4; // running
};

// The active drivers; false (last error set) when they cannot be listed.
bool enumActiveDrivers(std::vector<ServiceEntry>& drivers);

bool startNamedService(std::string_view name);
bool stopNamedService(std::string_view name);

// The systemd unit that stands for a service name, or empty.
std::string unitForService(std::string_view name);

} // namespace farlink::platform
