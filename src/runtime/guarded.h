// Guarded blocks: heap blocks framed by ten guard bytes of 0xF0 on each side, so an overrun of
// a fixed-size buffer is noticed when the block is checked or released.
//
// Layout around the address handed out (p): p - 18: 4-byte handle of the underlying allocation,
// p - 14: 4-byte size, p - 10: head guard, p: the caller's bytes, p + size: tail guard.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

namespace farlink::runtime {

inline constexpr std::size_t kGuardBytes = 10;
inline constexpr std::uint8_t kGuardValue = 0xF0;
inline constexpr std::size_t kGuardOverhead = 28;

// The caller's bytes of a new block (not cleared), or nullptr when no memory is left.
void* guardedAlloc(std::size_t size);
// Verifies both guards (a line per damaged byte) and releases the block.
void guardedFree(void* block);
// Verifies both guards and keeps the block.
void guardedCheck(void* block);

// Guarded blocks allocated and not yet released (a leak shows here in tests).
std::size_t guardedLiveBlocks();

// A guarded block holding one value-initialised T (T must be trivially destructible).
template <class T> T* guardedNew() {
    void* p = guardedAlloc(sizeof(T));
    return p ? new (p) T{} : nullptr;
}

} // namespace farlink::runtime
