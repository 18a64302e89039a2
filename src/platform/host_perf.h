// The host's performance block, built from the kernel's own counters. Inside the platform layer
// only; the texts are read by performance_data.cpp, so that the building is tested on texts.
//
// What the block holds (everything else is left out, and the reader then reads 0 for it):
//   System     % Total Processor/Privileged/User/Interrupt Time (100-ns timers over the "cpu"
//              line, per processor), Total Interrupts/sec ("intr"), Context Switches/sec
//              ("ctxt")
//   Memory     Available Bytes (MemAvailable), Page Faults/sec (pgfault), Page Reads/sec
//              (pgmajfault), Pages Input/sec (pswpin), Pages Output/sec (pswpout), Pages/sec
//   Processor  one instance per "cpuN" line: % Processor Time (idle and iowait, inverted),
//              % Privileged Time (system, irq, softirq), % User Time (user, nice),
//              % Interrupt Time (irq, softirq), Interrupts/sec (its column of /proc/interrupts)
//   PhysicalDisk, LogicalDisk  one instance per physical drive / mounted block filesystem, the
//              fifteen disk counters from its /proc/diskstats line; each average has its own
//              base counter, written just before it under the same title index
// Processor times are clock ticks turned into 100-ns units; PerfTime is the boot-time clock in
// milliseconds (PerfFreq 1000), PerfTime100nSec the same clock in 100-ns units.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace farlink::platform {

inline constexpr std::uint64_t kHostPerfFreq = 1000;

struct MountedVolume {
    std::string mountPoint;
    unsigned major = 0;
    unsigned minor = 0;
};

struct HostPerfSources {
    std::string_view stat, meminfo, vmstat, diskstats, interrupts;
    std::span<const std::string> physicalDrives; // block device names in drive order
    std::span<const MountedVolume> volumes;
    std::string_view systemName;
    std::uint64_t bootTime100ns = 0;
    long ticksPerSecond = 100;
};

// Builds the block into `block` (replacing what it held). `wanted` lists the title indices of
// the objects to build; empty builds them all.
void buildHostPerfBlock(const HostPerfSources& sources, std::span<const std::uint32_t> wanted,
                        std::vector<std::uint8_t>& block);

// The title indices named by a query's object list ("Global", or decimal numbers between
// blanks); empty for all objects.
std::vector<std::uint32_t> wantedObjects(std::u16string_view objects);

// The block filesystems of a /proc/self/mounts text: source under /dev/, each mount point once.
std::vector<std::string> blockMountPoints(std::string_view mounts);

} // namespace farlink::platform
