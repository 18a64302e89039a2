// The system event log behind the agent's event reports.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace farlink::platform {

// One entry as written: error type (1), category 0, one insertion string.
struct LoggedEvent {
    std::uint32_t id = 0;
    std::uint16_t type = 0;
    std::uint16_t category = 0;
    std::vector<std::string> strings;
};

// Registers the event source; false when the log cannot be reached.
bool openEventSource(std::string_view sourceName);
void closeEventSource();
bool eventSourceOpen();

// Writes one error entry with one insertion string. Backends: syslog (ident FARLINK, facility
// daemon, priority error, text "0x%08X <text>"); with FARLINK_EVENTLOG=<file>, one such line
// appended to the file; in tests, an in-memory list.
bool writeEventEntry(std::uint32_t eventId, std::string_view text);

// In-memory backend for tests.
void useMemoryEventLog();
std::vector<LoggedEvent> loggedEvents();
void clearLoggedEvents();

} // namespace farlink::platform
