// Event reports: the agent's only lasting record of failures.
#pragma once

#include <cstddef>
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

// Reports that a noisy line can raise as fast as it delivers frames. Each kind is spaced on its
// own, so a flood of one kind never hides the first of another.
enum class EventKind : std::uint8_t {
    FrameTooLong,      // a frame longer than its block
    FrameUnclosed,     // a partial frame that filled the receive buffer
    DatagramTooShort,  // shorter than the headers it claims
    BadHeaderChecksum, // IPv4 header checksum
    BadUdpChecksum,    // UDP checksum, or a UDP length that cannot be checked
    NotUdpOverIpv4,    // another IP version, header options, another protocol
    PartialDatagram,   // a fragment, or a total length other than what arrived
    WrongCommunity,
    MalformedMessage,    // any other message the decoder refuses
    ResponseUnencodable, // not even the tooBig answer fits
    SharedBlockUnusable, // the shared agent block shrank, or a replacement was refused
};
inline constexpr std::size_t kEventKindCount = 11;

// The shortest time between two reports of one kind.
inline constexpr std::uint64_t kEventSpacingMs = 60'000;

// Reports the first event of a kind, then at most one a minute. The ones in between are only
// counted, and the next one reported carries that count and the local time of the last report
// before it: " (312 more since 21:03:10)". Safe to call from every port thread at once.
void reportLimitedEvent(EventKind kind, std::uint32_t eventId, std::string_view text);

// Forgets what every kind has reported and counted, as a freshly started agent has; for tests
// that run one after another in one process.
void resetEventLimits();

// Writes one informational line for the operator: what the agent serves, or why something it
// was told to serve is not served. Not an error; a failed write is ignored.
void reportInfo(std::string_view text);

} // namespace farlink::runtime
