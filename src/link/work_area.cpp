#include "link/work_area.h"

#include "runtime/events.h"

#include <algorithm>
#include <string>

namespace farlink::link {

namespace {

template <class Visit> void forEachGuard(WorkArea& area, Visit visit) {
    visit(area.beforeRecord, "before the request record");
    visit(area.afterRecord, "after the request record");
    for (BindingSlot& slot : area.slots)
        visit(slot.after, "after a variable binding");
    visit(area.afterMessage, "after the response message");
    visit(area.afterRequestDatagram, "after the request datagram");
    visit(area.afterReplyDatagram, "after the reply datagram");
    visit(area.afterReplyFrame, "after the reply frame");
}

} // namespace

void prepareWorkArea(WorkArea& area) {
    for (std::size_t i = 0; i < snmp::kMaxBindings; ++i)
        area.pdu.bindings[i] = &area.slots[i].binding;
    forEachGuard(area, [](Guard& g, const char*) { g.bytes.fill(runtime::kGuardValue); });
}

int checkGuards(WorkArea& area) {
    int damaged = 0;
    forEachGuard(area, [&damaged](Guard& g, const char* where) {
        const bool intact = std::all_of(g.bytes.begin(), g.bytes.end(),
                                        [](std::uint8_t b) { return b == runtime::kGuardValue; });
        if (intact) return;
        ++damaged;
        runtime::reportEvent(runtime::kEventWarning,
                             std::string("Work area overrun: the guard ") + where + " is damaged");
        g.bytes.fill(runtime::kGuardValue);
    });
    return damaged;
}

} // namespace farlink::link
