// Performance data: one block in the published PERF_DATA_BLOCK layout (platform/perf_layout.h),
// as the wide registry query of HKEY_PERFORMANCE_DATA hands it over.
//
// On a Linux host the block is built at each query from /proc/stat, /proc/meminfo,
// /proc/vmstat, /proc/diskstats, /proc/interrupts and the mounted block filesystems, and holds
// only what Linux counts (platform/host_perf.h lists it); its title indices are those of the
// built-in name table (platform/perf_names.h) that the key trees serve as Perflib's. With
// FARLINK_MACHINE the image's perf/data.bin is the block, handed over whole to every query.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace farlink::platform {

// `objects` names the objects wanted: title indices in decimal, separated by blanks ("Global"
// for all). Results: 0 with `size` the bytes written; 234 (more data) with `size` the bytes
// needed when the block does not fit `buffer`; 2 when there is no performance data; another
// error code when it cannot be gathered.
int queryPerformanceData(std::u16string_view objects, std::span<std::uint8_t> buffer,
                         std::uint32_t& size);

// On a host, a query for the same objects within this many milliseconds of the last block built
// gets that block again, times and all: the kernel counts processor time in ticks of 10 ms, so a
// closer sample says little, and a burst of requests then costs one build. 0 builds every time.
inline constexpr std::uint32_t kPerformanceDataReuseMs = 100;
void setPerformanceDataReuse(std::uint32_t milliseconds);

} // namespace farlink::platform
