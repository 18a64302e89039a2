// The resource map: which driver holds which I/O port ranges, interrupt levels, memory ranges and
// DMA channels, as the system records it under HARDWARE\RESOURCEMAP. A read fills the caller's
// output from a walk of the tree; each thread keeps what it read last of each kind and hands out
// a copy instead of walking again while the tree is the same snapshot (an image whose files did
// not change) or the request is the same one (see snmp/request_serial.h). Several threads may
// read at once.
#pragma once

#include "platform/key_tree.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>

namespace farlink::inventory {

inline constexpr std::size_t kRangeRecordLimit = 64;
inline constexpr std::size_t kInterruptSlots = 17; // levels 0 to 16
inline constexpr std::size_t kDmaSlots = 16;       // channels 0 to 15
// An owner name keeps at most 79 characters and its terminator.
inline constexpr std::size_t kOwnerNameSize = 80;
// The walk reads key and value names into buffers of this size, and a resource list into one of
// kResourceListBufferSize; a name or a list that does not fit is skipped.
inline constexpr std::size_t kKeyNameBufferSize = 512;
inline constexpr std::size_t kResourceListBufferSize = 3072;

using OwnerName = std::array<char, kOwnerNameSize>;

struct PortRange {
    std::uint32_t start;
    std::uint32_t end; // the last port of the range
    OwnerName owner;
};

struct MemoryRange {
    std::uint32_t start;
    std::uint32_t length;
    OwnerName owner;
};

// The four outputs of a read, one per kind. The records of a list are left as they are beyond
// its count; an empty owner name means that nobody holds the slot.
struct PortRanges {
    static constexpr std::uint8_t kResourceType = 1;
    std::array<PortRange, kRangeRecordLimit> records;
    std::uint32_t count;
};

struct InterruptOwners {
    static constexpr std::uint8_t kResourceType = 2;
    std::array<OwnerName, kInterruptSlots> owners;
};

struct MemoryRanges {
    static constexpr std::uint8_t kResourceType = 3;
    std::array<MemoryRange, kRangeRecordLimit> records;
    std::uint32_t count;
};

struct DmaOwners {
    static constexpr std::uint8_t kResourceType = 4;
    std::array<OwnerName, kDmaSlots> owners;
};

// Reads the resource map into `out`, which the caller may pass uninitialised: it is emptied
// first, and stays empty when the map cannot be opened.
void readResourceMap(PortRanges& out);
void readResourceMap(InterruptOwners& out);
void readResourceMap(MemoryRanges& out);
void readResourceMap(DmaOwners& out);

// Adds what one resource list (CM_RESOURCE_LIST bytes) holds of out's kind, owned by `owner`
// (cut to 79 characters). Ranges that reach above 4 GiB, and interrupt levels or DMA channels
// without a slot, are not stored. False when the list ended early: a full record list, or
// counts that claim more than its bytes hold.
bool parseResourceList(std::string_view owner, std::span<const std::uint8_t> list, PortRanges& out);
bool parseResourceList(std::string_view owner, std::span<const std::uint8_t> list,
                       InterruptOwners& out);
bool parseResourceList(std::string_view owner, std::span<const std::uint8_t> list,
                       MemoryRanges& out);
bool parseResourceList(std::string_view owner, std::span<const std::uint8_t> list, DmaOwners& out);

// True for the name of a value that holds a raw resource list: the part from its last '.' on is
// exactly ".Raw" (the translated lists beside them are not read).
bool isRawListName(std::string_view valueName);

// The walk of HARDWARE\RESOURCEMAP that the resource map reads and the storage adapter table
// share: depth first in the tree's order, never entering a key named exactly "Hardware
// Abstraction Layer" or "System Resources" (at any depth). A key with subkeys is only descended
// into; each key without subkeys (a leaf: one driver's key) is handed to visit(owner, key) while
// it is open, where owner is the key's name. visit returns false to end the walk. Every key the
// walk opens is closed before it returns. `resourceTypes` (resourceTypeBit values) tells the
// host view which resources are wanted. False when the map could not be opened.
using ResourceLeafVisitor = bool (*)(std::string_view owner, platform::KeyHandle key,
                                     void* context);
bool walkResourceMap(std::uint32_t resourceTypes, ResourceLeafVisitor visit, void* context);

template <class Visit> bool walkResourceMap(std::uint32_t resourceTypes, Visit&& visit) {
    using V = std::remove_reference_t<Visit>;
    return walkResourceMap(
        resourceTypes,
        [](std::string_view owner, platform::KeyHandle key, void* context) {
            return static_cast<bool>((*static_cast<V*>(context))(owner, key));
        },
        const_cast<void*>(static_cast<const void*>(&visit)));
}

} // namespace farlink::inventory
