#include "link/work_area.h"

#include "runtime/events.h"

#include <cstring>
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

// The guard's bytes XOR the guard value, ORed together: 0 exactly when the guard is intact.
std::uint64_t damage(const Guard& g) {
    constexpr std::uint64_t kWord = 0x0101010101010101ull * runtime::kGuardValue;
    std::uint64_t d = 0;
    std::size_t i = 0;
    for (; i + 8 <= g.bytes.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, g.bytes.data() + i, sizeof word);
        d |= word ^ kWord;
    }
    for (; i < g.bytes.size(); ++i)
        d |= static_cast<std::uint8_t>(g.bytes[i] ^ runtime::kGuardValue);
    return d;
}

} // namespace

void prepareWorkArea(WorkArea& area) {
    for (std::size_t i = 0; i < snmp::kMaxBindings; ++i)
        area.pdu.bindings[i] = &area.slots[i].binding;
    forEachGuard(area, [](Guard& g, const char*) { g.bytes.fill(runtime::kGuardValue); });
}

int checkGuards(WorkArea& area) {
    // Every frame checks every guard around every group run: the common case, all intact, is a
    // few word compares per guard with one branch at the end.
    std::uint64_t difference = 0;
    forEachGuard(area, [&difference](const Guard& g, const char*) { difference |= damage(g); });
    if (difference == 0) return 0;
    int damaged = 0;
    forEachGuard(area, [&damaged](Guard& g, const char* where) {
        if (damage(g) == 0) return;
        ++damaged;
        runtime::reportEvent(runtime::kEventWarning,
                             std::string("Work area overrun: the guard ") + where + " is damaged");
        g.bytes.fill(runtime::kGuardValue);
    });
    return damaged;
}

} // namespace farlink::link
