// The NIC scalars, the threshold message and the event action table of the private MIB.
#include "adapters/adapter_groups.h"

#include "adapters/nic.h"
#include "runtime/agent_settings.h"
#include "snmp/dispatch.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace farlink::adapters {

namespace {

using snmp::VarBind;

constexpr auto relaxed = std::memory_order_relaxed;

std::uint16_t positionOf(std::uint16_t i) {
    return static_cast<std::uint16_t>(i + 1);
}

int adapterCount() {
    return std::clamp(nicCount.load(relaxed), 0, kMaxAdapters);
}

// A new default applies to the matching slots of every adapter at once.
void setDefault(std::atomic<std::uint32_t>& global, void (*apply)(int, std::uint32_t),
                std::uint32_t value) {
    global.store(value, relaxed);
    const int count = adapterCount();
    for (int adapter = 0; adapter < count; ++adapter)
        apply(adapter, value);
}

// Stores a Program or Pager text; false when it cannot be held whole. Only the first 80 bytes of
// a value arrive, so a value word above that names bytes that were never kept.
template <std::size_t N> bool storeText(runtime::SharedText<N>& field, const VarBind& b) {
    const std::uint32_t length = b.valueWord;
    if (length > field.capacity() || length > snmp::kValueBytes) return false;
    field.set(std::string_view(reinterpret_cast<const char*>(b.valueBytes.data()), length));
    return true;
}

std::string_view fieldText(std::span<const char> field) {
    return {field.data(),
            static_cast<std::size_t>(std::find(field.begin(), field.end(), '\0') - field.begin())};
}

// Which slots a statistics or threshold table serves: columns 1 .. columns are slots
// firstSlot .. firstSlot + columns - 1, of adapters whose media code is `media` (any media for
// the general tables).
struct SlotTable {
    std::uint32_t columns;
    std::size_t firstSlot;
    std::uint32_t media; // 0: every adapter
};
constexpr SlotTable kGeneral{19, 0, 0};
constexpr SlotTable kEthernet{10, 19, kMedia8023};
constexpr SlotTable kTokenRing{10, 19, kMedia8025};

bool ofTable(const SlotTable& table, std::uint32_t adapter) {
    return table.media == 0 || nicInfo[adapter].mediaCode == table.media;
}

// Reads of a slot table: the value of the slot, or -1 on an adapter of other media.
template <class Value>
std::uint32_t serveSlots(RequestRecord& request, const GroupDescriptor& group, std::uint16_t first,
                         std::uint16_t end, const SlotTable& table, Value&& value) {
    return snmp::serveColumns(
        request, group, first, end, static_cast<std::uint32_t>(adapterCount()),
        [&](VarBind& b, std::uint32_t column, std::uint32_t adapter) {
            if (column < 1 || column > table.columns) return false;
            const std::size_t slot = table.firstSlot + column - 1;
            snmp::setInteger(b, ofTable(table, adapter) ? value(adapter, slot) : 0xFFFFFFFF);
            return true;
        });
}

std::uint32_t lastCounter(std::uint32_t adapter, std::size_t slot) {
    return nicInfo[adapter].lastCounters[slot].load(relaxed);
}

std::uint32_t threshold(std::uint32_t adapter, std::size_t slot) {
    return nicThresholds[adapter][slot].load(relaxed);
}

// SETs of a threshold table. A value of the wrong type is still applied (the error tells the
// manager its type was wrong); an adapter that does not exist answers noSuchName there and
// nothing after it is applied; on an adapter of other media the value is passed over.
std::uint32_t setSlots(RequestRecord& request, const GroupDescriptor& group, std::uint16_t first,
                       std::uint16_t end, const SlotTable& table) {
    const std::uint32_t n = group.oidLength;
    const auto count = static_cast<std::uint32_t>(adapterCount());
    for (std::uint16_t i = first; i < end; ++i) {
        const VarBind& b = *request.bindings[i];
        const std::uint32_t column = b.name.sub[n];
        const std::uint32_t adapter = b.name.count > n + 1 ? b.name.sub[n + 1] : 0;
        if (b.valueTag != group.column(column).valueTag)
            snmp::recordError(request, snmp::kGenErr, positionOf(i));
        if (adapter >= count) {
            request.errorStatus = snmp::kNoSuchName;
            request.errorIndex = positionOf(i);
            break;
        }
        if (!ofTable(table, adapter)) continue;
        if (column < 1 || column > table.columns) {
            snmp::recordError(request, snmp::kNoSuchName, positionOf(i));
            continue;
        }
        const std::size_t slot = table.firstSlot + column - 1;
        nicThresholds[adapter][slot].store(b.valueWord, relaxed);
        // The next poll compares afresh.
        exceededLatch[adapter][slot].store(0, relaxed);
    }
    // Thresholds live in memory only: the write-back never holds them, so it is not woken.
    return request.errorStatus;
}

} // namespace

std::uint32_t adapterTableGet(RequestRecord& request, const GroupDescriptor& group,
                              std::uint16_t first, std::uint16_t end) {
    return snmp::serveColumns(
        request, group, first, end, static_cast<std::uint32_t>(adapterCount()),
        [](VarBind& b, std::uint32_t column, std::uint32_t adapter) {
            const NicInfo& info = nicInfo[adapter];
            switch (column) {
            case 1:
                snmp::setInteger(b, info.index);
                return true;
            case 2:
                snmp::setInteger(b, 0);
                return true;
            case 3:
                snmp::setInteger(b, info.ioPortBase);
                return true;
            case 4:
                snmp::setInteger(b, info.dmaChannel & 0xFF);
                return true;
            case 5:
                snmp::setInteger(b, info.interruptLevel & 0xFF);
                return true;
            case 6:
                snmp::setInteger(b, info.memoryBase);
                return true;
            case 7:
                snmp::setText(b, fieldText(info.vendorDescription));
                return true;
            case 8:
                snmp::setText(b, fieldText(info.title));
                return true;
            case 9:
                snmp::setText(b, "");
                return true;
            case 10:
                snmp::setText(b, fieldText(info.mediaName));
                return true;
            case 11: {
                const auto& a = info.permanentAddress;
                char text[13];
                std::snprintf(text, sizeof text, "%.02X%.02X%.02X%.02X%.02X%.02X", a[0], a[1], a[2],
                              a[3], a[4], a[5]);
                snmp::setText(b, std::string_view(text, 12));
                return true;
            }
            case 12:
                snmp::setInteger(b, info.mediaCode);
                return true;
            default:
                return false;
            }
        });
}

std::uint32_t generalStatisticsGet(RequestRecord& request, const GroupDescriptor& group,
                                   std::uint16_t first, std::uint16_t end) {
    return serveSlots(request, group, first, end, kGeneral, lastCounter);
}

std::uint32_t generalThresholdsGet(RequestRecord& request, const GroupDescriptor& group,
                                   std::uint16_t first, std::uint16_t end) {
    return serveSlots(request, group, first, end, kGeneral, threshold);
}

std::uint32_t generalThresholdsSet(RequestRecord& request, const GroupDescriptor& group,
                                   std::uint16_t first, std::uint16_t end) {
    return setSlots(request, group, first, end, kGeneral);
}

std::uint32_t ethernetStatisticsGet(RequestRecord& request, const GroupDescriptor& group,
                                    std::uint16_t first, std::uint16_t end) {
    return serveSlots(request, group, first, end, kEthernet, lastCounter);
}

std::uint32_t ethernetThresholdsGet(RequestRecord& request, const GroupDescriptor& group,
                                    std::uint16_t first, std::uint16_t end) {
    return serveSlots(request, group, first, end, kEthernet, threshold);
}

std::uint32_t ethernetThresholdsSet(RequestRecord& request, const GroupDescriptor& group,
                                    std::uint16_t first, std::uint16_t end) {
    return setSlots(request, group, first, end, kEthernet);
}

std::uint32_t tokenRingStatisticsGet(RequestRecord& request, const GroupDescriptor& group,
                                     std::uint16_t first, std::uint16_t end) {
    return serveSlots(request, group, first, end, kTokenRing, lastCounter);
}

std::uint32_t tokenRingThresholdsGet(RequestRecord& request, const GroupDescriptor& group,
                                     std::uint16_t first, std::uint16_t end) {
    return serveSlots(request, group, first, end, kTokenRing, threshold);
}

std::uint32_t tokenRingThresholdsSet(RequestRecord& request, const GroupDescriptor& group,
                                     std::uint16_t first, std::uint16_t end) {
    return setSlots(request, group, first, end, kTokenRing);
}

std::uint32_t nicScalarsGet(RequestRecord& request, const GroupDescriptor& group,
                            std::uint16_t first, std::uint16_t end) {
    return snmp::serveColumns(
        request, group, first, end, 1, [](VarBind& b, std::uint32_t column, std::uint32_t) {
            switch (column) {
            case 1:
                snmp::setInteger(b, static_cast<std::uint32_t>(nicCount.load(relaxed)));
                return true;
            case 6:
                snmp::setInteger(b, defaultBytes.load(relaxed));
                return true;
            case 7:
                snmp::setInteger(b, defaultPackets.load(relaxed));
                return true;
            case 8:
                snmp::setInteger(b, defaultFaults.load(relaxed));
                return true;
            default:
                return false;
            }
        });
}

std::uint32_t nicScalarsSet(RequestRecord& request, const GroupDescriptor& group,
                            std::uint16_t first, std::uint16_t end) {
    const std::uint32_t n = group.oidLength;
    for (std::uint16_t i = first; i < end; ++i) {
        const VarBind& b = *request.bindings[i];
        // A value of another type still applies its value word; the error tells the manager
        // that its type was wrong.
        if (b.valueTag != snmp::kTagInteger)
            snmp::recordError(request, snmp::kGenErr, positionOf(i));
        switch (b.name.sub[n]) {
        case 6:
            setDefault(defaultBytes, applyBytesDefault, b.valueWord);
            break;
        case 7:
            setDefault(defaultPackets, applyPacketsDefault, b.valueWord);
            break;
        case 8:
            setDefault(defaultFaults, applyFaultsDefault, b.valueWord);
            break;
        default:
            snmp::recordError(request, snmp::kNoSuchName, positionOf(i));
            break;
        }
    }
    // The defaults live in memory only: the write-back never holds them, so it is not woken.
    return request.errorStatus;
}

std::uint32_t thresholdMessageGet(RequestRecord& request, const GroupDescriptor& group,
                                  std::uint16_t first, std::uint16_t end) {
    return snmp::serveColumns(request, group, first, end, 1,
                              [](VarBind& b, std::uint32_t column, std::uint32_t) {
                                  if (column != 1) return false;
                                  // Whole: cut to 80 bytes, it would lose its numbers.
                                  snmp::setLongText(b, thresholdMessage());
                                  return true;
                              });
}

std::uint32_t eventActionGet(RequestRecord& request, const GroupDescriptor& group,
                             std::uint16_t first, std::uint16_t end) {
    return snmp::serveColumns(
        request, group, first, end, runtime::kEventEntries,
        [](VarBind& b, std::uint32_t column, std::uint32_t row) {
            const runtime::EventEntry& entry = runtime::agentSettings.events[row];
            switch (column) {
            case 1:
                snmp::setInteger(b, entry.number);
                return true;
            case 2:
                snmp::setInteger(b, static_cast<std::uint32_t>(entry.action.load(relaxed)));
                return true;
            // A binding carries at most 80 value bytes; a longer Program goes out cut to them.
            case 3:
                snmp::setText(b, entry.program.get());
                return true;
            case 4:
                snmp::setText(b, entry.pager.get());
                return true;
            default:
                return false;
            }
        });
}

std::uint32_t eventActionSet(RequestRecord& request, const GroupDescriptor& group,
                             std::uint16_t first, std::uint16_t end) {
    const std::uint32_t n = group.oidLength;
    for (std::uint16_t i = first; i < end; ++i) {
        const VarBind& b = *request.bindings[i];
        const std::uint32_t column = b.name.sub[n];
        const std::uint32_t row = b.name.sub[n + 1];
        if (row >= runtime::kEventEntries) {
            // No such entry: the rest of the request is not applied.
            request.errorStatus = snmp::kNoSuchName;
            request.errorIndex = positionOf(i);
            return snmp::kNoSuchName;
        }
        runtime::EventEntry& entry = runtime::agentSettings.events[row];
        if (column < 2 || column > 4) {
            snmp::recordError(request, snmp::kNoSuchName, positionOf(i));
            continue;
        }
        const std::uint8_t expected = column == 2 ? snmp::kTagInteger : snmp::kTagOctetString;
        if (b.valueTag != expected) {
            snmp::recordError(request, snmp::kGenErr, positionOf(i));
            continue;
        }
        bool stored = true;
        switch (column) {
        case 2:
            entry.action.store(static_cast<std::int32_t>(b.valueWord), relaxed);
            break;
        case 3:
            stored = storeText(entry.program, b);
            break;
        case 4:
            stored = storeText(entry.pager, b);
            break;
        }
        if (!stored) snmp::recordError(request, snmp::kBadValue, positionOf(i));
    }
    // Event actions live in memory only: the write-back never holds them, so it is not woken
    // (it would find nothing to write).
    return request.errorStatus;
}

} // namespace farlink::adapters
