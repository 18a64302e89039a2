// The performance counter groups of the private MIB below .25.4: no-data table (.57.1), the
// agent's account (.60.1), the active drivers (.62.1), paging (.63), the System, Cache and
// Memory counters (.65.1, .65.2, .65.3), and the physical and logical disk tables (.65.5.1,
// .65.6.1). Read-only: each group's one routine serves get and get-next.
#pragma once

#include "snmp/group.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace farlink::perf {

using snmp::GroupDescriptor;
using snmp::RequestRecord;

// The physical disk table serves at most this many disks: the running values are kept for no
// more.
inline constexpr std::uint32_t kRunningValueRows = 26;

// Looks up the account the agent runs under, once, at start-up. A name that does not fit the
// 80 bytes of a value with its terminator is cut to 79 characters.
void takeAccountName();
// The name as served (terminator included); empty when it could not be looked up.
std::string_view accountName();

std::uint32_t noDataTableGet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);
std::uint32_t accountTableGet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);
std::uint32_t driverTableGet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);
std::uint32_t pagingScalarsGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                               std::uint16_t);
std::uint32_t systemCountersGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                std::uint16_t);
std::uint32_t cacheCountersGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                               std::uint16_t);
std::uint32_t memoryCountersGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                std::uint16_t);
std::uint32_t physicalDiskTableGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                   std::uint16_t);
std::uint32_t logicalDiskTableGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                  std::uint16_t);

} // namespace farlink::perf
