// A performance block comes from the system, or from an image anybody may have written: walk
// anything, twice (the first as the start-up's snapshot), and check that the instance counts
// stay within what the block could hold and that every counter of every object computes.
#include "perf/perf_reader.h"
#include "platform/perf_layout.h"
#include "platform/perf_names.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

using namespace farlink::perf;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Every input starts from a reader that has only its name table, so that a finding
    // reproduces from its input alone.
    static const std::vector<std::uint8_t> names = farlink::platform::perfCountersValue();
    resetPerformanceReader();
    if (loadCounterNames(names) != 0) __builtin_trap();
    const std::span<const std::uint8_t> block(data, size);
    walkPerformanceBlock(block, true);
    walkPerformanceBlock(block);
    // An instance needs its definition and a counter block at the least.
    const std::size_t most = size / (farlink::platform::perf_layout::kInstanceSize +
                                     farlink::platform::perf_layout::kCounterBlockSize);
    for (std::uint32_t object = 0; object < kObjectCount; ++object) {
        const std::uint32_t instances = objectInstanceCount(object);
        if (instances > 1 && instances > most) __builtin_trap();
        for (std::uint32_t position = 0; position < 15; ++position)
            for (std::uint32_t i = 0; i < instances && i < 4; ++i)
                (void)counterWord(counterValue(object, position, i));
    }
    return 0;
}
