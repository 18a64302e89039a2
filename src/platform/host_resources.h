// The host's resource map: which owner holds which I/O ports, memory ranges, interrupt lines and
// DMA channels, taken from the texts of /proc/ioports, /proc/iomem, /proc/interrupts and /proc/dma
// and from the PCI resources of the disk controllers, laid out as HARDWARE\RESOURCEMAP:
//
//   RESOURCEMAP\<class>\<owner>   value "\Device\<name>.Raw", type 8, one CM_RESOURCE_LIST
//
// with the classes "OtherDrivers" (every driver and device, one key per owner as procfs names
// it), "System Resources" (RAM, ROM, firmware-reserved ranges and the kernel's image) and
// "Hardware Abstraction Layer" (PCI bus windows and the configuration mechanism). Inside the
// platform layer only.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace farlink::platform {

struct TreeKey;

// The procfs texts a view is built from. A text left empty is a kind nobody asked for.
struct ResourceTexts {
    std::string_view ioports;
    std::string_view iomem;
    std::string_view interrupts;
    std::string_view dma;
};

// One range of a PCI device's resource file (BARs only), end inclusive.
struct PciRange {
    std::uint8_t type = 0; // 1 port, 3 memory
    std::uint64_t start = 0;
    std::uint64_t end = 0;
};

// A disk controller as the storage scan found it: the driver key it belongs under, the device
// part of its value name, and what its PCI function holds.
struct ControllerResources {
    std::string driver;     // "ahci", "nvme", "virtio_blk"
    std::string device;     // "ScsiPort0", "nvme0": the value is "\Device\<device>.Raw"
    std::string pciAddress; // "0000:00:1f.2"; empty off PCI
    std::vector<PciRange> ranges;
    int irq = -1; // the kernel's number of its line interrupt; -1 without one (MSI, none)
    // The kernel's number of its first message-signalled interrupt, listed when it has no line
    // interrupt; -1 when not asked for or none.
    int messageIrq = -1;
};

// Adds HARDWARE\RESOURCEMAP below `root`: the controllers' lists first (their driver keys lead
// OtherDrivers, in the order given), then every procfs owner. Only ranges that lie wholly below
// 4 GiB are kept, and a range text whose addresses are all zero (what an unprivileged reader is
// shown) contributes no ranges at all. `resourceTypes` (resourceTypeBit of each kind) selects
// which kinds of the controllers' resources are listed; the texts carry only what was read.
void addResourceMap(TreeKey& root, const ResourceTexts& texts,
                    std::span<const ControllerResources> controllers, std::uint32_t resourceTypes);

} // namespace farlink::platform
