// The host's disk adapters and disks as sysfs shows them, for the storage keys of the key-tree
// view and for the devices PhysicalDrive0.. . Inside the platform layer only.
//
// Two kinds of adapters, as the agent tells them by their service group:
//   - SCSI hosts (/sys/class/scsi_host/hostN, driver = proc_name): group "SCSI miniport", each
//     one port "Scsi Port N" of HARDWARE\DEVICEMAP\Scsi with its buses, targets and units from
//     /sys/bus/scsi/devices/N:C:T:L;
//   - the other whole-disk drivers (virtio_blk, nvme, mmcblk, ...): group "Primary Disk", their
//     disks under HARDWARE\DEVICEMAP\<driver>\<controller>\Disk<n>.
// The walk that reaches the disks takes the whole-disk drivers first and then the SCSI map;
// PhysicalDrive<n> is the n-th disk in that order, and Disk<n> carries the same n.
#pragma once

#include "platform/host_resources.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace farlink::platform {

struct TreeKey;

struct ScsiPort {
    unsigned host = 0;
    std::string driver;
    std::string pciAddress; // the PCI function that holds its resources; empty when none does
};

struct ScsiUnit {
    unsigned host = 0, channel = 0, target = 0, lun = 0;
    int type = -1;          // SCSI peripheral device type
    std::string identifier; // vendor (8) + model (16) + revision (4), blank-padded
    std::string block;      // "sda" for a disk the kernel gave a block device
};

struct HostDisk {
    std::string block;
    std::string model;
    std::string serial;
};

struct DiskController {
    std::string driver;     // "virtio_blk", "nvme"
    std::string name;       // the kernel's name of the controller: "virtio1", "nvme0"
    std::string pciAddress; // empty off PCI
    std::vector<HostDisk> disks;
};

struct HostStorage {
    std::vector<ScsiPort> ports;             // by host number
    std::vector<ScsiUnit> units;             // by host, channel, target, unit
    std::vector<DiskController> controllers; // grouped by driver, in the order of their disks
};

// What a scan reads beyond the adapters.
inline constexpr unsigned kScanUnits = 1;    // SCSI units with their types and block devices
inline constexpr unsigned kScanIdentity = 2; // identifiers, models and serial numbers

HostStorage scanHostStorage(unsigned detail);

// The block devices of the disks in the order the walk reaches them (see above).
std::vector<std::string> physicalDriveBlocks(const HostStorage& storage);

// SYSTEM\CurrentControlSet\Services\<driver> with its "Group" for every disk driver.
void addStorageServices(TreeKey& root, const HostStorage& storage);

// HARDWARE\DEVICEMAP\Scsi (present even when it lists no port) and the whole-disk drivers' keys.
void addDeviceMap(TreeKey& root, const HostStorage& storage);

// One resource list per adapter, whole-disk controllers first: the PCI function's BARs and line
// interrupt, of the kinds `resourceTypes` asks for.
std::vector<ControllerResources> controllerResources(const HostStorage& storage,
                                                     std::uint32_t resourceTypes);

// The PCI function ("0000:00:1f.2") a sysfs device path lies below; empty off PCI, or when a
// USB bus lies between them (the function is then the USB host controller, not the device).
std::string pciFunctionOf(std::string_view devicePath);

// The BARs and the line interrupt of a PCI function, of the kinds `resourceTypes` asks for.
void readPciFunction(const std::string& address, std::uint32_t resourceTypes,
                     ControllerResources& out);

// The DISK_GEOMETRY answer (24 bytes, little-endian) of a block device, from its size in sysfs;
// false when the size cannot be read.
bool diskGeometry(std::string_view block, std::array<std::uint8_t, 24>& geometry);

} // namespace farlink::platform
