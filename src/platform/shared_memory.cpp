#include "platform/shared_memory.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace farlink::platform {

namespace {

std::string objectName(std::string_view name) {
    std::string object = "/";
    object.append(name);
    return object;
}

std::string userName(uid_t uid) {
    std::vector<char> buffer(4096);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        return found->pw_name;
    return "uid " + std::to_string(uid);
}

std::string modeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// The group FARLINK_SHM_GROUP names: nullopt when none is configured; a refusal text when it
// names no group of this system.
struct SharingGroup {
    std::optional<gid_t> gid;
    std::string refusal;
};

SharingGroup sharingGroup() {
    const char* name = std::getenv("FARLINK_SHM_GROUP");
    if (name == nullptr || *name == '\0') return {};
    std::vector<char> buffer(4096);
    group entry{};
    group* found = nullptr;
    if (::getgrnam_r(name, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        return {found->gr_gid, {}};
    return {std::nullopt, std::string("FARLINK_SHM_GROUP names no group: ") + name};
}

// Why a region with these attributes must not be used; "" when it may.
std::string refusalOf(const struct stat& info, std::size_t minimumSize, const SharingGroup& group) {
    if (!S_ISREG(info.st_mode)) return "it is not a shared memory region";
    const bool sharingGroupOwns = group.gid && info.st_gid == *group.gid;
    // Anyone able to write the block could hand the agent texts for TESSEL.INI and read the
    // manager's SET values; only the agent's own side may create it or write it.
    if ((info.st_mode & S_IWOTH) != 0)
        return "every user may write it (mode " + modeText(info.st_mode) + ")";
    if (info.st_uid != ::geteuid() && info.st_uid != 0 && !sharingGroupOwns)
        return "it belongs to " + userName(info.st_uid) + ", not to " + userName(::geteuid());
    if ((info.st_mode & S_IWGRP) != 0 && !sharingGroupOwns)
        return "its group may write it (mode " + modeText(info.st_mode) +
               ") and FARLINK_SHM_GROUP does not name that group";
    if (static_cast<std::uint64_t>(info.st_size) < minimumSize)
        return "it holds " + std::to_string(info.st_size) + " bytes, fewer than " +
               std::to_string(minimumSize);
    return {};
}

bool adopt(int fd, const struct stat& info, SharedRegion& region) {
    region.fd = fd;
    region.device = info.st_dev;
    region.inode = info.st_ino;
    return true;
}

bool fail(int fd, int error) {
    if (fd >= 0) ::close(fd);
    errno = error;
    return false;
}

bool openExisting(const std::string& object, std::size_t minimumSize, const SharingGroup& group,
                  SharedRegion& region, std::string& refusal) {
    const int fd = ::shm_open(object.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0);
    if (fd < 0) return false; // errno ENOENT (2) when the region does not exist
    struct stat info {};
    if (::fstat(fd, &info) != 0) return fail(fd, errno);
    refusal = refusalOf(info, minimumSize, group);
    if (!refusal.empty()) return fail(fd, EPERM);
    return adopt(fd, info, region);
}

} // namespace

std::string sharedBlockName() {
    const char* name = std::getenv("FARLINK_SHM_NAME");
    if (name != nullptr && *name != '\0') return name;
    return "KoruFileMappingObject";
}

bool openSharedRegion(std::string_view name, std::size_t minimumSize, SharedRegion& region,
                      std::string& refusal) {
    region = SharedRegion{};
    refusal.clear();
    const SharingGroup group = sharingGroup();
    if (!group.refusal.empty()) {
        refusal = group.refusal;
        return fail(-1, EINVAL);
    }
    return openExisting(objectName(name), minimumSize, group, region, refusal);
}

bool createSharedRegion(std::string_view name, std::size_t size, SharedRegion& region,
                        std::string& refusal) {
    region = SharedRegion{};
    refusal.clear();
    const SharingGroup group = sharingGroup();
    if (!group.refusal.empty()) {
        refusal = group.refusal;
        return fail(-1, EINVAL);
    }
    const std::string object = objectName(name);
    const mode_t mode = group.gid ? 0660 : 0600;
    // Two rounds: a region found in the first may be removed before it is opened.
    for (int round = 0; round < 2; ++round) {
        const int fd =
            ::shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd >= 0) {
            // The mode is set again because the umask may have taken bits the group needs.
            if ((group.gid && ::fchown(fd, static_cast<uid_t>(-1), *group.gid) != 0) ||
                ::fchmod(fd, mode) != 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
                const int error = errno;
                ::shm_unlink(object.c_str());
                return fail(fd, error);
            }
            struct stat info {};
            if (::fstat(fd, &info) != 0) return fail(fd, errno);
            return adopt(fd, info, region);
        }
        if (errno != EEXIST) return false;
        if (openExisting(object, 0, group, region, refusal)) {
            if (sharedRegionSize(region) >= size) return true;
            // New bytes of a grown region read as zero, which is what a fresh field holds.
            if (::ftruncate(region.fd, static_cast<off_t>(size)) == 0) return true;
            const int error = errno;
            closeSharedRegion(region);
            return fail(-1, error);
        }
        if (errno != ENOENT) return false;
    }
    return false;
}

bool readSharedRegion(const SharedRegion& region, std::size_t offset,
                      std::span<std::uint8_t> bytes) {
    if (region.fd < 0) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(region.fd, bytes.data() + done, bytes.size() - done,
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false; // the region ends before the bytes asked for
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool writeSharedRegion(const SharedRegion& region, std::size_t offset,
                       std::span<const std::uint8_t> bytes, std::size_t mustHold) {
    // A write past the end would grow the region again behind its owner's back.
    const std::size_t size = sharedRegionSize(region);
    if (offset > size || bytes.size() > size - offset || mustHold > size) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(region.fd, bytes.data() + done, bytes.size() - done,
                                   static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::size_t sharedRegionSize(const SharedRegion& region) {
    struct stat info {};
    if (region.fd < 0 || ::fstat(region.fd, &info) != 0) return 0;
    return static_cast<std::size_t>(info.st_size);
}

bool sharedRegionStillNamed(std::string_view name, const SharedRegion& region) {
    const int fd = ::shm_open(objectName(name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW, 0);
    if (fd < 0) return false;
    struct stat info {};
    const bool same =
        ::fstat(fd, &info) == 0 && info.st_dev == region.device && info.st_ino == region.inode;
    ::close(fd);
    return same;
}

void closeSharedRegion(SharedRegion& region) {
    if (region.fd >= 0) ::close(region.fd);
    region = SharedRegion{};
}

bool removeSharedRegion(std::string_view name) {
    return ::shm_unlink(objectName(name).c_str()) == 0;
}

} // namespace farlink::platform
