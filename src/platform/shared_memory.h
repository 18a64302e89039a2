// Named shared memory: POSIX shared memory "/<name>" on this platform.
//
// A region is read and written through its descriptor rather than mapped: another process that
// shrinks it then costs this one a short read, never a fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace farlink::platform {

struct SharedRegion {
    int fd = -1;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

// The name of the in-band agent's block: FARLINK_SHM_NAME, else "KoruFileMappingObject".
std::string sharedBlockName();

// Opens an existing region that this process may trust: owned by its own user or by root (or
// by a member of the group FARLINK_SHM_GROUP names, when it carries that group), writable by
// nobody else, and holding at least minimumSize bytes. On failure the last error is set (2
// when no such region exists) and `refusal` says, for a region that exists, why it was not
// taken ("" otherwise).
bool openSharedRegion(std::string_view name, std::size_t minimumSize, SharedRegion& region,
                      std::string& refusal);

// Creates the region exclusively, zero-filled, read-write for the owner only (and for the group
// FARLINK_SHM_GROUP names, when set). A region that already exists is opened as
// openSharedRegion does and grown with zeros to `size` when it is smaller.
bool createSharedRegion(std::string_view name, std::size_t size, SharedRegion& region,
                        std::string& refusal);

// Reads or writes bytes at offset; false, touching nothing, when the region does not hold them
// all (a region never grows by a write). A write also needs the region to hold at least
// `mustHold` bytes (the whole field a shorter text goes into).
bool readSharedRegion(const SharedRegion& region, std::size_t offset,
                      std::span<std::uint8_t> bytes);
bool writeSharedRegion(const SharedRegion& region, std::size_t offset,
                       std::span<const std::uint8_t> bytes, std::size_t mustHold = 0);

// The region's current size (0 when it cannot be told).
std::size_t sharedRegionSize(const SharedRegion& region);

// True while `name` still names this region; false once it was removed or replaced.
bool sharedRegionStillNamed(std::string_view name, const SharedRegion& region);

void closeSharedRegion(SharedRegion& region);

// Removes the name; regions already open stay usable.
bool removeSharedRegion(std::string_view name);

} // namespace farlink::platform
