// Named shared memory: POSIX shared memory "/<name>" on this platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace farlink::platform {

struct SharedMapping {
    std::uint8_t* base = nullptr;
    std::size_t size = 0;
};

// The name of the in-band agent's block: FARLINK_SHM_NAME, else "KoruFileMappingObject".
std::string sharedBlockName();

// Maps the whole of an existing region for reading and writing; false with the last error set
// (2 when no such region exists).
bool openSharedMapping(std::string_view name, SharedMapping& mapping);

// Creates (or opens) a region of at least `size` bytes, zero-filled when new, and maps it.
bool createSharedMapping(std::string_view name, std::size_t size, SharedMapping& mapping);

void closeSharedMapping(SharedMapping& mapping);

// Removes the name; mappings already made stay valid.
bool removeSharedMapping(std::string_view name);

} // namespace farlink::platform
