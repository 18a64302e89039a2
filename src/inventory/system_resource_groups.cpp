// The system resource groups. The resource map is read at every request, so what a manager sees
// is what drivers hold now; the summary record and the EISA slots were written at start-up and
// are only read here.
#include "inventory/system_resource_groups.h"

#include "inventory/dmi.h"
#include "inventory/eisa.h"
#include "inventory/resource_map.h"
#include "snmp/dispatch.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <tuple>

namespace farlink::inventory {

namespace {

using snmp::VarBind;

// Fields of the summary record that only a ready record from the driver fills.
constexpr SummaryField kSummaryResourceValue{300, 4};
constexpr SummaryField kSummaryVersionMajor{304, 1};
constexpr SummaryField kSummaryVersionMinor{305, 1};
constexpr SummaryField kSummaryResourceTexts[] = {{308, 24}, {332, 28}, {360, 28}};
// Filled by the DMI parser or a ready record alike.
constexpr SummaryField kSummaryModulesCounted{392, 4};
constexpr std::size_t kModuleEntriesAt = 396;
constexpr std::uint32_t kModuleEntries = 16;

// The version of these groups: column 9 answers it as text, the summary record keeps it as two
// bytes.
constexpr std::uint8_t kVersionMajor = 1;
constexpr std::uint8_t kVersionMinor = 0;
constexpr std::string_view kVersionText{"1.0"};

// Slots without an owner answer these texts, their terminator included.
constexpr std::string_view kNoInterruptOwner{"Reserved", 9};
constexpr std::string_view kNoDmaOwner{"None", 5};
constexpr std::string_view kNotAvailable{"N/A"};
constexpr std::string_view kModuleSizes{"  1M  2M  4M  8M 16M 32M 64M128M"};

std::uint32_t summaryWord(SummaryField field) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= std::uint32_t{dmiSummary[field.offset + i]} << (8 * i);
    return value;
}

// A text of the summary record, ended at its terminator or at the end of its field.
std::string_view summaryText(SummaryField field) {
    const char* text = reinterpret_cast<const char*>(dmiSummary.data() + field.offset);
    return std::string_view(text, strnlen(text, field.width));
}

// The modules counted; a ready record from the driver may hold any number there, but there are
// no more than 16 module entries.
std::uint32_t modulesCounted() {
    const auto counted = static_cast<std::int32_t>(summaryWord(kSummaryModulesCounted));
    return static_cast<std::uint32_t>(std::clamp<std::int32_t>(counted, 0, kModuleEntries));
}

std::string_view ownerText(const OwnerName& owner, std::string_view nobody) {
    const std::size_t n = strnlen(owner.data(), owner.size());
    return n == 0 ? nobody : std::string_view(owner.data(), n);
}

// How a table's instances run. Get-next serves firstRow .. walkEnd - 1 and moves on to the next
// column past them; get serves firstRow .. getEnd - 1. Everything else is noSuchName, which ends
// the run.
struct TableShape {
    std::uint32_t firstRow = 0;
    std::uint32_t walkEnd = 0;
    std::uint32_t getEnd = 0;
    std::uint32_t lastColumn = 0;
    // The index record bounds the instances to the rows, so the odometer runs out at the end of
    // every column; a walk must then go on with the next one instead of ending in the first.
    bool nextColumnWhenStepped = false;
};

template <class Fill>
std::uint32_t serveTable(RequestRecord& request, const GroupDescriptor& group, std::uint16_t first,
                         std::uint16_t end, const TableShape& shape, Fill&& fill) {
    const std::uint32_t n = group.oidLength;
    const bool next = request.pduType == snmp::kGetNextRequest;
    for (std::uint16_t i = first; i < end; ++i) {
        VarBind& b = *request.bindings[i];
        const auto position = static_cast<std::uint16_t>(i + 1);
        if (next) {
            const std::uint32_t column = b.name.sub[n];
            const std::uint32_t r = snmp::stepInstance(b, group);
            if (r != 0 && shape.nextColumnWhenStepped && column < shape.lastColumn) {
                b.name.sub[n] = column + 1;
                b.name.sub[n + 1] = shape.firstRow;
            } else if (r != 0) {
                request.errorStatus = r;
                request.errorIndex = position;
                return r;
            }
        }
        std::uint32_t column = b.name.sub[n];
        std::uint32_t instance = b.name.sub[n + 1];
        if (next && instance >= shape.walkEnd) {
            column += 1;
            instance = shape.firstRow;
            b.name.sub[n] = column;
            b.name.sub[n + 1] = instance;
        }
        if (instance < shape.firstRow || instance >= (next ? shape.walkEnd : shape.getEnd)) {
            request.errorStatus = snmp::kNoSuchName;
            request.errorIndex = position;
            return snmp::kNoSuchName;
        }
        if (!fill(b, column, instance)) snmp::recordError(request, snmp::kNoSuchName, position);
    }
    return request.errorStatus;
}

// The owner tables: column 1 the instance, column 2 whoever holds it now.
template <class Owners>
std::uint32_t serveOwners(RequestRecord& request, const GroupDescriptor& group, std::uint16_t first,
                          std::uint16_t end, std::uint32_t walkEnd, std::string_view nobody) {
    const TableShape shape{.firstRow = 0,
                           .walkEnd = walkEnd,
                           .getEnd = std::tuple_size_v<decltype(Owners::owners)>,
                           .lastColumn = 2,
                           .nextColumnWhenStepped = true};
    return serveTable(request, group, first, end, shape,
                      [&](VarBind& b, std::uint32_t column, std::uint32_t instance) {
                          if (column == 1) {
                              snmp::setInteger(b, instance);
                              return true;
                          }
                          if (column != 2) return false;
                          Owners owners;
                          readResourceMap(owners);
                          snmp::setText(b, ownerText(owners.owners[instance], nobody));
                          return true;
                      });
}

// The range tables: column 1 the row, 2 the start, 3 the end (ports) or length (memory), 4 the
// owner. One read of the map serves the whole run.
template <class Ranges, class Second>
std::uint32_t serveRanges(RequestRecord& request, const GroupDescriptor& group, std::uint16_t first,
                          std::uint16_t end, Second&& second) {
    Ranges ranges;
    readResourceMap(ranges);
    const TableShape shape{.walkEnd = ranges.count, .getEnd = ranges.count, .lastColumn = 4};
    return serveTable(request, group, first, end, shape,
                      [&](VarBind& b, std::uint32_t column, std::uint32_t instance) {
                          const auto& record = ranges.records[instance];
                          switch (column) {
                          case 1:
                              snmp::setInteger(b, instance);
                              return true;
                          case 2:
                              snmp::setInteger(b, record.start);
                              return true;
                          case 3:
                              snmp::setInteger(b, second(record));
                              return true;
                          case 4:
                              snmp::setText(b, ownerText(record.owner, {}));
                              return true;
                          default:
                              return false;
                          }
                      });
}

} // namespace

void recordResourceGroupVersion() {
    dmiSummary[kSummaryVersionMajor.offset] = kVersionMajor;
    dmiSummary[kSummaryVersionMinor.offset] = kVersionMinor;
}

std::uint32_t systemResourcesGet(RequestRecord& request, const GroupDescriptor& group,
                                 std::uint16_t first, std::uint16_t end) {
    return snmp::serveColumns(
        request, group, first, end, 1, [](VarBind& b, std::uint32_t column, std::uint32_t) {
            switch (column) {
            case 3: {
                PortRanges ports;
                readResourceMap(ports);
                snmp::setInteger(b, ports.count);
                return true;
            }
            case 6:
                snmp::setInteger(b, modulesCounted());
                return true;
            case 8:
                snmp::setInteger(b, summaryWord(kSummaryResourceValue));
                return true;
            case 9:
                snmp::setText(b, kVersionText);
                return true;
            case 10:
                snmp::setText(b, kNotAvailable);
                return true;
            case 11:
            case 12:
            case 13:
                snmp::setText(b, summaryText(kSummaryResourceTexts[column - 11]));
                return true;
            case 14: {
                MemoryRanges memory;
                readResourceMap(memory);
                snmp::setInteger(b, memory.count);
                return true;
            }
            default:
                return false;
            }
        });
}

std::uint32_t interruptOwnersGet(RequestRecord& request, const GroupDescriptor& group,
                                 std::uint16_t first, std::uint16_t end) {
    return serveOwners<InterruptOwners>(request, group, first, end, 16, kNoInterruptOwner);
}

std::uint32_t dmaOwnersGet(RequestRecord& request, const GroupDescriptor& group,
                           std::uint16_t first, std::uint16_t end) {
    return serveOwners<DmaOwners>(request, group, first, end, 8, kNoDmaOwner);
}

std::uint32_t portRangesGet(RequestRecord& request, const GroupDescriptor& group,
                            std::uint16_t first, std::uint16_t end) {
    return serveRanges<PortRanges>(request, group, first, end,
                                   [](const PortRange& r) { return r.end; });
}

std::uint32_t memoryRangesGet(RequestRecord& request, const GroupDescriptor& group,
                              std::uint16_t first, std::uint16_t end) {
    return serveRanges<MemoryRanges>(request, group, first, end,
                                     [](const MemoryRange& r) { return r.length; });
}

std::uint32_t eisaSlotsGet(RequestRecord& request, const GroupDescriptor& group,
                           std::uint16_t first, std::uint16_t end) {
    // A walk shows slots 1 to 8; a get may name any of the 16.
    const TableShape shape{.walkEnd = 8, .getEnd = kEisaSlotCount, .lastColumn = 3};
    return serveTable(request, group, first, end, shape,
                      [](VarBind& b, std::uint32_t column, std::uint32_t instance) {
                          const EisaSlotRecord& slot = eisaSlots[instance];
                          switch (column) {
                          case 1:
                              snmp::setInteger(b, slot.slotNumber);
                              return true;
                          case 2:
                              snmp::setInteger(b, slot.slotType);
                              return true;
                          case 3:
                              snmp::setText(b, kNotAvailable);
                              return true;
                          default:
                              return false;
                          }
                      });
}

std::uint32_t moduleSizesGet(RequestRecord& request, const GroupDescriptor& group,
                             std::uint16_t first, std::uint16_t end) {
    const std::uint32_t rowEnd = modulesCounted() + 1;
    const TableShape shape{.firstRow = 1,
                           .walkEnd = rowEnd,
                           .getEnd = rowEnd,
                           .lastColumn = 2,
                           .nextColumnWhenStepped = true};
    return serveTable(request, group, first, end, shape,
                      [](VarBind& b, std::uint32_t column, std::uint32_t instance) {
                          if (column == 1) {
                              snmp::setInteger(b, instance);
                              return true;
                          }
                          if (column != 2) return false;
                          // Byte 1 of the module's entry is its size code.
                          const std::uint8_t code =
                              dmiSummary[kModuleEntriesAt + 4 * (instance - 1) + 1];
                          snmp::setText(b, kModuleSizes.substr(4 * (code % 8), 4));
                          return true;
                      });
}

} // namespace farlink::inventory
