#include "runtime/events.h"

#include "platform/console.h"
#include "platform/event_log.h"

#include <array>
#include <mutex>
#include <string>

namespace farlink::runtime {

namespace {

static_assert(static_cast<std::size_t>(EventKind::SharedBlockUnusable) + 1 == kEventKindCount,
              "every kind has its own history");

struct KindHistory {
    bool reported = false;
    std::uint64_t lastReportMs = 0;
    std::uint64_t suppressed = 0;
    std::string lastReportTime; // local time of day of the last report
};

// Only the failure paths come here, and only for a few instructions: one lock over all kinds
// is cheap enough, and keeps each count exact when several ports fail at once.
struct Limits {
    std::mutex mutex;
    std::array<KindHistory, kEventKindCount> kinds;
};

Limits& limits() {
    static Limits l;
    return l;
}

} // namespace

bool registerEventSource() {
    return platform::openEventSource(kServiceName);
}

void deregisterEventSource() {
    platform::closeEventSource();
}

void reportEvent(std::uint32_t eventId, std::string_view text) {
    // Nobody can be told that the log failed; the report is simply lost.
    (void)platform::writeEventEntry(eventId, text);
}

void reportLimitedEvent(EventKind kind, std::uint32_t eventId, std::string_view text) {
    const auto index = static_cast<std::size_t>(kind);
    if (index >= kEventKindCount) return;
    std::string entry(text);
    {
        Limits& l = limits();
        std::lock_guard lock(l.mutex);
        KindHistory& h = l.kinds[index];
        const std::uint64_t now = platform::monotonicMs();
        if (h.reported && now - h.lastReportMs < kEventSpacingMs) {
            ++h.suppressed;
            return;
        }
        if (h.suppressed > 0)
            entry += platform::formatText(" (%llu more since %s)",
                                          static_cast<unsigned long long>(h.suppressed),
                                          h.lastReportTime.c_str());
        h.reported = true;
        h.lastReportMs = now;
        h.suppressed = 0;
        h.lastReportTime = platform::localTimeOfDay();
    }
    reportEvent(eventId, entry);
}

void resetEventLimits() {
    Limits& l = limits();
    std::lock_guard lock(l.mutex);
    l.kinds = {};
}

void reportInfo(std::string_view text) {
    (void)platform::writeInfoEntry(text);
}

} // namespace farlink::runtime
