// The administrator contact table .25.4.18.1: one row whose texts live in the shared agent
// block, so that this agent and the in-band agent serve and change the same record.
#include "system/contact_group.h"

#include "runtime/agent_settings.h"
#include "runtime/shared_block.h"
#include "snmp/dispatch.h"
#include "snmp/set_value.h"

#include <array>

namespace farlink::system {

namespace {

using snmp::VarBind;

constexpr auto relaxed = std::memory_order_relaxed;

// A contact text goes out cut to what one binding can carry.
constexpr std::size_t kContactReadLimit = 80;
constexpr std::uint32_t kInstanceColumn = 8;

// Room for the widest contact field; a decoded text must fit the field it goes into.
constexpr std::size_t widestContact() {
    std::size_t widest = 0;
    for (const runtime::ContactField& contact : runtime::kContactFields)
        widest = contact.field.width > widest ? contact.field.width : widest;
    return widest;
}

bool isContactColumn(std::uint32_t column) {
    return column >= 1 && column <= std::size(runtime::kContactFields);
}

std::uint16_t positionOf(std::uint16_t i) {
    return static_cast<std::uint16_t>(i + 1);
}

} // namespace

std::uint32_t contactTableGet(RequestRecord& request, const GroupDescriptor& group,
                              std::uint16_t first, std::uint16_t end) {
    return snmp::serveColumns(
        request, group, first, end, runtime::agentSettings.contactRowCount.load(relaxed),
        [](VarBind& b, std::uint32_t column, std::uint32_t instance) {
            if (isContactColumn(column)) {
                snmp::setText(b, runtime::readText(runtime::kContactFields[column - 1].field,
                                                   kContactReadLimit));
                return true;
            }
            if (column == kInstanceColumn) {
                snmp::setInteger(b, instance);
                return true;
            }
            return false;
        });
}

std::uint32_t contactTableSet(RequestRecord& request, const GroupDescriptor& group,
                              std::uint16_t first, std::uint16_t end) {
    const std::uint32_t n = group.oidLength;
    const std::uint32_t rows = runtime::agentSettings.contactRowCount.load(relaxed);
    for (std::uint16_t i = first; i < end; ++i) {
        const VarBind& b = *request.bindings[i];
        const std::uint16_t position = positionOf(i);
        const std::uint32_t column = b.name.sub[n];
        // A value of the wrong type is never stored; when an error already stands it is only
        // passed over, as that error is the one the manager hears of.
        if (b.valueTag != group.column(column).valueTag) {
            if (request.errorStatus != snmp::kNoError) continue;
            request.errorStatus = snmp::kGenErr;
            request.errorIndex = position;
            return snmp::kGenErr;
        }
        // There is one contact record; a SET naming another row must not land in it.
        if (b.name.sub[n + 1] >= rows) {
            request.errorStatus = snmp::kNoSuchName;
            request.errorIndex = position;
            return snmp::kNoSuchName;
        }
        if (!isContactColumn(column)) {
            snmp::recordError(request, snmp::kNoSuchName, position);
            continue;
        }
        const runtime::TextField field = runtime::kContactFields[column - 1].field;
        std::array<char, widestContact()> text{};
        // The text is written back as one line of TESSEL.INI: a line break could never reach
        // the file (or would split off a key of its own), so it is refused, not served unwritten.
        if (snmp::decodeSetText(b, std::span<char>(text.data(), field.width)) == 0 ||
            std::string_view(text.data()).find_first_of("\r\n") != std::string_view::npos) {
            request.errorStatus = snmp::kBadValue;
            request.errorIndex = position;
            return snmp::kBadValue;
        }
        // The text the field holds already: nothing to store and nothing to write back.
        if (runtime::readText(field) == std::string_view(text.data())) continue;
        runtime::writeText(field, std::string_view(text.data()));
        runtime::markConfigChanged();
    }
    return request.errorStatus;
}

} // namespace farlink::system
