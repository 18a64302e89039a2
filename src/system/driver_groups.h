// The groups served from the KORU driver's readings: the processor table .25.4.30.1, the driver
// information scalars .25.5, the item counts .25.5.4 and the four item tables .25.5.4.11.1 to
// .25.5.4.14.1. Readings are asked of the driver afresh on every call; nothing is kept.
#pragma once

#include "snmp/group.h"

namespace farlink::system {

using snmp::GroupDescriptor;
using snmp::RequestRecord;

std::uint32_t processorTableGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                std::uint16_t);
std::uint32_t processorTableSet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                std::uint16_t);
std::uint32_t driverInformationGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                   std::uint16_t);
std::uint32_t driverItemCountsGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                  std::uint16_t);
std::uint32_t driverItemTable11Get(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                   std::uint16_t);
std::uint32_t driverItemTable12Get(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                   std::uint16_t);
std::uint32_t driverItemTable13Get(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                   std::uint16_t);
std::uint32_t driverItemTable14Get(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                   std::uint16_t);

} // namespace farlink::system
