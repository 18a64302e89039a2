// The process-wide stop flag: 0 at start, set to 1 once when the service is told to stop.
#pragma once

#include <atomic>
#include <cstdint>

namespace farlink::runtime {

extern std::atomic<std::uint32_t> stopFlag;

inline bool stopRequested() {
    return stopFlag.load(std::memory_order_relaxed) == 1;
}

} // namespace farlink::runtime
