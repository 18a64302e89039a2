#include "platform/device_io.h"

#include "platform/event_log.h"
#include "platform/host_koru.h"
#include "platform/host_network.h"
#include "platform/host_storage.h"
#include "platform/machine_image.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace farlink::platform {

// A device of the machine image. Nothing in it changes after the open, so several threads may
// send requests through one handle at once.
class Device {
  public:
    std::string name;
    std::string imageDirectory;
    std::string deviceDirectory;
    // On a host: the block device behind PhysicalDriveN (empty for an image's device).
    std::string hostBlock;
    // On a host: the network interface behind "\\.\<interface>".
    std::unique_ptr<HostAdapter> hostAdapter;
    // When the image device was opened: its growing counters count from here.
    std::uint64_t openedMs = 0;
    // On a host with FARLINK_KORU=host: the KORU driver's answers built from the firmware's
    // tables and the hardware monitors.
    std::unique_ptr<HostKoru> hostKoru;
};

namespace {

constexpr int kErrorInvalidFunction = 1;
constexpr int kErrorFileNotFound = 2;
constexpr int kErrorInvalidHandle = 6;
constexpr int kErrorMoreData = 234;

constexpr std::uint32_t kDiskGetDriveGeometry = 0x00070000; // IOCTL_DISK_GET_DRIVE_GEOMETRY
constexpr std::string_view kPhysicalDrive = "PhysicalDrive";

// The host's disks, numbered in the order the storage keys of the host view reach them, so
// that the n-th disk the agent finds there is measured through PhysicalDrive<n>.
std::vector<std::string> hostDriveBlocks() {
    return physicalDriveBlocks(scanHostStorage(kScanUnits));
}

// PhysicalDrive<n>: the block device of the n-th disk, or nothing.
std::string hostDriveBlock(std::string_view name) {
    if (name.substr(0, kPhysicalDrive.size()) != kPhysicalDrive) return {};
    const std::string_view digits = name.substr(kPhysicalDrive.size());
    if (digits.empty() || digits.size() > 4 || (digits.size() > 1 && digits[0] == '0')) return {};
    std::size_t number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return {};
        number = number * 10 + static_cast<std::size_t>(c - '0');
    }
    std::vector<std::string> blocks = hostDriveBlocks();
    return number < blocks.size() ? std::move(blocks[number]) : std::string();
}

// The geometry is worked out from sysfs rather than asked of the disk: no privilege is needed
// and a disk that sleeps is not woken for it. Other codes are not served by a host disk.
bool hostDiskControl(const Device& device, std::uint32_t code, std::span<std::uint8_t> output,
                     std::uint32_t& bytesReturned) {
    if (code != kDiskGetDriveGeometry) {
        errno = kErrorInvalidFunction;
        return false;
    }
    std::array<std::uint8_t, 24> geometry{};
    if (!diskGeometry(device.hostBlock, geometry)) {
        errno = kErrorFileNotFound;
        return false;
    }
    const std::size_t n = std::min(output.size(), geometry.size());
    std::copy_n(geometry.begin(), n, output.begin());
    bytesReturned = static_cast<std::uint32_t>(n);
    if (n < geometry.size()) {
        errno = kErrorMoreData;
        return false;
    }
    return true;
}

// Copies the answer file into output. The file is read only as far as output reaches, plus one
// byte to learn whether more was there.
bool copyAnswer(const std::string& path, std::span<std::uint8_t> output,
                std::uint32_t& bytesReturned) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        // The image has no answer for this code: the driver does not serve it.
        errno = errno == ENOENT ? kErrorInvalidFunction : errno;
        return false;
    }
    std::size_t filled = 0;
    bool more = false;
    for (;;) {
        ssize_t n;
        if (filled < output.size()) {
            n = ::read(fd, output.data() + filled, output.size() - filled);
        } else {
            std::uint8_t probe;
            n = ::read(fd, &probe, 1);
            if (n > 0) more = true;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int readError = errno;
            ::close(fd);
            errno = readError;
            return false;
        }
        if (n == 0 || more) break;
        filled += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytesReturned = static_cast<std::uint32_t>(filled);
    if (more) {
        errno = kErrorMoreData;
        return false;
    }
    return true;
}

// A network interface answers the NDIS query, and only that, with a 4-byte OID as input.
bool hostAdapterControl(const HostAdapter& adapter, std::uint32_t code,
                        std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                        std::uint32_t& bytesReturned) {
    if (code != kIoctlNdisQueryGlobalStats || input.size() != 4) {
        errno = kErrorInvalidFunction;
        return false;
    }
    const std::uint32_t oid = std::uint32_t{input[0]} | std::uint32_t{input[1]} << 8 |
                              std::uint32_t{input[2]} << 16 | std::uint32_t{input[3]} << 24;
    return adapter.query(oid, output, bytesReturned);
}

// The name of the answer that an input selects: a 4-byte input (an NDIS OID, say) as its
// little-endian word in 8 lower-case hex digits, any other as its bytes in hex pairs.
std::string inputName(std::span<const std::uint8_t> input) {
    char text[16];
    if (input.size() == 4) {
        const std::uint32_t word = std::uint32_t{input[0]} | std::uint32_t{input[1]} << 8 |
                                   std::uint32_t{input[2]} << 16 | std::uint32_t{input[3]} << 24;
        std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(word));
        return text;
    }
    std::string name;
    for (std::uint8_t byte : input) {
        std::snprintf(text, sizeof text, "%02x", static_cast<unsigned>(byte));
        name += text;
    }
    return name;
}

// A growing counter of an image: the text "<start> <per second>" (decimal) answers start plus
// per second for every second since the device was opened, as 8 little-endian bytes.
bool growingCounter(const std::string& path, std::uint64_t openedMs, std::span<std::uint8_t> output,
                    std::uint32_t& bytesReturned) {
    std::array<std::uint8_t, 64> textBytes{};
    std::uint32_t length = 0;
    if (!copyAnswer(path, std::span(textBytes).first(textBytes.size() - 1), length)) return false;
    std::uint64_t numbers[2] = {};
    std::size_t at = 0;
    for (std::uint64_t& number : numbers) {
        while (at < length && (textBytes[at] == ' ' || textBytes[at] == '\t'))
            ++at;
        const std::size_t first = at;
        while (at < length && textBytes[at] >= '0' && textBytes[at] <= '9')
            number = number * 10 + (textBytes[at++] - '0');
        if (at == first) {
            errno = kErrorInvalidFunction;
            return false;
        }
    }
    const std::uint64_t elapsedMs = monotonicMs() - openedMs;
    const std::uint64_t value =
        numbers[0] + numbers[1] * (elapsedMs / 1000) + numbers[1] * (elapsedMs % 1000) / 1000;
    std::array<std::uint8_t, 8> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    const std::size_t n = std::min(output.size(), bytes.size());
    std::copy_n(bytes.begin(), n, output.begin());
    bytesReturned = static_cast<std::uint32_t>(n);
    if (n < bytes.size()) {
        errno = kErrorMoreData;
        return false;
    }
    return true;
}

// "\\.\KORU" and "KORU" name the same device.
std::string_view deviceName(std::string_view name) {
    constexpr std::string_view prefix = "\\\\.\\";
    if (name.substr(0, prefix.size()) == prefix) name.remove_prefix(prefix.size());
    return name;
}

// A name is one directory of the image: nothing that could lead out of it.
bool acceptableName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string requestLine(const Device& device, std::uint32_t code,
                        std::span<const std::uint8_t> input) {
    char codeText[16];
    std::snprintf(codeText, sizeof codeText, "0x%08x", static_cast<unsigned>(code));
    std::string line = device.name + ' ' + codeText;
    if (!input.empty()) {
        line += ' ';
        static constexpr char kDigits[] = "0123456789abcdef";
        for (std::uint8_t byte : input) {
            line += kDigits[byte >> 4];
            line += kDigits[byte & 0x0F];
        }
    }
    return line;
}

// Chosen, not assumed: the driver's product name must then match "driver=" of TESSEL.INI. A
// machine with neither SMBIOS tables nor hardware monitors has nothing to serve, and the agent
// is better off on its path without a driver.
DeviceHandle openHostKoru() {
    const char* choice = std::getenv("FARLINK_KORU");
    if (choice == nullptr || std::string_view(choice) != "host") {
        errno = kErrorFileNotFound;
        return nullptr;
    }
    auto provider = std::unique_ptr<HostKoru>(new (std::nothrow) HostKoru(""));
    auto* device = provider == nullptr ? nullptr : new (std::nothrow) Device{};
    if (device == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    if (!provider->present()) {
        delete device;
        errno = kErrorFileNotFound;
        return nullptr;
    }
    device->name = "KORU";
    device->hostKoru = std::move(provider);
    return device;
}

} // namespace

DeviceHandle openDevice(std::string_view name, std::uint32_t /*access*/) {
    // The access asked for is not checked: the driver's codes all allow any access.
    const std::string imageDirectory = machineImageDirectory();
    const std::string_view bare = deviceName(name);
    if (imageDirectory.empty()) {
        // No KORU driver runs on Linux; an operator may have the host's firmware tables and
        // hardware monitors stand in for it.
        if (bare == "KORU") return openHostKoru();
        // Of the devices the agent opens, a host has its disks and its network interfaces.
        std::string block = hostDriveBlock(bare);
        std::unique_ptr<HostAdapter> adapter;
        if (block.empty()) {
            adapter.reset(new (std::nothrow) HostAdapter);
            if (adapter == nullptr) {
                errno = ENOMEM;
                return nullptr;
            }
            if (!adapter->open(bare)) return nullptr;
        }
        auto* device = new (std::nothrow)
            Device{std::string(bare), {}, {}, std::move(block), std::move(adapter), 0, {}};
        if (device == nullptr) errno = ENOMEM;
        return device;
    }
    if (!acceptableName(bare)) {
        errno = kErrorFileNotFound;
        return nullptr;
    }
    std::string deviceDirectory = imageDirectory + "/devices/" + std::string(bare);
    if (!isDirectory(deviceDirectory)) {
        errno = kErrorFileNotFound;
        return nullptr;
    }
    auto* device = new (std::nothrow) Device{
        std::string(bare), imageDirectory, std::move(deviceDirectory), {}, {}, monotonicMs(), {}};
    if (device == nullptr) errno = ENOMEM;
    return device;
}

void closeDevice(DeviceHandle device) {
    delete device;
}

bool deviceIoControl(DeviceHandle device, std::uint32_t code, std::span<const std::uint8_t> input,
                     std::span<std::uint8_t> output, std::uint32_t& bytesReturned) {
    bytesReturned = 0;
    if (device == nullptr) {
        errno = kErrorInvalidHandle;
        return false;
    }
    if (!device->hostBlock.empty()) return hostDiskControl(*device, code, output, bytesReturned);
    if (device->hostKoru != nullptr)
        return device->hostKoru->control(code, input, output, bytesReturned);
    if (device->hostAdapter != nullptr)
        return hostAdapterControl(*device->hostAdapter, code, input, output, bytesReturned);
    char fileName[16];
    std::snprintf(fileName, sizeof fileName, "%08x", static_cast<unsigned>(code));
    // A code with a folder of answers takes an input that only selects one of them (an NDIS
    // query names the statistic it wants): a read, not an order, so it leaves no line, or the
    // record would grow with every poll.
    const std::string selected = device->deviceDirectory + '/' + fileName;
    if (isDirectory(selected)) {
        const std::string answer = selected + '/' + inputName(input);
        if (copyAnswer(answer + ".bin", output, bytesReturned)) return true;
        if (errno != kErrorInvalidFunction) return false;
        return growingCounter(answer + ".rate", device->openedMs, output, bytesReturned);
    }
    // Requests that hand the driver a value or an order leave a line, so that a test or a demo
    // sees what reached the driver. A record that cannot be written does not change the answer.
    if (!input.empty() || output.empty()) {
        const int savedErrno = errno;
        appendMachineRecord(device->imageDirectory, requestLine(*device, code, input));
        errno = savedErrno;
    }
    return copyAnswer(selected + ".bin", output, bytesReturned);
}

std::vector<std::string> deviceNames() {
    std::vector<std::string> names;
    const std::string image = machineImageDirectory();
    if (image.empty()) {
        const std::size_t drives = hostDriveBlocks().size();
        for (std::size_t n = 0; n < drives; ++n)
            names.push_back(std::string(kPhysicalDrive) + std::to_string(n));
        return names;
    }
    const std::string devices = image + "/devices";
    if (DIR* dir = ::opendir(devices.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (acceptableName(name) && isDirectory(devices + "/" + name)) names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace farlink::platform
