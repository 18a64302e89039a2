// Resource lists as the system records them (the published CM_RESOURCE_LIST layout,
// little-endian): a count of full descriptors, each with its interface type, bus number, a
// version, a revision and a count of 16-byte partial descriptors; a device-specific descriptor
// is followed by DataSize bytes of its own data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "inventory/little_endian.h"

namespace farlink::inventory {

inline constexpr std::uint8_t kResourcePort = 1;
inline constexpr std::uint8_t kResourceInterrupt = 2;
inline constexpr std::uint8_t kResourceMemory = 3;
inline constexpr std::uint8_t kResourceDma = 4;
inline constexpr std::uint8_t kResourceDeviceSpecific = 5;

// One partial descriptor as read from the list.
struct PartialDescriptor {
    std::uint8_t type = 0;
    std::uint32_t first = 0;  // port/memory: start, low half; interrupt: level; DMA: channel
    std::uint32_t second = 0; // port/memory: start, high half
    std::uint32_t third = 0;  // port/memory: length

    // Port and memory ranges as 64-bit numbers: the start and the last address.
    std::uint64_t start() const { return (std::uint64_t{second} << 32) | first; }
    std::uint64_t last() const { return start() + third - (third != 0 ? 1 : 0); }
    // A range the 32-bit records can hold: start and end both below 4 GiB.
    bool fitsIn32Bits() const { return second == 0 && start() + third <= 0x1'0000'0000ull; }
};

// Calls visit(descriptor) for every partial descriptor in order, device-specific ones included
// (their data is stepped over). Every read is bounded by the bytes of the list, whatever its
// counts claim: the walk stops at the first header or descriptor that would reach past them.
// visit returns false to end the walk. Returns false when the list was cut short (by its
// bytes or by visit), true when every counted descriptor was read.
template <class Visit> bool forEachDescriptor(std::span<const std::uint8_t> list, Visit&& visit) {
    constexpr std::size_t kListHeader = 4;
    constexpr std::size_t kFullHeader = 16; // interface type, bus, version, revision, count
    constexpr std::size_t kPartialSize = 16;
    if (list.size() < kListHeader) return false;
    const std::uint32_t fullCount = answerWord(list, 0);
    std::size_t at = kListHeader;
    for (std::uint32_t f = 0; f < fullCount; ++f) {
        if (list.size() - at < kFullHeader) return false;
        const std::uint32_t partialCount = answerWord(list, at + 12);
        at += kFullHeader;
        for (std::uint32_t p = 0; p < partialCount; ++p) {
            if (list.size() - at < kPartialSize) return false;
            PartialDescriptor d;
            d.type = list[at];
            d.first = answerWord(list, at + 4);
            d.second = answerWord(list, at + 8);
            d.third = answerWord(list, at + 12);
            at += kPartialSize;
            if (d.type == kResourceDeviceSpecific) {
                // DataSize sits where a range keeps its start.
                if (list.size() - at < d.first) return false;
                at += d.first;
            }
            if (!visit(d)) return false;
        }
    }
    return true;
}

} // namespace farlink::inventory
