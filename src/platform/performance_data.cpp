#include "platform/performance_data.h"

#include "platform/host_files.h"
#include "platform/host_perf.h"
#include "platform/host_storage.h"
#include "platform/machine_image.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace farlink::platform {

namespace {

constexpr int kErrorFileNotFound = 2;
constexpr int kErrorMoreData = 234;
constexpr int kErrorNotEnoughMemory = 8;

// A performance block of a real server is a few kilobytes; an image's file far beyond this is
// not one.
constexpr std::size_t kImageBlockLimit = 16u << 20;
constexpr std::size_t kProcLimit = 4u << 20;

int copyOut(std::span<const std::uint8_t> block, std::span<std::uint8_t> buffer,
            std::uint32_t& size) {
    if (block.size() > UINT32_MAX) return kErrorNotEnoughMemory;
    size = static_cast<std::uint32_t>(block.size());
    if (block.size() > buffer.size()) return kErrorMoreData;
    std::copy(block.begin(), block.end(), buffer.begin());
    return 0;
}

int imageQuery(const std::string& image, std::span<std::uint8_t> buffer, std::uint32_t& size) {
    thread_local std::string data;
    const std::string path = image + "/perf/data.bin";
    if (!readWholeFile(path.c_str(), data, kImageBlockLimit))
        return errno != 0 ? errno : kErrorFileNotFound;
    return copyOut({reinterpret_cast<const std::uint8_t*>(data.data()), data.size()}, buffer, size);
}

// A procfs file kept open: the kernel makes its text afresh at every read from offset 0, so a
// snapshot costs no open and close.
class KeptFile {
  public:
    explicit KeptFile(const char* path) : path_(path) {}
    ~KeptFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    KeptFile(const KeptFile&) = delete;
    KeptFile& operator=(const KeptFile&) = delete;

    // The whole text, or empty when the file cannot be read.
    std::string_view read() {
        if (fd_ < 0) fd_ = ::open(path_, O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) return {};
        if (text_.size() < 4096) text_.resize(4096);
        std::size_t filled = 0;
        for (;;) {
            if (filled == text_.size()) {
                if (text_.size() >= kProcLimit) break;
                text_.resize(std::min(text_.size() * 2, kProcLimit));
            }
            const ssize_t n = ::pread(fd_, text_.data() + filled, text_.size() - filled,
                                      static_cast<off_t>(filled));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                ::close(fd_);
                fd_ = -1;
                return {};
            }
            if (n == 0) break;
            filled += static_cast<std::size_t>(n);
        }
        return {text_.data(), filled};
    }

    int fd() {
        if (fd_ < 0) fd_ = ::open(path_, O_RDONLY | O_CLOEXEC);
        return fd_;
    }

  private:
    const char* path_;
    int fd_ = -1;
    std::string text_;
};

struct HostState {
    std::mutex lock;
    KeptFile stat{"/proc/stat"}, meminfo{"/proc/meminfo"}, vmstat{"/proc/vmstat"};
    KeptFile diskstats{"/proc/diskstats"}, interrupts{"/proc/interrupts"};
    KeptFile mounts{"/proc/self/mounts"};
    bool mountsRead = false;
    std::vector<MountedVolume> volumes;
    std::size_t diskstatsLines = SIZE_MAX;
    std::vector<std::string> drives;
    std::vector<std::uint8_t> block;
    std::u16string blockObjects;
    std::uint64_t builtAt = 0; // boot-time clock, 100-ns units; 0 before the first build
    long ticksPerSecond = 0;
};

std::atomic<std::uint32_t> reuseMs{kPerformanceDataReuseMs};

HostState& hostState() {
    static HostState* state = new HostState; // used by port threads until the process ends
    return *state;
}

// The mount table changes rarely; the kernel flags a change on the open file, so it is read
// again only then.
void refreshVolumes(HostState& h) {
    const int fd = h.mounts.fd();
    if (fd < 0) {
        h.volumes.clear();
        return;
    }
    pollfd p{fd, POLLPRI, 0};
    const bool changed = ::poll(&p, 1, 0) > 0 && (p.revents & (POLLPRI | POLLERR)) != 0;
    if (h.mountsRead && !changed) return;
    h.mountsRead = true;
    h.volumes.clear();
    for (const std::string& point : blockMountPoints(h.mounts.read())) {
        struct stat st {};
        if (::stat(point.c_str(), &st) != 0) continue;
        const unsigned major = ::major(st.st_dev), minor = ::minor(st.st_dev);
        const bool seen = std::any_of(h.volumes.begin(), h.volumes.end(), [&](const auto& v) {
            return v.major == major && v.minor == minor;
        });
        if (!seen) h.volumes.push_back({point, major, minor});
    }
}

// The drives are scanned again when the kernel's list of block devices changes size.
void refreshDrives(HostState& h, std::string_view diskstats) {
    const auto lines =
        static_cast<std::size_t>(std::count(diskstats.begin(), diskstats.end(), '\n'));
    if (lines == h.diskstatsLines) return;
    h.diskstatsLines = lines;
    h.drives = physicalDriveBlocks(scanHostStorage(kScanUnits));
}

std::uint64_t bootTime100ns() {
    timespec ts{};
    ::clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 10'000'000 +
           static_cast<std::uint64_t>(ts.tv_nsec) / 100;
}

int hostQuery(std::u16string_view objects, std::span<std::uint8_t> buffer, std::uint32_t& size) {
    HostState& h = hostState();
    std::lock_guard guard(h.lock);
    const std::uint64_t now = bootTime100ns();
    const std::uint64_t reuse = reuseMs.load(std::memory_order_relaxed) * std::uint64_t{10'000};
    if (h.builtAt != 0 && now - h.builtAt < reuse && objects == h.blockObjects)
        return copyOut(h.block, buffer, size);
    if (h.ticksPerSecond <= 0) h.ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';

    HostPerfSources sources;
    sources.stat = h.stat.read();
    sources.meminfo = h.meminfo.read();
    sources.vmstat = h.vmstat.read();
    sources.diskstats = h.diskstats.read();
    sources.interrupts = h.interrupts.read();
    if (sources.stat.empty()) return errno != 0 ? errno : kErrorFileNotFound;
    refreshDrives(h, sources.diskstats);
    refreshVolumes(h);
    sources.physicalDrives = h.drives;
    sources.volumes = h.volumes;
    sources.systemName = host;
    sources.bootTime100ns = now;
    sources.ticksPerSecond = h.ticksPerSecond;
    buildHostPerfBlock(sources, wantedObjects(objects), h.block);
    h.blockObjects = objects;
    h.builtAt = now;
    return copyOut(h.block, buffer, size);
}

} // namespace

void setPerformanceDataReuse(std::uint32_t milliseconds) {
    reuseMs.store(milliseconds, std::memory_order_relaxed);
}

int queryPerformanceData(std::u16string_view objects, std::span<std::uint8_t> buffer,
                         std::uint32_t& size) {
    size = 0;
    const std::string image = machineImageDirectory();
    return image.empty() ? hostQuery(objects, buffer, size) : imageQuery(image, buffer, size);
}

} // namespace farlink::platform
