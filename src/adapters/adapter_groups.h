// The adapter groups of the private MIB: NIC scalars (.25.2), the adapter, statistics and
// threshold tables below it, the threshold message (.25.7) and the event action table
// (.25.7.2.1).
#pragma once

#include "snmp/group.h"

namespace farlink::adapters {

using snmp::GroupDescriptor;
using snmp::RequestRecord;

std::uint32_t nicScalarsGet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);
std::uint32_t nicScalarsSet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);
// The adapter table (.25.2.2.1) and the statistics and threshold tables (.25.2.5.1.1 to
// .25.2.5.6.1: general, 802.3, 802.5), one row per adapter.
std::uint32_t adapterTableGet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);
std::uint32_t generalStatisticsGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                   std::uint16_t);
std::uint32_t generalThresholdsGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                   std::uint16_t);
std::uint32_t generalThresholdsSet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                   std::uint16_t);
std::uint32_t ethernetStatisticsGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                    std::uint16_t);
std::uint32_t ethernetThresholdsGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                    std::uint16_t);
std::uint32_t ethernetThresholdsSet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                    std::uint16_t);
std::uint32_t tokenRingStatisticsGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                     std::uint16_t);
std::uint32_t tokenRingThresholdsGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                     std::uint16_t);
std::uint32_t tokenRingThresholdsSet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                     std::uint16_t);
std::uint32_t thresholdMessageGet(RequestRecord&, const GroupDescriptor&, std::uint16_t,
                                  std::uint16_t);
std::uint32_t eventActionGet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);
std::uint32_t eventActionSet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t);

} // namespace farlink::adapters
