#include "runtime/events.h"

#include "platform/event_log.h"

namespace farlink::runtime {

bool registerEventSource() { return platform::openEventSource(kServiceName); }

void deregisterEventSource() { platform::closeEventSource(); }

void reportEvent(std::uint32_t eventId, std::string_view text) {
    // Nobody can be told that the log failed; the report is simply lost.
    (void)platform::writeEventEntry(eventId, text);
}

} // namespace farlink::runtime
