// The configuration: the agent settings, read once at start-up, and the thread that writes the
// administrator contact texts and the resource thresholds of the shared agent block back to the
// configuration file whenever a SET has changed something.
#pragma once

#include <atomic>
#include <cstdint>

namespace farlink::config {

// Reads the agent settings (the keyword, thresholds, event actions, contact rows) and clears
// any change pending from before. Start-up calls it before the configuration thread and any port
// starts, so that no request is ever answered, nor a SET checked, against settings not yet read.
void loadConfiguration();

// The thread body; never returns.
void configurationThread();

// The same body, ending when `quit` is seen set after a wake-up (wakeConfigurationThread makes
// one without marking a change). For a host that runs the thread for a limited time.
void configurationThreadUntil(const std::atomic<bool>& quit);

// Wakes the thread without a change to write: it looks at the flag (and at `quit`) and waits
// again.
void wakeConfigurationThread();

// Writes the seven contact keys of "manager.1" and the 29 keys of "threshold" from the shared
// agent block to the configuration file; false (last error set) when the file was not written.
bool writeConfiguration();

// Writes what a SET has changed and the thread has not written yet, at once: the agent calls it
// as it ends, so that a value a manager was told is set is not lost with the process.
void writePendingConfiguration();

// How many times writeConfiguration has gone to the file since the process started (a call that
// finds every key as it last wrote or found it does not).
std::uint32_t configurationWriteCount();

} // namespace farlink::config
