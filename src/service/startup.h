// The start-up worker: attaches to the in-band agent's shared block, checks the configuration and
// the KORU driver, gathers what the agent serves, and starts the long-running threads.
#pragma once

#include "service/koru.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace farlink::service {

// What the gathering leaves for the groups. Written only by the worker, before the threads that
// read it are started.

// Row counts of the driver item tables 11, 12, 13 and 14.
extern std::array<std::uint32_t, 4> driverItemRowCounts;
inline constexpr int kTable11 = 0;
inline constexpr int kTable12 = 1;
inline constexpr int kTable13 = 2;
inline constexpr int kTable14 = 3;

// Rows of table 13 that this machine does not have.
extern std::uint32_t table13FirstRowAbsent;
extern std::uint32_t table13SecondRowAbsent;

// The driver's configuration answer; the DMI records refer into it, so it lives as long as the
// process does.
extern std::array<std::uint8_t, kConfigurationAnswerSize> configurationAnswer;
extern std::uint32_t configurationAnswerLength;

// The "driver" value of the configuration file, up to 159 characters.
extern std::array<char, 160> configuredDriver;

// The machine's memory in bytes.
extern std::uint32_t totalMemory;

inline constexpr int kEisaSlotCount = 16;
inline constexpr std::uint32_t kEisaSlotBoard = 1;
inline constexpr std::uint32_t kEisaSlotEmbedded = 5;
struct EisaSlotRecord {
    std::uint32_t slotNumber = 0;
    std::uint32_t slotType = 0;
    std::array<char, 84> text{};
};
// Record k - 1 describes slot k.
extern std::array<EisaSlotRecord, kEisaSlotCount> eisaSlots;

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
