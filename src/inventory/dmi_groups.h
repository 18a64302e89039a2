// The DMI groups of the private MIB: the scalar group .25.4.55 and its seven tables.
#pragma once

#include "snmp/group.h"

namespace farlink::inventory {

using snmp::GroupDescriptor;
using snmp::RequestRecord;

std::uint32_t dmiScalarsGet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);
std::uint32_t dmiProcessorsGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                               std::uint16_t);
std::uint32_t dmiMemoryModulesGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                  std::uint16_t);
std::uint32_t dmiCachesGet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);
std::uint32_t dmiPortConnectorsGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                   std::uint16_t);
std::uint32_t dmiSystemSlotsGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                std::uint16_t);
std::uint32_t dmiOnBoardDevicesGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                   std::uint16_t);
std::uint32_t dmiOemStringsGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                               std::uint16_t);

} // namespace farlink::inventory
