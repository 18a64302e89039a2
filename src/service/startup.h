// The start-up worker: attaches to the in-band agent's shared block, checks the configuration and
// the KORU driver, gathers what the agent serves, and starts the long-running threads.
#pragma once

#include "runtime/koru.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace farlink::service {

// The "driver" value of the configuration file, up to 159 characters.
extern std::array<char, 160> configuredDriver;

// The thread body of the start-up worker: runStartUp, then the end of the process with the code
// it gives when that is not 0.
void startUpWorker();

// The start-up itself; 0 when the agent runs, else the code the process must end with.
int runStartUp();

// The driver's row counts and configuration answer, the compatibility check and the model
// adjustments. 0, or 1 when the configured driver does not match (the process must end).
int gatherDriverData();

// Compares the configured "driver" with what the answer says; on a mismatch a message for the
// operator and an event, and the result 1 (the process must end), else 0.
int checkDriverCompatibility(std::span<const std::uint8_t> answer);

// Asks the driver for the EISA slots and keeps what it answers.
void readEisaSlots();

// How the process ends when the start-up fails: platform::exitProcess, unless a test puts its
// own routine in (nullptr restores it).
using ProcessExit = void (*)(int code);
void setProcessExit(ProcessExit exit);

// How the start-up worker and the threads it starts are started: platform::startThread, unless a
// test puts its own in (nullptr restores it).
using ThreadStarter = bool (*)(std::function<void()> body);
void setThreadStarter(ThreadStarter starter);
bool startAgentThread(std::function<void()> body);

} // namespace farlink::service
