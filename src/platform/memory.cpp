#include "platform/memory.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace farlink::platform {

namespace {

// Allocations left before the one that is made to fail; negative when none is to fail.
std::atomic<int> allocationsBeforeFailure{-1};

// True when this allocation is the one chosen to fail. The count is taken down with a
// compare-and-swap so that two threads allocating at once cannot both take the last step.
bool allocationShouldFail() {
    int left = allocationsBeforeFailure.load(std::memory_order_relaxed);
    while (left >= 0) {
        if (allocationsBeforeFailure.compare_exchange_weak(left, left - 1,
                                                           std::memory_order_relaxed)) {
            return left == 0;
        }
    }
    return false;
}

} // namespace

void* heapAlloc(std::size_t size) {
    if (allocationShouldFail()) {
        errno = ENOMEM;
        return nullptr;
    }
    // malloc(0) may legitimately give nullptr, which the caller would take for exhaustion.
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) errno = ENOMEM;
    return block;
}

void heapFree(void* block) {
    std::free(block);
}

void failHeapAllocationAfter(int afterCount) {
    allocationsBeforeFailure.store(afterCount < 0 ? -1 : afterCount, std::memory_order_relaxed);
}

} // namespace farlink::platform
