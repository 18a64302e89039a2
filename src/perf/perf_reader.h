// The performance data reader: six objects of the system's performance data and a fixed list of
// counters in each, the last two samples of every counter and instance, and the counter values
// computed from them by the published counter-type rules. Also the processor-busy and
// free-memory snapshot that the system groups take.
//
// Snapshots are taken only at start-up and by samplePerformanceLoad; the counter accessors
// compute from what the latest two snapshots left. Snapshots and accessors may run on several
// port threads at once: the samples are kept under a lock, held only while a block is walked or
// a value computed, never while the data is gathered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace farlink::perf {

// Object numbers: positions in the object table.
inline constexpr std::uint32_t kSystemObject = 0;
inline constexpr std::uint32_t kCacheObject = 1;
inline constexpr std::uint32_t kMemoryObject = 2;
inline constexpr std::uint32_t kProcessorObject = 3;
inline constexpr std::uint32_t kPhysicalDiskObject = 4;
inline constexpr std::uint32_t kLogicalDiskObject = 5;
inline constexpr std::size_t kObjectCount = 6;

// Processors beyond these are not kept in the busy snapshot; the count still counts them all.
inline constexpr std::size_t kMaxProcessors = 32;

// The initial size of the query buffer, and the step it grows by.
inline constexpr std::size_t kQueryBufferSize = 40960;
inline constexpr std::size_t kQueryBufferStep = 4096;

struct CounterInputs {
    std::uint64_t v1 = 0, v0 = 0; // current and previous value
    std::uint64_t b1 = 0, b0 = 0; // current and previous base
    std::int64_t t1 = 0, t0 = 0;  // object or block time, as the counter type says
    std::int64_t n1 = 0, n0 = 0;  // 100-ns times
    std::int64_t frequency = 0;   // the block's PerfFreq
    std::int64_t objectFrequency = 0;
    std::uint32_t counterType = 0;
};

// The value of a counter by the rule of its type; 0 for a type without one.
double computeCounterValue(const CounterInputs& in);

// A computed value as the groups serve it: truncated toward zero and saturated to what 32 bits
// can say (0xFFFFFFFF for anything larger, the signed 32-bit range for negative values).
std::uint32_t counterWord(double value);

// Loads the counter name table from Perflib, marks the reader ready and takes the first
// snapshot. 0, or -1 when the name table cannot be read (the last error says why).
int initPerformanceData();

// The name table part of the above, from the bytes of Perflib's "Counters" value (UTF-16LE
// multi-string). 0, or -1 when an index does not parse.
int loadCounterNames(std::span<const std::uint8_t> counters);

// The objects every query asks for: their title indices, each followed by a blank.
std::u16string_view objectsString();

// Queries the data and walks it: 0, or -1 when the query fails (nothing changes then).
int takePerformanceSnapshot();

// Walks one data block into the samples, as a snapshot does after its query; nothing happens
// before the reader is ready. Every read is bounded by the block.
void walkPerformanceBlock(std::span<const std::uint8_t> block, bool firstSample = false);

// Takes a snapshot and reports the busy percentage of each processor since the previous call
// (the start-up snapshot for the first), the processor count and the available memory in
// percent of the total. The count is every processor instance of the data, busy or beyond the
// busy array, so that the processor table reaches all of them. When the query fails the outputs
// are left as they were.
void samplePerformanceLoad(std::span<std::uint8_t, kMaxProcessors> busy,
                           std::uint32_t& processorCount, std::uint8_t& availablePercent);

// The machine's total memory in bytes, which the available-memory percentage is taken of.
void setPerformanceTotalMemory(std::uint64_t bytes);

std::uint32_t objectInstanceCount(std::uint32_t object);
std::uint32_t systemCounterValue(std::uint32_t position);
std::uint32_t cacheCounterValue(std::uint32_t position);
std::uint32_t memoryCounterValue(std::uint32_t position);
std::uint32_t processorCounterValue(std::uint32_t position, std::uint32_t instance);
std::uint32_t logicalDiskCounterValue(std::uint32_t position, std::uint32_t instance);
// By disk number of the disk table: 0 for a record that is missing or not a hard disk.
std::uint32_t physicalDiskCounterValue(std::uint32_t position, std::uint32_t diskNumber);

// The unrounded value behind an accessor (tests and the benchmark).
double counterValue(std::uint32_t object, std::uint32_t position, std::uint32_t instance);

// Back to the state before initPerformanceData: not ready, no indices, no samples.
void resetPerformanceReader();

} // namespace farlink::perf
