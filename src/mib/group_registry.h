// The agent's private MIB: 49 groups under 1.3.6.1.4.1.32473.25, in ascending order of their
// OIDs, each carrying the routines of the subsystem that serves it.
#pragma once

#include "snmp/group.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace farlink::mib {

inline constexpr std::size_t kGroupCount = 49;

// The 49 groups in search order, ended by an empty entry.
extern const std::array<const snmp::GroupDescriptor*, kGroupCount + 1> groupRegistry;

// The 49 groups as the engine walks them.
inline snmp::GroupTable groups() {
    return snmp::GroupTable(groupRegistry.data(), kGroupCount);
}

// The position of the group whose OID is exactly `oid` (below 1.3.6.1.4.1.32473.25 given
// whole), or -1.
int groupIndexOf(std::span<const std::uint32_t> oid);

} // namespace farlink::mib
