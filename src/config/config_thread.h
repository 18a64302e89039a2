// The configuration thread: reads the agent settings once, then writes the administrator contact
// texts and the resource thresholds of the shared agent block back to the configuration file
// whenever a SET has changed something.
#pragma once

#include <atomic>
#include <cstdint>

namespace farlink::config {

// The thread body; never returns.
void configurationThread();

// The same body, ending when `quit` is seen set after a wake-up (wakeConfigurationThread makes
// one without marking a change). For a host that runs the thread for a limited time.
void configurationThreadUntil(const std::atomic<bool>& quit);

// Wakes the thread without a change to write: it looks at the flag (and at `quit`) and waits
// again.
void wakeConfigurationThread();

// Writes the seven contact keys of "manager.1" and the 29 keys of "threshold" from the shared
// agent block to the configuration file.
void writeConfiguration();

// How many times writeConfiguration has run since the process started.
std::uint32_t configurationWriteCount();

} // namespace farlink::config
