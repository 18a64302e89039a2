#include "platform/shared_memory.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace farlink::platform {

namespace {

std::string objectName(std::string_view name) {
    std::string object = "/";
    object.append(name);
    return object;
}

// Maps the whole region behind fd and closes fd; the mapping keeps the region alive.
bool mapWhole(int fd, std::size_t minimumSize, bool grow, SharedMapping& mapping) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return false;
    std::size_t size = static_cast<std::size_t>(info.st_size);
    if (grow && size < minimumSize) {
        // New bytes of a grown region read as zero, which is what a fresh block must hold.
        if (::ftruncate(fd, static_cast<off_t>(minimumSize)) != 0) return false;
        size = minimumSize;
    }
    if (size == 0) {
        // An empty region has nothing to map; it is a block that was never filled in.
        errno = EINVAL;
        return false;
    }
    void* base = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (base == MAP_FAILED) return false;
    mapping.base = static_cast<std::uint8_t*>(base);
    mapping.size = size;
    return true;
}

bool openAndMap(std::string_view name, int flags, std::size_t size, SharedMapping& mapping) {
    mapping = SharedMapping{};
    const std::string object = objectName(name);
    // Read and write for the owner and its group: the in-band agent and this agent may run
    // under different accounts that share a group.
    const int fd = ::shm_open(object.c_str(), flags | O_RDWR | O_CLOEXEC, 0660);
    if (fd < 0) return false; // errno ENOENT (2) when the region does not exist
    const bool mapped = mapWhole(fd, size, (flags & O_CREAT) != 0, mapping);
    const int mapError = errno;
    ::close(fd);
    if (!mapped) errno = mapError;
    return mapped;
}

} // namespace

std::string sharedBlockName() {
    const char* name = std::getenv("FARLINK_SHM_NAME");
    if (name != nullptr && *name != '\0') return name;
    return "KoruFileMappingObject";
}

bool openSharedMapping(std::string_view name, SharedMapping& mapping) {
    return openAndMap(name, 0, 0, mapping);
}

bool createSharedMapping(std::string_view name, std::size_t size, SharedMapping& mapping) {
    return openAndMap(name, O_CREAT, size, mapping);
}

void closeSharedMapping(SharedMapping& mapping) {
    if (mapping.base != nullptr) ::munmap(mapping.base, mapping.size);
    mapping = SharedMapping{};
}

bool removeSharedMapping(std::string_view name) {
    return ::shm_unlink(objectName(name).c_str()) == 0;
}

} // namespace farlink::platform
