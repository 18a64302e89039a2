// The NIC scalars, the threshold message and the event action table of the private MIB.
#include "adapters/adapter_groups.h"

#include "adapters/nic.h"
#include "runtime/agent_settings.h"
#include "snmp/dispatch.h"

#include <algorithm>
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
    if (length > field.capacity() || length > b.valueBytes.size()) return false;
    field.set(std::string_view(reinterpret_cast<const char*>(b.valueBytes.data()), length));
    return true;
}

} // namespace

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
    runtime::markConfigChanged();
    return request.errorStatus;
}

std::uint32_t thresholdMessageGet(RequestRecord& request, const GroupDescriptor& group,
                                  std::uint16_t first, std::uint16_t end) {
    return snmp::serveColumns(request, group, first, end, 1,
                              [](VarBind& b, std::uint32_t column, std::uint32_t) {
                                  if (column != 1) return false;
                                  // A binding carries at most 80 value bytes; a longer
                                  // message goes out cut to them.
                                  snmp::setText(b, thresholdMessage());
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
    runtime::markConfigChanged();
    return request.errorStatus;
}

} // namespace farlink::adapters
