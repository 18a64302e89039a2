// The storage groups of the private MIB: the table sizes (.25.1), the two drive type codes
// (.25.1.1.1), the storage adapters (.25.1.3.1) and the disks (.25.1.5.1). Read-only.
#pragma once

#include "snmp/group.h"

namespace farlink::inventory {

using snmp::GroupDescriptor;
using snmp::RequestRecord;

std::uint32_t storageScalarsGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                std::uint16_t);
std::uint32_t driveTypesGet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);
std::uint32_t storageAdaptersGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                 std::uint16_t);
std::uint32_t disksGet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);

} // namespace farlink::inventory
