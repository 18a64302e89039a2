// What the KORU driver's start-up answers leave for the groups: the row counts of the driver item
// tables, the configuration answer (which the DMI records point into) and the machine's memory.
// Written only by the start-up worker, before the threads that read it are started.
#pragma once

#include "inventory/little_endian.h"
#include "runtime/koru.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace farlink::inventory {

// Row counts of the driver item tables 11, 12, 13 and 14.
extern std::array<std::uint32_t, 4> driverItemRowCounts;
inline constexpr int kTable11 = 0;
inline constexpr int kTable12 = 1;
inline constexpr int kTable13 = 2;
inline constexpr int kTable14 = 3;

// Rows of table 13 that this machine does not have.
extern std::uint32_t table13FirstRowAbsent;
extern std::uint32_t table13SecondRowAbsent;

extern std::array<std::uint8_t, runtime::kConfigurationAnswerSize> configurationAnswer;
extern std::uint32_t configurationAnswerLength;

// The machine's memory in bytes.
extern std::uint32_t totalMemory;

// Takes the row counts from the driver's answer, one byte each, as far as the answer goes.
void takeRowCounts(std::span<const std::uint8_t> answer);

// Marks a row of table 13 absent and takes it off the count; an empty table stays empty.
void dropTable13Row(std::uint32_t& absentFlag);

struct AnswerSummary {
    bool olderDriver = false;   // the older driver has no DMI data
    std::string expectedDriver; // what the configuration's "driver" must say
};

// Fills the DMI summary (and, for a newer driver, the DMI records) from the configuration
// answer, read only as far as the driver filled it.
AnswerSummary summarizeConfigurationAnswer(std::span<const std::uint8_t> answer);

// The total memory field of the DMI summary.
std::uint32_t summaryTotalMemory();

} // namespace farlink::inventory
