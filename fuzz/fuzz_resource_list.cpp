// A resource list is a registry value that any driver may have written: parse anything as each
// of the four kinds, and check that the counts stay within their lists, that every stored range
// lies below 4 GiB and that every owner name is terminated within its field.
#include "inventory/resource_map.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace {

using namespace farlink::inventory;

constexpr char kOwner[] =
    "FuzzedDriverWithAnOwnerNameLongerThanTheSeventyNineCharactersThatAnOwnerFieldKeeps";

bool terminated(const OwnerName& name) {
    return std::memchr(name.data(), '\0', name.size()) != nullptr;
}

template <class Slots> void checkSlots(const Slots& slots) {
    for (const OwnerName& name : slots.owners)
        if (!terminated(name)) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> list(data, size);

    PortRanges ports;
    ports.count = 0;
    parseResourceList(kOwner, list, ports);
    if (ports.count > kRangeRecordLimit) __builtin_trap();
    for (std::uint32_t i = 0; i < ports.count; ++i) {
        const PortRange& r = ports.records[i];
        if (r.end < r.start || !terminated(r.owner)) __builtin_trap();
    }

    MemoryRanges memory;
    memory.count = 0;
    parseResourceList(kOwner, list, memory);
    if (memory.count > kRangeRecordLimit) __builtin_trap();
    for (std::uint32_t i = 0; i < memory.count; ++i) {
        const MemoryRange& r = memory.records[i];
        if (std::uint64_t{r.start} + r.length > 0x1'0000'0000ull || !terminated(r.owner))
            __builtin_trap();
    }

    InterruptOwners interrupts{};
    parseResourceList(kOwner, list, interrupts);
    checkSlots(interrupts);

    DmaOwners channels{};
    parseResourceList(kOwner, list, channels);
    checkSlots(channels);
    return 0;
}
