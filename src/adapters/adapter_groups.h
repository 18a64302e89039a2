// The adapter groups of the private MIB: NIC scalars (.25.2), the threshold message (.25.7) and
// the event action table (.25.7.2.1).
#pragma once

#include "snmp/group.h"

namespace farlink::adapters {

using snmp::GroupDescriptor;
using snmp::RequestRecord;

std::uint32_t nicScalarsGet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);
std::uint32_t nicScalarsSet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);
std::uint32_t thresholdMessageGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                  std::uint16_t);
std::uint32_t eventActionGet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);
std::uint32_t eventActionSet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);

} // namespace farlink::adapters
