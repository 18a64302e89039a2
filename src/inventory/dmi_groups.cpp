// The DMI groups: the scalar group and seven tables, all one routine over different records.
// The records are written once at start-up, so the routines read them without a lock.
#include "inventory/dmi_groups.h"

#include "inventory/dmi.h"
#include "snmp/dispatch.h"

#include <algorithm>

namespace farlink::inventory {

namespace {

using snmp::VarBind;

// Answers a binding from a cell by the column's value tag; false for a column the group does
// not serve.
bool answerCell(VarBind& b, const GroupDescriptor& group, std::uint32_t column, std::uint32_t width,
                const DmiCell& cell) {
    if (column == 0 || column > width) return false;
    switch (group.column(column).valueTag) {
    case snmp::kTagInteger:
        snmp::setInteger(b, cell.number);
        return true;
    case snmp::kTagOctetString:
        snmp::setText(b, cell.text); // a cell without text answers a zero-length string
        return true;
    default:
        return false;
    }
}

std::uint32_t serveTable(RequestRecord& request, const GroupDescriptor& group, std::uint16_t first,
                         std::uint16_t end, DmiTableId id) {
    const DmiTable& table = dmiTables[id];
    const std::uint32_t width = kDmiRowWidth[id];
    const std::uint32_t count = std::min<std::uint32_t>(table.count, kDmiMaxRows);
    return snmp::serveColumns(request, group, first, end, count,
                              [&](VarBind& b, std::uint32_t column, std::uint32_t instance) {
                                  if (column > width) return false;
                                  return answerCell(b, group, column, width,
                                                    table.rows[instance][column]);
                              });
}

} // namespace

std::uint32_t dmiScalarsGet(RequestRecord& request, const GroupDescriptor& group,
                            std::uint16_t first, std::uint16_t end) {
    return snmp::serveColumns(
        request, group, first, end, 1, [&](VarBind& b, std::uint32_t column, std::uint32_t) {
            if (column > kDmiScalarCount) return false;
            return answerCell(b, group, column, kDmiScalarCount, dmiScalars[column]);
        });
}

std::uint32_t dmiProcessorsGet(RequestRecord& request, const GroupDescriptor& group,
                               std::uint16_t first, std::uint16_t end) {
    return serveTable(request, group, first, end, kDmiProcessors);
}

std::uint32_t dmiMemoryModulesGet(RequestRecord& request, const GroupDescriptor& group,
                                  std::uint16_t first, std::uint16_t end) {
    return serveTable(request, group, first, end, kDmiMemoryModules);
}

std::uint32_t dmiCachesGet(RequestRecord& request, const GroupDescriptor& group,
                           std::uint16_t first, std::uint16_t end) {
    return serveTable(request, group, first, end, kDmiCaches);
}

std::uint32_t dmiPortConnectorsGet(RequestRecord& request, const GroupDescriptor& group,
                                   std::uint16_t first, std::uint16_t end) {
    return serveTable(request, group, first, end, kDmiPortConnectors);
}

std::uint32_t dmiSystemSlotsGet(RequestRecord& request, const GroupDescriptor& group,
                                std::uint16_t first, std::uint16_t end) {
    return serveTable(request, group, first, end, kDmiSystemSlots);
}

std::uint32_t dmiOnBoardDevicesGet(RequestRecord& request, const GroupDescriptor& group,
                                   std::uint16_t first, std::uint16_t end) {
    return serveTable(request, group, first, end, kDmiOnBoardDevices);
}

std::uint32_t dmiOemStringsGet(RequestRecord& request, const GroupDescriptor& group,
                               std::uint16_t first, std::uint16_t end) {
    return serveTable(request, group, first, end, kDmiOemStrings);
}

} // namespace farlink::inventory
