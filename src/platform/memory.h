// The heap under the agent's guarded blocks.
#pragma once

#include <cstddef>

namespace farlink::platform {

// Fixed, uncleared memory; nullptr (with the last error set to ENOMEM) when none is left.
void* heapAlloc(std::size_t size);
void heapFree(void* block);

// Test hook: the allocation `afterCount` calls from now fails (0 = the next one); -1 = never.
void failHeapAllocationAfter(int afterCount);

} // namespace farlink::platform
