// Facts about the machine and the agent's process that the system groups serve: the computer
// name, the account, the system's version, the time since boot, and the drive letters with their
// volumes.
//
// On a Linux host they come from the system itself. With FARLINK_MACHINE they come from the
// image: system/facts holds "Key<TAB>value" lines (ComputerName, UserName, Version as
// "major.minor", UptimeMs, Memory in bytes), system/volumes one line per drive letter; in both,
// blank lines and lines starting with '#' are passed by and lines may end with CR LF. A key or a
// file that is missing makes the call that needs it fail.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace farlink::platform {

// The machine's network name; false (last error set) when it cannot be told. Host: uname's node
// name, whole (the caller cuts it to what it serves).
bool computerName(std::string& name);

// The name of the account the process runs as; false (last error set) when it cannot be told.
// Host: the password database's name of the effective user, else the user id in decimal, looked
// up by the first call only: a remote user database can block, and the account does not change
// while the process runs.
bool processUserName(std::string& name);

// The operating system's name and version. Host: uname's system name and the kernel release's
// first two numbers; image: "Windows NT" and Version.
struct SystemVersion {
    std::string system;
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
};
bool systemVersion(SystemVersion& version);

// Milliseconds since the system started, in 64 bits so that it never wraps; false when not
// known. Host: the boot-time clock, which counts suspended time too; image: UptimeMs.
bool uptimeMs(std::uint64_t& ms);

// The machine's physical memory in bytes; 0 when it is not known.
std::uint64_t physicalMemoryBytes();

// What the system says a drive letter is (the values of GetDriveType).
enum DriveKind : std::uint32_t {
    kDriveUnknown = 0,
    kDriveNoRoot = 1,
    kDriveRemovable = 2,
    kDriveFixed = 3,
    kDriveRemote = 4,
    kDriveCdrom = 5,
    kDriveRamDisk = 6,
};

// The drive letters the system has: C: to Z:, the 24 roots the agent walks.
inline constexpr char kFirstDriveLetter = 'C';
inline constexpr std::size_t kDriveLetters = 24;

// The space of a volume in the units of GetDiskFreeSpace.
struct VolumeSpace {
    std::uint64_t sectorsPerCluster = 0;
    std::uint64_t bytesPerSector = 0;
    std::uint64_t freeClusters = 0;
    std::uint64_t totalClusters = 0;
};

struct DriveRoot {
    std::uint32_t kind = kDriveNoRoot;
    bool named = false;   // the volume's name can be read
    std::string name;     // the volume's name; the mount point on a host
    std::string location; // host: where to ask for the space
    // Image: the space its line gives, when it gives one.
    bool spaceGiven = false;
    VolumeSpace space;
};

// Every letter's root as the system tells it now: one read of the mount table (or of the
// image's system/volumes). A letter without a volume has kind kDriveNoRoot. False (last error
// set) when the table cannot be read; the roots are then all kDriveNoRoot.
//
// Host: one letter per distinct device of a disk filesystem (ext*, xfs, btrfs, vfat, ntfs...),
// of a remote one (nfs, cifs, 9p...) or of a CD (iso9660, udf), given in mount order from C:;
// pseudo filesystems take none. A disk filesystem is removable when its disk says so in sysfs,
// else fixed. Only the mount table and sysfs are read: nothing here touches the volumes
// themselves, so a hung network server cannot stop the caller.
using DriveRoots = std::array<DriveRoot, kDriveLetters>;
bool readDriveRoots(DriveRoots& roots);

// False (last error set) when the space cannot be told. Host: statvfs of the mount point, asked
// only of fixed and removable disk volumes (clusters are fragments, counted by f_blocks and the
// f_bavail that an unprivileged user may fill); any other kind fails without a system call.
bool volumeSpace(const DriveRoot& root, VolumeSpace& space);

} // namespace farlink::platform
