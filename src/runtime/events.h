// Event reports: the agent's only lasting record of failures.
#pragma once

#include <cstdint>
#include <string_view>

namespace farlink::runtime {

inline constexpr std::uint32_t kEventStartFailure = 0x40060001; // start-up and port failures
inline constexpr std::uint32_t kEventWriteThread = 0x40060003;  // configuration thread
inline constexpr std::uint32_t kEventWarning = 0x40060004;      // everything else

inline constexpr std::string_view kServiceName = "FARLINK";

// Registers (and deregisters) the event source under the service name.
bool registerEventSource();
void deregisterEventSource();

// Writes one error entry with the finished text as its one insertion string; a failed report is
// ignored.
void reportEvent(std::uint32_t eventId, std::string_view text);

} // namespace farlink::runtime
