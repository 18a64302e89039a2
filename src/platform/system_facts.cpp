#include "platform/system_facts.h"

#include "platform/console.h"
#include "platform/machine_image.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>
#include <pwd.h>
#include <string_view>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

namespace farlink::platform {

namespace {

constexpr int kErrorFileNotFound = 2;
constexpr int kErrorInvalidFunction = 1;

// The lines of an image file that carry something: comments and blank lines are passed by.
bool imageLines(const std::string& image, const char* file, std::vector<std::string>& lines) {
    if (!readImageLines(image + file, lines)) {
        setLastError(kErrorFileNotFound);
        return false;
    }
    std::erase_if(lines, [](const std::string& line) {
        return line.empty() || line.front() == '#' ||
               line.find_first_not_of(" \t") == std::string::npos;
    });
    return true;
}

// The value of `key` in the image's facts; false when the file or the line is missing.
bool imageFact(const std::string& image, std::string_view key, std::string& value) {
    std::vector<std::string> lines;
    if (!imageLines(image, "/system/facts", lines)) return false;
    for (const std::string& line : lines) {
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos || std::string_view(line).substr(0, tab) != key) continue;
        value = line.substr(tab + 1);
        return true;
    }
    setLastError(kErrorFileNotFound);
    return false;
}

// A whole decimal text; false for anything else, an empty text and a value past 64 bits.
bool decimal(std::string_view text, std::uint64_t& value) {
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc{} && at == end;
}

// "major.minor" at the start of a text ("6.1.0-18-amd64", "4.0"); false without both numbers.
bool majorMinor(std::string_view text, std::uint32_t& major, std::uint32_t& minor) {
    const char* end = text.data() + text.size();
    const auto first = std::from_chars(text.data(), end, major);
    if (first.ec != std::errc{} || first.ptr == end || *first.ptr != '.') return false;
    const auto second = std::from_chars(first.ptr + 1, end, minor);
    return second.ec == std::errc{};
}

std::string hostUserName() {
    const uid_t uid = ::geteuid();
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_name != nullptr && found->pw_name[0] != '\0')
        return found->pw_name;
    // An id without an entry (a container's user) is still the account the agent runs under.
    return std::to_string(uid);
}

// --- drive letters -------------------------------------------------------------------------

struct KindName {
    std::string_view name;
    std::uint32_t kind;
};
constexpr KindName kImageKinds[] = {{"fixed", kDriveFixed},
                                    {"removable", kDriveRemovable},
                                    {"remote", kDriveRemote},
                                    {"cdrom", kDriveCdrom},
                                    {"ramdisk", kDriveRamDisk}};

std::vector<std::string_view> splitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) return fields;
        line.remove_prefix(tab + 1);
    }
}

// "X:<TAB>kind[<TAB>name[<TAB>sectors per cluster<TAB>bytes per sector<TAB>free<TAB>total]]";
// a line of any other shape, or of a letter outside C: to Z:, is passed by, and the first line
// of a letter stands.
void takeImageVolume(std::string_view line, DriveRoots& roots,
                     std::array<bool, kDriveLetters>& seen) {
    const std::vector<std::string_view> f = splitTabs(line);
    if (f.size() != 2 && f.size() != 3 && f.size() != 7) return;
    if (f[0].size() != 2 || f[0][1] != ':') return;
    const char letter = static_cast<char>(f[0][0] & ~0x20); // either case
    if (letter < kFirstDriveLetter || letter >= kFirstDriveLetter + static_cast<int>(kDriveLetters))
        return;
    const auto k = static_cast<std::size_t>(letter - kFirstDriveLetter);
    const auto kind = std::find_if(std::begin(kImageKinds), std::end(kImageKinds),
                                   [&](const KindName& n) { return n.name == f[1]; });
    if (kind == std::end(kImageKinds) || seen[k]) return;
    DriveRoot root;
    root.kind = kind->kind;
    if (f.size() >= 3) {
        root.named = true;
        root.name = std::string(f[2]);
    }
    if (f.size() == 7) {
        VolumeSpace& s = root.space;
        root.spaceGiven = decimal(f[3], s.sectorsPerCluster) && decimal(f[4], s.bytesPerSector) &&
                          decimal(f[5], s.freeClusters) && decimal(f[6], s.totalClusters);
    }
    seen[k] = true;
    roots[k] = std::move(root);
}

// The octal escapes of /proc/self/mounts (\040 a blank, \011 a tab, \012 a line feed, \134 a
// backslash) turned back into their characters.
std::string unescapeMountField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string_view digits = field.substr(i + 1, 3);
            if (std::all_of(digits.begin(), digits.end(),
                            [](char c) { return c >= '0' && c <= '7'; })) {
                out += static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 +
                                         (digits[2] - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

constexpr std::string_view kDiskFilesystems[] = {
    "ext2",   "ext3",     "ext4",  "xfs",  "btrfs", "vfat",     "msdos", "fat",
    "exfat",  "ntfs",     "ntfs3", "f2fs", "jfs",   "reiserfs", "hfs",   "hfsplus",
    "nilfs2", "bcachefs", "zfs",   "ufs",  "minix", "fuseblk"};
constexpr std::string_view kRemoteFilesystems[] = {"nfs",   "nfs4",       "cifs",  "smb3",
                                                   "smbfs", "9p",         "ceph",  "glusterfs",
                                                   "afs",   "fuse.sshfs", "davfs", "ncpfs"};
constexpr std::string_view kCdFilesystems[] = {"iso9660", "udf"};

template <std::size_t N> bool among(const std::string_view (&names)[N], std::string_view type) {
    return std::find(std::begin(names), std::end(names), type) != std::end(names);
}

// A disk whose sysfs entry says it is removable; a partition asks its disk. Unknown: fixed.
bool removableDevice(const std::string& device) {
    if (device.rfind("/dev/", 0) != 0) return false;
    char resolved[PATH_MAX];
    if (::realpath(device.c_str(), resolved) == nullptr) return false;
    const std::string_view base = std::string_view(resolved).substr(5);
    if (base.find('/') != std::string_view::npos) return false;
    const std::string entry = "/sys/class/block/" + std::string(base);
    char flag = '0';
    for (const char* at : {"/removable", "/../removable"}) {
        std::ifstream file(entry + at);
        if (file >> flag) return flag == '1';
    }
    return false;
}

bool hostDriveRoots(DriveRoots& roots) {
    std::ifstream mounts("/proc/self/mounts");
    if (!mounts) {
        setLastError(errno != 0 ? errno : kErrorFileNotFound);
        return false;
    }
    std::vector<std::string> devices;
    std::size_t next = 0;
    std::string line;
    while (next < kDriveLetters && std::getline(mounts, line)) {
        const std::vector<std::string_view> f = [&] {
            std::vector<std::string_view> fields;
            std::string_view rest = line;
            while (!rest.empty() && fields.size() < 3) {
                const std::size_t blank = rest.find(' ');
                fields.push_back(rest.substr(0, blank));
                if (blank == std::string_view::npos) break;
                rest.remove_prefix(blank + 1);
            }
            return fields;
        }();
        if (f.size() < 3) continue;
        const std::string_view type = f[2];
        std::uint32_t kind = kDriveNoRoot;
        if (among(kDiskFilesystems, type))
            kind = kDriveFixed;
        else if (among(kRemoteFilesystems, type))
            kind = kDriveRemote;
        else if (among(kCdFilesystems, type))
            kind = kDriveCdrom;
        else
            continue;
        std::string device = unescapeMountField(f[0]);
        // A device mounted again (a bind mount, a btrfs subvolume) is the volume it already is.
        if (std::find(devices.begin(), devices.end(), device) != devices.end()) continue;
        if (kind == kDriveFixed && removableDevice(device)) kind = kDriveRemovable;
        DriveRoot& root = roots[next++];
        root.kind = kind;
        root.named = true;
        root.name = unescapeMountField(f[1]);
        root.location = root.name;
        devices.push_back(std::move(device));
    }
    return true;
}

} // namespace

bool computerName(std::string& name) {
    const std::string image = machineImageDirectory();
    if (!image.empty()) return imageFact(image, "ComputerName", name);
    utsname host{};
    if (::uname(&host) != 0) return false;
    name = host.nodename;
    return true;
}

bool processUserName(std::string& name) {
    const std::string image = machineImageDirectory();
    if (!image.empty()) return imageFact(image, "UserName", name);
    static const std::string looked = hostUserName();
    name = looked;
    return true;
}

bool systemVersion(SystemVersion& version) {
    const std::string image = machineImageDirectory();
    if (!image.empty()) {
        std::string text;
        if (!imageFact(image, "Version", text)) return false;
        if (!majorMinor(text, version.major, version.minor)) {
            setLastError(kErrorInvalidFunction);
            return false;
        }
        version.system = "Windows NT";
        return true;
    }
    utsname host{};
    if (::uname(&host) != 0) return false;
    if (!majorMinor(host.release, version.major, version.minor)) {
        setLastError(kErrorInvalidFunction);
        return false;
    }
    version.system = host.sysname;
    return true;
}

bool uptimeMs(std::uint64_t& ms) {
    const std::string image = machineImageDirectory();
    if (!image.empty()) {
        std::string text;
        if (!imageFact(image, "UptimeMs", text)) return false;
        if (!decimal(text, ms)) {
            setLastError(kErrorInvalidFunction);
            return false;
        }
        return true;
    }
    timespec now{};
    if (::clock_gettime(CLOCK_BOOTTIME, &now) != 0) return false;
    ms = static_cast<std::uint64_t>(now.tv_sec) * 1000 +
         static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000;
    return true;
}

std::uint64_t physicalMemoryBytes() {
    const std::string image = machineImageDirectory();
    if (!image.empty()) {
        std::string text;
        std::uint64_t value = 0;
        if (!imageFact(image, "Memory", text) || !decimal(text, value)) return 0;
        return value;
    }
    struct sysinfo info {};
    if (::sysinfo(&info) != 0) return 0;
    return static_cast<std::uint64_t>(info.totalram) * info.mem_unit;
}

bool readDriveRoots(DriveRoots& roots) {
    roots = DriveRoots{};
    const std::string image = machineImageDirectory();
    if (image.empty()) return hostDriveRoots(roots);
    std::vector<std::string> lines;
    if (!imageLines(image, "/system/volumes", lines)) return false;
    std::array<bool, kDriveLetters> seen{};
    for (const std::string& line : lines)
        takeImageVolume(line, roots, seen);
    return true;
}

bool volumeSpace(const DriveRoot& root, VolumeSpace& space) {
    if (!machineImageDirectory().empty()) {
        if (!root.spaceGiven) {
            setLastError(kErrorInvalidFunction);
            return false;
        }
        space = root.space;
        return true;
    }
    if ((root.kind != kDriveFixed && root.kind != kDriveRemovable) || root.location.empty()) {
        setLastError(kErrorInvalidFunction);
        return false;
    }
    struct statvfs fs {};
    if (::statvfs(root.location.c_str(), &fs) != 0) return false;
    // A fragment is the unit the counts are in; it is given as whole 512-byte sectors where it
    // divides into them, as a disk's clusters would be.
    const std::uint64_t fragment = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
    if (fragment % 512 == 0) {
        space.bytesPerSector = 512;
        space.sectorsPerCluster = fragment / 512;
    } else {
        space.bytesPerSector = fragment;
        space.sectorsPerCluster = 1;
    }
    space.freeClusters = fs.f_bavail;
    space.totalClusters = fs.f_blocks;
    return true;
}

} // namespace farlink::platform
