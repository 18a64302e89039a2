// The statistics pollers: one thread per adapter reads its counters once per polling interval,
// keeps the last values for the MIB groups and reports a counter that grew faster than its
// threshold allows.
#pragma once

#include "adapters/nic.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace farlink::adapters {

// A poller's first poll waits this long after the adapter was found.
inline constexpr std::uint32_t kFirstPollDelayMs = 60'000;

// The counter slot of a statistics OID (0 to 28), or -1 for one no slot holds. The 802.3 and
// 802.5 error counters share slots 19 to 28.
int counterSlot(std::uint32_t oid);

// The OID's name as the threshold message spells it; empty for an OID without a slot.
std::string_view counterName(std::uint32_t oid);

// The polling interval in force: the configured seconds, but never less than one.
std::uint32_t pollingIntervalSeconds();

// The most a slot's counter may grow in one poll: the threshold per second times the interval
// for the general counters (slots 0 to 18), the threshold itself for the 802.x error counters.
// The product saturates at 0xFFFFFFFF rather than wrap.
std::uint32_t pollLimit(int slot, std::uint32_t threshold, std::uint32_t intervalSeconds);

// What one poller keeps from poll to poll.
struct PollerState {
    std::array<std::uint32_t, kCounterSlots> deltas{};
    bool firstPoll = true;
};

// One poll of every OID in the adapter's polled list: deltas, last values, latches, reports.
void pollAdapter(int adapter, PollerState& state);

// The thread body: the first poll after kFirstPollDelayMs, then one per polling interval (at
// once when a poll took the whole interval), until the stop flag is set.
void adapterPoller(int adapter);

// Forgets which crossings went to the event log and when, as at process start.
void forgetLoggedCrossings();

// Starts the adapter's poller thread; false when no thread can be made.
bool startPoller(int adapter);

} // namespace farlink::adapters
