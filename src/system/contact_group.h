// The administrator contact table .25.4.18.1, kept in the shared agent block.
#pragma once

#include "snmp/group.h"

namespace farlink::system {

using snmp::GroupDescriptor;
using snmp::RequestRecord;

std::uint32_t contactTableGet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);
std::uint32_t contactTableSet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);

} // namespace farlink::system
