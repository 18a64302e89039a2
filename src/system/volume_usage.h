// The fixed volumes of the machine and the volume usage table .25.4.21.1: each fixed volume's
// label, size and free space, and the usage value ("UsedVol%d") the in-band agent keeps for it
// in the shared agent block.
#pragma once

#include "snmp/group.h"

#include <array>
#include <cstdint>
#include <string>

namespace farlink::system {

using snmp::GroupDescriptor;
using snmp::RequestRecord;

// A fixed volume as the table serves it.
struct VolumeRecord {
    std::uint32_t index = 0;
    std::string label; // "X: name", at most 79 characters
    std::uint32_t totalKb = 0;
    std::uint32_t freeKb = 0;
    std::uint32_t totalClusters = 0;
    std::uint32_t freeClusters = 0;
};

// The number of fixed volumes (drive letters C: to Z: whose volume is a fixed disk).
std::uint32_t fixedVolumeCount();

// Builds the record of fixed volume `index` (0 the first in letter order); false when there is
// no such volume or its name or space cannot be read.
bool buildVolumeRecord(std::uint32_t index, VolumeRecord& record);

std::uint32_t volumeTableGet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);
std::uint32_t volumeTableSet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);

} // namespace farlink::system
