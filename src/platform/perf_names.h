// The counter name table of the performance data: title index and name of every object and
// counter the host's performance block can hold. The block the host builds takes its title
// indices from here, and the host's key trees serve the same table as Perflib's "Counters"
// value, so the two always agree.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace farlink::platform {

struct TreeKey;

struct PerfName {
    std::uint32_t index = 0;
    std::string_view name;
};

// Even indices, ascending, as the system's table numbers its names (the odd ones are the help
// texts, which the agent never reads).
inline constexpr std::array<PerfName, 60> kPerfNames = {{
    {2, "System"},
    {4, "Memory"},
    {6, "% Processor Time"},
    {8, "% Privileged Time"},
    {10, "% User Time"},
    {12, "% Interrupt Time"},
    {14, "Interrupts/sec"},
    {16, "Available Bytes"},
    {18, "Page Faults/sec"},
    {20, "Transition Faults/sec"},
    {22, "Write Copies/sec"},
    {24, "Page Reads/sec"},
    {26, "Page Writes/sec"},
    {28, "Pages Input/sec"},
    {30, "Pages Output/sec"},
    {32, "Pages/sec"},
    {34, "System Code Total Bytes"},
    {36, "System Driver Total Bytes"},
    {38, "% Total Processor Time"},
    {40, "% Total Privileged Time"},
    {42, "% Total User Time"},
    {44, "% Total Interrupt Time"},
    {46, "Total Interrupts/sec"},
    {48, "Context Switches/sec"},
    {50, "Exception Dispatches/sec"},
    {52, "System Calls/sec"},
    {54, "File Control Operations/sec"},
    {56, "File Control Bytes/sec"},
    {58, "File Data Operations/sec"},
    {60, "File Read Operations/sec"},
    {62, "File Write Operations/sec"},
    {64, "File Read Bytes/sec"},
    {66, "File Write Bytes/sec"},
    {68, "Cache"},
    {70, "Copy Read Hits %"},
    {72, "Copy Reads/sec"},
    {74, "Data Map Hits %"},
    {76, "Data Maps/sec"},
    {78, "Data Flushes/sec"},
    {80, "Data Flush Pages/sec"},
    {82, "Lazy Write Flushes/sec"},
    {84, "Lazy Write Pages/sec"},
    {86, "Processor"},
    {88, "PhysicalDisk"},
    {90, "LogicalDisk"},
    {92, "Avg. Disk Bytes/Read"},
    {94, "Avg. Disk Bytes/Write"},
    {96, "Avg. Disk Bytes/Transfer"},
    {98, "Avg. Disk sec/Read"},
    {100, "Avg. Disk sec/Write"},
    {102, "Avg. Disk sec/Transfer"},
    {104, "Disk Read Bytes/sec"},
    {106, "Disk Write Bytes/sec"},
    {108, "Disk Bytes/sec"},
    {110, "Disk Reads/sec"},
    {112, "Disk Writes/sec"},
    {114, "Disk Transfers/sec"},
    {116, "% Disk Read Time"},
    {118, "% Disk Write Time"},
    {120, "% Disk Time"},
}};

inline constexpr std::uint32_t kPerfLastCounter = 120;

// The title index of a name of the table, 0 for a name that is not there.
constexpr std::uint32_t findPerfIndex(std::string_view name) {
    for (const PerfName& entry : kPerfNames)
        if (entry.name == name) return entry.index;
    return 0;
}

// The same where a constant is needed: a name that is not in the table does not compile.
consteval std::uint32_t perfIndex(std::string_view name) {
    const std::uint32_t index = findPerfIndex(name);
    if (index == 0) throw "not a name of the counter name table";
    return index;
}

// Perflib's "Counters" value: index and name in turn, each a UTF-16LE text with its terminator,
// and one more terminator at the end (a REG_MULTI_SZ as the wide registry calls return it).
std::vector<std::uint8_t> perfCountersValue();

// SOFTWARE\Microsoft\Windows NT\CurrentVersion\Perflib with "Last Counter" and 009\"Counters".
void addPerflibKeys(TreeKey& root);

} // namespace farlink::platform
