// The resource map reader. The walk keeps its position in an explicit stack of open keys rather
// than in recursion, so its depth costs heap blocks (guarded, like every working buffer of the
// agent) and never the stack of the port reader thread that asked.
#include "inventory/resource_map.h"

#include "inventory/resource_list.h"
#include "platform/console.h"
#include "runtime/guarded.h"
#include "snmp/request_serial.h"

#include <algorithm>
#include <cstring>

namespace farlink::inventory {

namespace {

using platform::KeyHandle;

// One open key of the walk and the index of the subkey it enumerated last.
struct WalkLevel {
    KeyHandle key;
    std::int64_t index;
    WalkLevel* below;
};

// Keys the system fills with resources no driver owns (the HAL's and the firmware's own); they
// would name a "driver" that does not exist, so the walk passes them by.
bool isExcludedKey(std::string_view name) {
    return name == "Hardware Abstraction Layer" || name == "System Resources";
}

void report(const char* format, int code) {
    platform::diagnostic(platform::formatText(format, code));
}

void setOwner(OwnerName& slot, std::string_view owner) {
    const std::size_t n = std::min(owner.size(), slot.size() - 1);
    std::memcpy(slot.data(), owner.data(), n);
    slot[n] = '\0';
}

void clearOwners(std::span<OwnerName> owners) {
    for (OwnerName& owner : owners)
        owner[0] = '\0';
}

// What the kinds have in common: ranges go to a list of 64, levels and channels to their slot.
template <class Ranges, class MakeRecord>
bool addRange(Ranges& out, const PartialDescriptor& d, std::string_view owner, MakeRecord&& make) {
    // A record keeps 32-bit addresses: a range that reaches past them would be served as some
    // other range below 4 GiB.
    if (!d.fitsIn32Bits()) return true;
    if (out.count >= kRangeRecordLimit) return false;
    auto& record = out.records[out.count++];
    make(record);
    setOwner(record.owner, owner);
    return true;
}

template <std::size_t N>
void setSlot(std::array<OwnerName, N>& owners, std::uint32_t number, std::string_view owner) {
    // The whole number selects the slot: level 0x104 is not level 4.
    if (number < N) setOwner(owners[number], owner);
}

bool store(PortRanges& out, const PartialDescriptor& d, std::string_view owner) {
    return addRange(out, d, owner, [&](PortRange& r) {
        r.start = d.first;
        r.end = static_cast<std::uint32_t>(d.last());
    });
}

bool store(MemoryRanges& out, const PartialDescriptor& d, std::string_view owner) {
    return addRange(out, d, owner, [&](MemoryRange& r) {
        r.start = d.first;
        r.length = d.third;
    });
}

bool store(InterruptOwners& out, const PartialDescriptor& d, std::string_view owner) {
    setSlot(out.owners, d.first, owner);
    return true;
}

bool store(DmaOwners& out, const PartialDescriptor& d, std::string_view owner) {
    setSlot(out.owners, d.first, owner);
    return true;
}

template <class Out>
bool parseList(std::string_view owner, std::span<const std::uint8_t> list, Out& out) {
    return forEachDescriptor(list, [&](const PartialDescriptor& d) {
        if (d.type == Out::kResourceType) return store(out, d, owner);
        if (d.type < kResourcePort || d.type > kResourceDeviceSpecific)
            report("Unknown Resource Type = %d\n", d.type);
        return true; // another kind, or device-specific data already stepped over
    });
}

void clear(PortRanges& out) {
    out.count = 0;
}
void clear(MemoryRanges& out) {
    out.count = 0;
}
void clear(InterruptOwners& out) {
    clearOwners(out.owners);
}
void clear(DmaOwners& out) {
    clearOwners(out.owners);
}

// The buffers of one read: a value name and the list it holds.
struct ListBuffers {
    char valueName[kKeyNameBufferSize];
    std::uint8_t list[kResourceListBufferSize];
};

// The map's root, or nullptr (reported) when it cannot be opened.
KeyHandle openMap(std::uint32_t resourceTypes) {
    KeyHandle root = nullptr;
    const int rc =
        platform::openKey(platform::kLocalMachine, "HARDWARE\\RESOURCEMAP", root, resourceTypes);
    if (rc == platform::kErrorSuccess) return root;
    report("Couldn't open RESOURCEMAP..., Error No is %d\n", rc);
    return nullptr;
}

// Walks the map below its opened root, which it closes.
void walkOpened(KeyHandle root, std::uint32_t resourceTypes, ResourceLeafVisitor visit,
                void* context);

template <class Out> struct LeafReader {
    Out& out;
    ListBuffers& buffers;

    bool operator()(std::string_view owner, KeyHandle key) const {
        const std::span<char> name(buffers.valueName);
        for (std::uint32_t v = 0;; ++v) {
            if (platform::enumValue(key, v, name, nullptr) != platform::kErrorSuccess) break;
            const std::string_view valueName(name.data());
            if (!isRawListName(valueName)) continue;
            std::uint32_t size = 0;
            const int rc = platform::queryValue(key, valueName, nullptr, buffers.list, size);
            if (rc != platform::kErrorSuccess) {
                report("Registry seems to be corrupted, Error no %d\n", rc);
                continue;
            }
            // A full list ends only this list; the next one meets the same limit.
            parseList(owner, std::span<const std::uint8_t>(buffers.list, size), out);
        }
        return true;
    }
};

// What this thread read last of one kind: the tree it came from and the request it served.
// A request may name the map in many bindings (a count beside the table it counts, a table read
// column by column), and a walk costs far more than a copy: within a request the map is walked
// once, and a later request walks it again only when the tree is a new one.
template <class Out> struct KeptMap {
    std::uint64_t serial = 0;
    std::uint64_t generation = 0;
    Out map;
};

// A copy of what a read found: a range list only as far as its count goes (the records beyond it
// are left as they are), the owner slots whole.
template <class Ranges> void copyRanges(const Ranges& from, Ranges& to) {
    to.count = std::min<std::uint32_t>(from.count, kRangeRecordLimit);
    std::copy_n(from.records.begin(), to.count, to.records.begin());
}
void copyMap(const PortRanges& from, PortRanges& to) {
    copyRanges(from, to);
}
void copyMap(const MemoryRanges& from, MemoryRanges& to) {
    copyRanges(from, to);
}
void copyMap(const InterruptOwners& from, InterruptOwners& to) {
    to = from;
}
void copyMap(const DmaOwners& from, DmaOwners& to) {
    to = from;
}

template <class Out> void readMap(Out& out) {
    thread_local KeptMap<Out> kept;
    const std::uint64_t serial = snmp::currentRequestSerial();
    if (serial != 0 && kept.serial == serial) {
        copyMap(kept.map, out);
        return;
    }
    clear(out);
    const std::uint32_t types = platform::resourceTypeBit(Out::kResourceType);
    const KeyHandle root = openMap(types);
    if (root == nullptr) {
        kept.generation = 0;
        return;
    }
    const std::uint64_t generation = platform::keyTreeGeneration(root);
    if (generation == kept.generation) {
        platform::closeKey(root);
        copyMap(kept.map, out);
        kept.serial = serial;
        return;
    }
    auto* buffers = static_cast<ListBuffers*>(runtime::guardedAlloc(sizeof(ListBuffers)));
    if (buffers == nullptr) {
        platform::closeKey(root);
        return;
    }
    LeafReader<Out> reader{out, *buffers};
    walkOpened(
        root, types,
        [](std::string_view owner, KeyHandle key, void* context) {
            return (*static_cast<LeafReader<Out>*>(context))(owner, key);
        },
        &reader);
    runtime::guardedFree(buffers);
    copyMap(out, kept.map);
    kept.generation = generation;
    kept.serial = serial;
}

} // namespace

bool isRawListName(std::string_view valueName) {
    const std::size_t dot = valueName.rfind('.');
    return dot != std::string_view::npos && valueName.substr(dot) == ".Raw";
}

bool walkResourceMap(std::uint32_t resourceTypes, ResourceLeafVisitor visit, void* context) {
    const KeyHandle root = openMap(resourceTypes);
    if (root == nullptr) return false;
    walkOpened(root, resourceTypes, visit, context);
    return true;
}

namespace {

void walkOpened(KeyHandle root, std::uint32_t resourceTypes, ResourceLeafVisitor visit,
                void* context) {
    // The name of the subkey at hand, and room to ask whether it has subkeys of its own.
    auto* nameBuffer = static_cast<char*>(runtime::guardedAlloc(2 * kKeyNameBufferSize));
    WalkLevel* top = runtime::guardedNew<WalkLevel>();
    if (nameBuffer == nullptr || top == nullptr) {
        runtime::guardedFree(top);
        runtime::guardedFree(nameBuffer);
        platform::closeKey(root);
        return;
    }
    *top = {root, -1, nullptr};
    const std::span<char> name(nameBuffer, kKeyNameBufferSize);
    const std::span<char> probe(nameBuffer + kKeyNameBufferSize, kKeyNameBufferSize);
    bool going = true;
    while (top != nullptr) {
        if (!going) {
            // Ended by the visitor: close what is still open on the way up.
            platform::closeKey(top->key);
            WalkLevel* below = top->below;
            runtime::guardedFree(top);
            top = below;
            continue;
        }
        const auto index = static_cast<std::uint32_t>(++top->index);
        const int enumerated = platform::enumKey(top->key, index, name);
        if (enumerated == platform::kErrorNoMoreItems) {
            platform::closeKey(top->key);
            WalkLevel* below = top->below;
            runtime::guardedFree(top);
            top = below;
            continue;
        }
        if (enumerated != platform::kErrorSuccess) {
            report("Unexpected error occured, Error no %d.\n", enumerated);
            continue;
        }
        const std::string_view subkeyName(name.data());
        if (isExcludedKey(subkeyName)) continue;
        KeyHandle subkey = nullptr;
        const int opened = platform::openKey(top->key, subkeyName, subkey, resourceTypes);
        if (opened != platform::kErrorSuccess) {
            report("Registry seems to be corrupted, Error No %d.\n", opened);
            continue;
        }
        // A key with subkeys of its own is a class of drivers: only its leaves own resources.
        // A subkey whose name does not fit the buffer is still a subkey.
        const int firstChild = platform::enumKey(subkey, 0, probe);
        if (firstChild == platform::kErrorSuccess || firstChild == platform::kErrorMoreData) {
            WalkLevel* level = runtime::guardedNew<WalkLevel>();
            if (level == nullptr) {
                platform::closeKey(subkey);
                continue;
            }
            *level = {subkey, -1, top};
            top = level;
            continue;
        }
        going = visit(subkeyName, subkey, context);
        platform::closeKey(subkey);
    }
    runtime::guardedFree(nameBuffer);
}

} // namespace

void readResourceMap(PortRanges& out) {
    readMap(out);
}
void readResourceMap(InterruptOwners& out) {
    readMap(out);
}
void readResourceMap(MemoryRanges& out) {
    readMap(out);
}
void readResourceMap(DmaOwners& out) {
    readMap(out);
}

bool parseResourceList(std::string_view owner, std::span<const std::uint8_t> list,
                       PortRanges& out) {
    return parseList(owner, list, out);
}
bool parseResourceList(std::string_view owner, std::span<const std::uint8_t> list,
                       InterruptOwners& out) {
    return parseList(owner, list, out);
}
bool parseResourceList(std::string_view owner, std::span<const std::uint8_t> list,
                       MemoryRanges& out) {
    return parseList(owner, list, out);
}
bool parseResourceList(std::string_view owner, std::span<const std::uint8_t> list, DmaOwners& out) {
    return parseList(owner, list, out);
}

} // namespace farlink::inventory
