#include "runtime/guarded.h"

#include "platform/console.h"
#include "platform/memory.h"

#include <atomic>
#include <cstring>
#include <string>

namespace farlink::runtime {

namespace {

// Offsets from the block start.
constexpr std::size_t kHandleOffset = 0;
constexpr std::size_t kSizeOffset = 4;
constexpr std::size_t kHeadGuardOffset = 8;
constexpr std::size_t kCallerOffset = 18;
// The caller's bytes hold records with 32-bit and pointer fields, so they are placed on this
// boundary; the slack before the block start is recorded in the handle field.
constexpr std::size_t kCallerAlignment = alignof(std::max_align_t);

std::atomic<std::size_t> liveBlocks{0};

const char* const kBanner = "!!!!!!!!!!!!!!!!CCCCCCCCCCCCRRRRRRRRRIIIIIIIIIIIIBBBBBBBB";

void guardMessage(bool check, const char* what) {
    std::string line = kBanner;
    line += check ? " text" : "";
    line += what;
    platform::printLineAndPause(line);
}

std::uint32_t load32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void store32(std::uint8_t* p, std::uint32_t v) {
    std::memcpy(p, &v, sizeof v);
}

// Verifies the guards of the block whose caller's bytes start at p; false when p cannot be a
// block at all.
bool verify(void* p, bool check) {
    if (p == nullptr) {
        guardMessage(check, ": ptr");
        return false;
    }
    if (reinterpret_cast<std::uintptr_t>(p) == kCallerOffset) {
        guardMessage(check, ":rv_p");
        return false;
    }
    auto* start = static_cast<std::uint8_t*>(p) - kCallerOffset;
    for (std::size_t i = 0; i < kGuardBytes; ++i)
        if (start[kHeadGuardOffset + i] != kGuardValue) guardMessage(check, ":head");
    const std::uint32_t size = load32(start + kSizeOffset);
    auto* tail = static_cast<std::uint8_t*>(p) + size;
    for (std::size_t i = 0; i < kGuardBytes; ++i)
        if (tail[i] != kGuardValue) guardMessage(check, ":tail");
    return true;
}

} // namespace

void* guardedAlloc(std::size_t size) {
    if (size > 0xFFFFFFFFu - kGuardOverhead - kCallerAlignment) return nullptr;
    auto* raw =
        static_cast<std::uint8_t*>(platform::heapAlloc(size + kGuardOverhead + kCallerAlignment));
    if (raw == nullptr) return nullptr;
    const auto rawAddress = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t caller =
        (rawAddress + kCallerOffset + kCallerAlignment - 1) & ~(kCallerAlignment - 1);
    auto* start = raw + (caller - kCallerOffset - rawAddress);
    store32(start + kHandleOffset, static_cast<std::uint32_t>(start - raw));
    store32(start + kSizeOffset, static_cast<std::uint32_t>(size));
    std::memset(start + kHeadGuardOffset, kGuardValue, kGuardBytes);
    std::memset(start + kCallerOffset + size, kGuardValue, kGuardBytes);
    liveBlocks.fetch_add(1, std::memory_order_relaxed);
    return start + kCallerOffset;
}

void guardedFree(void* block) {
    if (!verify(block, false)) return;
    auto* start = static_cast<std::uint8_t*>(block) - kCallerOffset;
    platform::heapFree(start - load32(start + kHandleOffset));
    liveBlocks.fetch_sub(1, std::memory_order_relaxed);
}

void guardedCheck(void* block) {
    verify(block, true);
}

std::size_t guardedLiveBlocks() {
    return liveBlocks.load(std::memory_order_relaxed);
}

} // namespace farlink::runtime
