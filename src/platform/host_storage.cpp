#include "platform/host_storage.h"

#include "platform/host_files.h"
#include "platform/key_tree.h"
#include "platform/key_tree_model.h"

#include <algorithm>
#include <dirent.h>
#include <tuple>
#include <unistd.h>

namespace farlink::platform {

namespace {

constexpr std::size_t kValueLimit = 63; // texts a 64-byte value buffer holds with its terminator

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isHex(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f');
}

// Numbers out of the names the kernel gives: "host3", "2:0:1:0".
bool parseNumber(std::string_view& text, unsigned& value) {
    if (text.empty() || !isDigit(text.front())) return false;
    value = 0;
    while (!text.empty() && isDigit(text.front())) {
        if (value > 99'999'999) return false;
        value = value * 10 + static_cast<unsigned>(text.front() - '0');
        text.remove_prefix(1);
    }
    return true;
}

bool parseScsiAddress(std::string_view name, unsigned (&parts)[4]) {
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (name.empty() || name.front() != ':') return false;
            name.remove_prefix(1);
        }
        if (!parseNumber(name, parts[i])) return false;
    }
    return name.empty();
}

bool isPciAddress(std::string_view name) {
    if (name.size() != 12 || name[4] != ':' || name[7] != ':' || name[10] != '.') return false;
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11})
        if (!isHex(name[i])) return false;
    return true;
}

// The names of a sysfs path, one at a time.
template <class Visit> void forEachName(std::string_view path, Visit&& visit) {
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        visit(path.substr(0, slash));
        path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
    }
}

bool belowScsiUnit(std::string_view devicePath) {
    bool found = false;
    forEachName(devicePath, [&](std::string_view name) {
        unsigned parts[4];
        found = found || parseScsiAddress(name, parts);
    });
    return found;
}

std::string attribute(const std::string& path) {
    char buffer[256];
    std::string text(readAttribute(path.c_str(), buffer));
    if (text.size() > kValueLimit) text.resize(kValueLimit);
    return text;
}

std::string linkName(const std::string& path) {
    char buffer[512];
    return std::string(baseName(readLinkTarget(path.c_str(), buffer)));
}

template <class Visit> void forEachEntry(const char* directory, Visit&& visit) {
    DIR* dir = ::opendir(directory);
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") visit(name);
    }
    ::closedir(dir);
}

// "nvme10n1" after "nvme2n1": digit runs compare as numbers, so disks keep the kernel's order.
bool naturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t ie = i, je = j;
            while (ie < a.size() && isDigit(a[ie]))
                ++ie;
            while (je < b.size() && isDigit(b[je]))
                ++je;
            const std::string_view na = a.substr(i, ie - i), nb = b.substr(j, je - j);
            const std::size_t la = na.find_first_not_of('0'), lb = nb.find_first_not_of('0');
            const std::string_view ta = la == std::string_view::npos ? "" : na.substr(la);
            const std::string_view tb = lb == std::string_view::npos ? "" : nb.substr(lb);
            if (ta.size() != tb.size()) return ta.size() < tb.size();
            if (ta != tb) return ta < tb;
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

void scanPorts(HostStorage& storage) {
    forEachEntry("/sys/class/scsi_host", [&](std::string_view name) {
        std::string_view number = name.substr(0, 4) == "host" ? name.substr(4) : std::string_view{};
        ScsiPort port;
        if (!parseNumber(number, port.host) || !number.empty()) return;
        const std::string path = "/sys/class/scsi_host/" + std::string(name);
        port.driver = attribute(path + "/proc_name");
        // A host whose driver does not say its name cannot be matched with a service.
        if (port.driver.empty()) return;
        char target[512];
        port.pciAddress = pciFunctionOf(readLinkTarget(path.c_str(), target));
        storage.ports.push_back(std::move(port));
    });
    std::sort(storage.ports.begin(), storage.ports.end(),
              [](const ScsiPort& a, const ScsiPort& b) { return a.host < b.host; });
}

std::string padded(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

void scanUnits(HostStorage& storage, unsigned detail) {
    forEachEntry("/sys/bus/scsi/devices", [&](std::string_view name) {
        unsigned parts[4];
        if (!parseScsiAddress(name, parts)) return;
        ScsiUnit unit;
        unit.host = parts[0];
        unit.channel = parts[1];
        unit.target = parts[2];
        unit.lun = parts[3];
        const std::string path = "/sys/bus/scsi/devices/" + std::string(name);
        const std::string typeText = attribute(path + "/type");
        std::string_view type = typeText;
        unsigned typeNumber = 0;
        if (parseNumber(type, typeNumber) && type.empty()) unit.type = static_cast<int>(typeNumber);
        if ((detail & kScanIdentity) != 0)
            unit.identifier = padded(attribute(path + "/vendor"), 8) +
                              padded(attribute(path + "/model"), 16) +
                              padded(attribute(path + "/rev"), 4);
        if (unit.type == 0) {
            const std::string blocks = path + "/block";
            forEachEntry(blocks.c_str(), [&](std::string_view block) {
                if (unit.block.empty()) unit.block = block;
            });
        }
        storage.units.push_back(std::move(unit));
    });
    std::sort(storage.units.begin(), storage.units.end(), [](const ScsiUnit& a, const ScsiUnit& b) {
        return std::tie(a.host, a.channel, a.target, a.lun) <
               std::tie(b.host, b.channel, b.target, b.lun);
    });
}

// The whole disks of the drivers that are not SCSI: every block device with a driver behind
// it that is neither virtual (loop, zram, device mapper) nor below a SCSI unit (which the SCSI
// map carries), nor one of the extra areas of an eMMC (boot partitions, RPMB).
void scanWholeDisks(HostStorage& storage, unsigned detail) {
    struct Found {
        std::string block;
        std::string link;
    };
    std::vector<Found> found;
    forEachEntry("/sys/block", [&](std::string_view name) {
        const std::string path = "/sys/block/" + std::string(name);
        char target[512];
        const std::string_view link = readLinkTarget(path.c_str(), target);
        const bool nvmeHead = link.find("/nvme-subsystem/") != std::string_view::npos;
        if (link.empty() || (link.find("/virtual/") != std::string_view::npos && !nvmeHead) ||
            belowScsiUnit(link))
            return;
        if (name.substr(0, 6) == "mmcblk" && (name.find("boot") != std::string_view::npos ||
                                              name.find("rpmb") != std::string_view::npos))
            return;
        found.push_back({std::string(name), std::string(link)});
    });
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return naturalLess(a.block, b.block); });

    for (const Found& disk : found) {
        const std::string blockPath = "/sys/block/" + disk.block;
        std::string devicePath = blockPath + "/device";
        std::string controllerLink = disk.link;
        if (disk.link.find("/nvme-subsystem/") != std::string::npos) {
            // A multipath namespace hangs below its subsystem; its controller is the subsystem's
            // first controller.
            std::string controller;
            forEachEntry(devicePath.c_str(), [&](std::string_view name) {
                std::string_view number = name.substr(0, 4) == "nvme" ? name.substr(4) : "";
                unsigned n;
                if (parseNumber(number, n) && number.empty() &&
                    (controller.empty() || naturalLess(name, controller)))
                    controller = name;
            });
            if (controller.empty()) continue;
            devicePath += "/" + controller;
            char target[512];
            controllerLink = std::string(readLinkTarget(devicePath.c_str(), target));
        }
        std::string driver = linkName(devicePath + "/driver");
        if (driver.empty()) driver = linkName(devicePath + "/device/driver");
        // A floppy drive is no disk, and a device without a driver has no service to name.
        if (driver.empty() || driver == "floppy") continue;
        char target[512];
        const std::string name(baseName(readLinkTarget(devicePath.c_str(), target)));
        if (name.empty()) continue;

        HostDisk entry{disk.block, {}, {}};
        if ((detail & kScanIdentity) != 0) {
            entry.model = attribute(devicePath + "/model");
            if (entry.model.empty()) entry.model = attribute(devicePath + "/name");
            entry.serial = attribute(blockPath + "/serial");
            if (entry.serial.empty()) entry.serial = attribute(devicePath + "/serial");
        }

        auto same = [&](const DiskController& c) { return c.driver == driver && c.name == name; };
        auto at = std::find_if(storage.controllers.begin(), storage.controllers.end(), same);
        if (at == storage.controllers.end()) {
            // Keep each driver's controllers together, after the last one it has.
            auto lastOfDriver =
                std::find_if(storage.controllers.rbegin(), storage.controllers.rend(),
                             [&](const DiskController& c) { return c.driver == driver; });
            at = storage.controllers.insert(
                lastOfDriver.base(),
                DiskController{driver, name, pciFunctionOf(controllerLink), {}});
        }
        at->disks.push_back(std::move(entry));
    }
}

// The units the walk of the SCSI map reads: only the first unit of each target.
template <class Visit> void forEachFirstUnit(const HostStorage& storage, Visit&& visit) {
    for (const ScsiPort& port : storage.ports)
        for (std::size_t i = 0; i < storage.units.size(); ++i) {
            const ScsiUnit& u = storage.units[i];
            if (u.host != port.host) continue;
            const bool first = i == 0 || storage.units[i - 1].host != u.host ||
                               storage.units[i - 1].channel != u.channel ||
                               storage.units[i - 1].target != u.target;
            visit(port, u, first);
        }
}

// A disk unit is listed as one only when the kernel gave it a block device: a disk that
// cannot be measured would take the drive number of the next one.
bool listedAsDisk(const ScsiUnit& unit) {
    return unit.type == 0 && !unit.block.empty();
}

const char* peripheralType(const ScsiUnit& unit) {
    static constexpr const char* kTypes[] = {"DiskPeripheral",          "TapePeripheral",
                                             "PrinterPeripheral",       "ProcessorPeripheral",
                                             "WormPeripheral",          "CdRomPeripheral",
                                             "ScannerPeripheral",       "OpticalDiskPeripheral",
                                             "MediumChangerPeripheral", "CommunicationsPeripheral"};
    if (unit.type == 0 && !listedAsDisk(unit)) return nullptr;
    if (unit.type < 0) return nullptr;
    return unit.type < 10 ? kTypes[unit.type] : "OtherPeripheral";
}

std::vector<std::uint8_t> text(std::string_view value) {
    std::vector<std::uint8_t> data(value.begin(), value.end());
    data.push_back(0);
    return data;
}

} // namespace

// The PCI function a device sits below, and whether a USB bus lies between them (then the
// function is the USB host controller, whose resources are not the device's).
std::string pciFunctionOf(std::string_view devicePath) {
    std::string_view pci;
    bool usbBelow = false;
    forEachName(devicePath, [&](std::string_view name) {
        if (isPciAddress(name)) {
            pci = name;
            usbBelow = false;
        } else if (name.substr(0, 3) == "usb") {
            usbBelow = true;
        }
    });
    return usbBelow ? std::string() : std::string(pci);
}

void readPciFunction(const std::string& address, std::uint32_t resourceTypes,
                     ControllerResources& out) {
    const std::string path = "/sys/bus/pci/devices/" + address;
    if ((resourceTypes & (resourceTypeBit(1) | resourceTypeBit(3))) != 0) {
        char buffer[4096];
        std::string_view lines = readAttribute((path + "/resource").c_str(), buffer);
        // "0x<start> 0x<end> 0x<flags>" per line; the first six are the BARs.
        for (int bar = 0; bar < 6 && !lines.empty(); ++bar) {
            const std::size_t end = lines.find('\n');
            std::string_view line = lines.substr(0, end);
            lines = end == std::string_view::npos ? std::string_view{} : lines.substr(end + 1);
            std::uint64_t v[3] = {};
            for (std::uint64_t& value : v) {
                while (!line.empty() && line.front() == ' ')
                    line.remove_prefix(1);
                if (line.substr(0, 2) != "0x") break;
                line.remove_prefix(2);
                for (int digits = 0; !line.empty() && isHex(line.front()) && digits < 16;
                     ++digits) {
                    const char c = line.front();
                    value = value << 4 |
                            static_cast<std::uint64_t>(isDigit(c) ? c - '0' : c - 'a' + 10);
                    line.remove_prefix(1);
                }
            }
            if (v[0] == 0 && v[1] == 0) continue;
            if ((v[2] & 0x100) != 0)
                out.ranges.push_back({1, v[0], v[1]}); // IORESOURCE_IO
            else if ((v[2] & 0x200) != 0)
                out.ranges.push_back({3, v[0], v[1]}); // IORESOURCE_MEM
        }
    }
    // A function with message-signalled interrupts enabled does not use its line interrupt.
    if ((resourceTypes & resourceTypeBit(2)) != 0 &&
        ::access((path + "/msi_irqs").c_str(), F_OK) != 0) {
        char buffer[32];
        std::string_view irq = readAttribute((path + "/irq").c_str(), buffer);
        unsigned number = 0;
        if (parseNumber(irq, number) && irq.empty() && number > 0)
            out.irq = static_cast<int>(number);
    }
}

HostStorage scanHostStorage(unsigned detail) {
    HostStorage storage;
    scanPorts(storage);
    if ((detail & (kScanUnits | kScanIdentity)) != 0) scanUnits(storage, detail);
    scanWholeDisks(storage, detail);
    return storage;
}

std::vector<std::string> physicalDriveBlocks(const HostStorage& storage) {
    std::vector<std::string> blocks;
    for (const DiskController& c : storage.controllers)
        for (const HostDisk& d : c.disks)
            blocks.push_back(d.block);
    forEachFirstUnit(storage, [&](const ScsiPort&, const ScsiUnit& unit, bool first) {
        if (first && listedAsDisk(unit)) blocks.push_back(unit.block);
    });
    return blocks;
}

void addStorageServices(TreeKey& root, const HostStorage& storage) {
    TreeKey& services = root.path("SYSTEM\\CurrentControlSet\\Services");
    for (const DiskController& c : storage.controllers)
        services.child(c.driver).set("Group", kRegSz, text("Primary Disk"));
    for (const ScsiPort& port : storage.ports)
        services.child(port.driver).set("Group", kRegSz, text("SCSI miniport"));
}

void addDeviceMap(TreeKey& root, const HostStorage& storage) {
    TreeKey& deviceMap = root.path("HARDWARE\\DEVICEMAP");
    unsigned drive = 0;
    for (const DiskController& c : storage.controllers) {
        TreeKey& controller = deviceMap.child(c.driver).child(c.name);
        for (const HostDisk& d : c.disks) {
            TreeKey& disk = controller.child("Disk" + std::to_string(drive++));
            if (!d.model.empty()) disk.set("Identifier", kRegSz, text(d.model));
            if (!d.serial.empty()) disk.set("SerialNumber", kRegSz, text(d.serial));
        }
    }
    TreeKey& scsi = deviceMap.child("Scsi");
    for (const ScsiPort& port : storage.ports) {
        const std::string number = std::to_string(port.host);
        TreeKey& portKey = scsi.child("Scsi Port " + number);
        portKey.set("Driver", kRegSz, text(port.driver));
        portKey.set("DeviceName", kRegSz, text("ScsiPort" + number));
    }
    forEachFirstUnit(storage, [&](const ScsiPort& port, const ScsiUnit& u, bool) {
        TreeKey& unit = scsi.child("Scsi Port " + std::to_string(port.host))
                            .child("Scsi Bus " + std::to_string(u.channel))
                            .child("Target Id " + std::to_string(u.target))
                            .child("Logical Unit Id " + std::to_string(u.lun));
        unit.set("Identifier", kRegSz, text(u.identifier));
        if (const char* type = peripheralType(u)) unit.set("Type", kRegSz, text(type));
    });
}

std::vector<ControllerResources> controllerResources(const HostStorage& storage,
                                                     std::uint32_t resourceTypes) {
    std::vector<ControllerResources> lists;
    auto add = [&](const std::string& driver, std::string device, const std::string& pci) {
        ControllerResources& list = lists.emplace_back();
        list.driver = driver;
        list.device = std::move(device);
        list.pciAddress = pci;
        // A function shared by several ports is read once: its first port holds what it has.
        if (pci.empty()) return;
        for (std::size_t i = 0; i + 1 < lists.size(); ++i)
            if (lists[i].pciAddress == pci) return;
        readPciFunction(pci, resourceTypes, list);
    };
    for (const DiskController& c : storage.controllers)
        add(c.driver, c.name, c.pciAddress);
    for (const ScsiPort& port : storage.ports)
        add(port.driver, "ScsiPort" + std::to_string(port.host), port.pciAddress);
    return lists;
}

bool diskGeometry(std::string_view block, std::array<std::uint8_t, 24>& geometry) {
    if (block.empty() || block.find('/') != std::string_view::npos || block[0] == '.') return false;
    const std::string path = "/sys/block/" + std::string(block);
    char buffer[64];
    std::string_view sizeText = readAttribute((path + "/size").c_str(), buffer);
    std::uint64_t units = 0; // the kernel counts 512-byte units whatever the sector size
    if (sizeText.empty()) return false;
    for (char c : sizeText) {
        if (!isDigit(c) || units > 0x00FF'FFFF'FFFF'FFFFull) return false;
        units = units * 10 + static_cast<std::uint64_t>(c - '0');
    }
    std::string_view sectorText =
        readAttribute((path + "/queue/logical_block_size").c_str(), buffer);
    unsigned sectorSize = 0;
    if (!parseNumber(sectorText, sectorSize) || !sectorText.empty() || sectorSize < 512)
        sectorSize = 512; // the unit the size is given in
    const bool removable = attribute(path + "/removable") == "1";

    // The layout BIOS and partitioning tools have used for large disks: 255 heads of 63
    // sectors. The cylinder count is rounded up, so cylinders x heads x sectors covers the whole
    // disk (the last cylinder may be partial).
    constexpr std::uint64_t kHeads = 255, kSectorsPerTrack = 63;
    const std::uint64_t sectors = units * 512 / sectorSize;
    const std::uint64_t cylinders =
        (sectors + kHeads * kSectorsPerTrack - 1) / (kHeads * kSectorsPerTrack);

    const std::uint32_t mediaType = removable ? 11 : 12; // RemovableMedia, FixedMedia
    auto put = [&](std::size_t at, std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            geometry[at + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(value >> (8 * i));
    };
    put(0, cylinders, 8);
    put(8, mediaType, 4);
    put(12, kHeads, 4);
    put(16, kSectorsPerTrack, 4);
    put(20, sectorSize, 4);
    return true;
}

} // namespace farlink::platform
