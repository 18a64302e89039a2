// The system resource groups of the private MIB, .25.3 and its tables: port and memory ranges,
// interrupt and DMA owners from the resource map (read afresh for each request), the EISA slots
// and the memory module sizes that the start-up gathered.
#pragma once

#include "snmp/group.h"

namespace farlink::inventory {

using snmp::GroupDescriptor;
using snmp::RequestRecord;

// .25.3: range counts, module count, the driver's resource texts.
std::uint32_t systemResourcesGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                 std::uint16_t);
// .25.3.1.1: the owner of each interrupt level.
std::uint32_t interruptOwnersGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                 std::uint16_t);
// .25.3.2.1: the owner of each DMA channel.
std::uint32_t dmaOwnersGet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);
// .25.3.4.1: the I/O port ranges drivers hold.
std::uint32_t portRangesGet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);
// .25.3.5.1: the EISA slots.
std::uint32_t eisaSlotsGet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);
// .25.3.7.1: the size of each memory module.
std::uint32_t moduleSizesGet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);
// .25.3.15.1: the memory ranges drivers hold.
std::uint32_t memoryRangesGet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);

// Writes the version of the resource groups (1.0) into the summary record, bytes 304 and 305.
// The start-up calls it once the summary record is in place (after the driver's data), so that
// requests on the port threads only ever read the record.
void recordResourceGroupVersion();

} // namespace farlink::inventory
