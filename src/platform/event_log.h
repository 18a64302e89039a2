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

// Writes one informational line for the operator (why a port is not served, which lines are):
// syslog at info priority, or the FARLINK_EVENTLOG file as "info <text>", or the in-memory list
// as an entry of the information type (4) with id 0.
bool writeInfoEntry(std::string_view text);

// In-memory backend for tests.
void useMemoryEventLog();
std::vector<LoggedEvent> loggedEvents();
void clearLoggedEvents();

// The clock by which repeated reports are spaced: milliseconds that only ever go forward (from
// an arbitrary start), and the local wall-clock time of day as "HH:MM:SS", which an operator
// matches against the rest of the log.
std::uint64_t monotonicMs();
std::string localTimeOfDay();

// Test hook: from now on both read a fake clock standing at `ms` and at `secondsOfDay` seconds
// past local midnight; advanceFakeClock moves the two together. useRealClock goes back to the
// system's clock.
void useFakeClock(std::uint64_t ms, std::uint32_t secondsOfDay);
void advanceFakeClock(std::uint64_t ms);
void useRealClock();

} // namespace farlink::platform
