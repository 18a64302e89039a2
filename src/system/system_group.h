// The system information group .25.4: the server as a whole (firmware and processor texts,
// memory, ports, operating system, computer name, uptime, fixed drives) and the agent settings a
// manager may change (polling interval, thresholds, password, the two temperature limits).
#pragma once

#include "snmp/group.h"

#include <cstdint>
#include <string>

namespace farlink::system {

using snmp::GroupDescriptor;
using snmp::RequestRecord;

// The uptime text: "<days> day[s]  HH : MM : SS", "s" only from two days on.
std::string uptimeText(std::uint64_t milliseconds);

// A port's text by its I/O address: "Port 3F8h", or "Port Disabled" for address 0.
std::string portText(std::uint32_t address);

std::uint32_t systemGroupGet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);
std::uint32_t systemGroupSet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);

} // namespace farlink::system
