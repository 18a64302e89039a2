// The host's key trees: the resource map from the procfs texts of another machine
// (data/platform/sata-machine), the storage keys from a scan, and this machine's drives.
#include "inventory/resource_list.h"
#include "platform/device_io.h"
#include "platform/host_resources.h"
#include "platform/host_storage.h"
#include "platform/key_tree.h"
#include "platform/key_tree_model.h"
#include "support/test_data.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace farlink::platform {
namespace {

using inventory::PartialDescriptor;

std::vector<PartialDescriptor> decode(std::span<const std::uint8_t> data) {
    std::vector<PartialDescriptor> out;
    EXPECT_TRUE(inventory::forEachDescriptor(data, [&](const PartialDescriptor& d) {
        out.push_back(d);
        return true;
    }));
    return out;
}

// The resource map built from the texts of a machine with a SATA controller, as root sees them
// but for /proc/ioports, which reads as an unprivileged reader is shown it.
TEST(HostKeyTree, ResourceMapFromProcfsTexts) {
    auto text = [](const char* name) {
        return farlink::testing::dataText(std::string("platform/sata-machine/") + name);
    };
    const std::string ioports = text("ioports"), iomem = text("iomem"),
                      interrupts = text("interrupts"), dma = text("dma");
    std::vector<ControllerResources> controllers(2);
    controllers[0] = {
        "ahci",
        "ScsiPort0",
        "0000:00:1f.2",
        {{1, 0xd000, 0xd01f}, {3, 0xfe000000, 0xfe0fffff}, {3, 0x40'0000'0000, 0x40'0000'ffff}},
        9};
    controllers[1] = {"ahci", "ScsiPort1", "0000:00:1f.2", {{1, 0xd000, 0xd01f}}, 9};
    // A network adapter with message-signalled interrupts lists the first, flagged a message.
    controllers.push_back({"virtio_net", "eth0", "0000:00:03.0", {{1, 0xC000, 0xC01F}}, -1});
    controllers.back().messageIrq = 37;

    TreeKey root;
    addResourceMap(root, {ioports, iomem, interrupts, dma}, controllers, kAllResourceTypes);
    const TreeKey* map = root.find("HARDWARE")->find("RESOURCEMAP");
    ASSERT_NE(map, nullptr);
    auto list = [&](std::string_view cls, std::string_view owner, std::size_t value = 0) {
        const TreeKey* c = map->find(cls);
        const TreeKey* key = c == nullptr ? nullptr : c->find(owner);
        if (key == nullptr || key->values.size() <= value) return std::vector<PartialDescriptor>{};
        EXPECT_TRUE(key->values[value].name.ends_with(".Raw"));
        return decode(key->values[value].data);
    };
    auto ranges = [](const std::vector<PartialDescriptor>& ds) {
        std::vector<std::string> out;
        for (const PartialDescriptor& d : ds) {
            char text[64];
            std::snprintf(text, sizeof text, "%u:%x+%x", d.type, d.first, d.third);
            out.push_back(text);
        }
        return out;
    };

    // The controller's list: its BARs below 4 GiB and its line interrupt's pin, with the
    // driver's own claim from procfs once; the second port of the same function holds nothing.
    const TreeKey* ahci = map->find("OtherDrivers")->find("ahci");
    ASSERT_NE(ahci, nullptr);
    ASSERT_EQ(ahci->values.size(), 2u);
    EXPECT_EQ(ahci->values[0].name, "\\Device\\ScsiPort0.Raw");
    EXPECT_EQ(inventory::answerWord(ahci->values[0].data, 4), 5u); // PCIBus
    EXPECT_EQ(ranges(list("OtherDrivers", "ahci")),
              (std::vector<std::string>{"1:d000+20", "3:fe000000+100000", "2:9+0"}));
    EXPECT_TRUE(list("OtherDrivers", "ahci", 1).empty());

    EXPECT_EQ(ranges(list("System Resources", "System RAM")),
              (std::vector<std::string>{"3:100000+bff00000"}));
    EXPECT_EQ(ranges(list("Hardware Abstraction Layer", "PCI Bus 0000:00")),
              (std::vector<std::string>{"3:c0000000+3ec00000"}));
    EXPECT_EQ(ranges(list("OtherDrivers", "e1000")), (std::vector<std::string>{"3:fe100000+1000"}));

    EXPECT_EQ(ranges(list("OtherDrivers", "timer")), (std::vector<std::string>{"2:2+0"}));
    EXPECT_EQ(map->find("OtherDrivers")->find("ahci[0000:00:1f.2]"), nullptr);
    EXPECT_EQ(ranges(list("OtherDrivers", "cascade")), (std::vector<std::string>{"4:4+0"}));
    EXPECT_EQ(ranges(list("OtherDrivers", "virtio_net")),
              (std::vector<std::string>{"1:c000+20", "2:25+0"}));
    EXPECT_EQ(map->find("OtherDrivers")->find("virtio_net")->values[0].data[20 + 16 + 2], 0x02)
        << "CM_RESOURCE_INTERRUPT_MESSAGE";
}

// The storage keys and the drive order of a machine with SCSI and whole-disk adapters: drives
// are numbered whole disks first, then the SCSI map's disks, only the first unit of a target
// counting, as the walk reads them.
TEST(HostKeyTree, StorageKeysAndDriveOrderFromAScan) {
    HostStorage storage;
    storage.ports = {{0, "ahci", "0000:00:1f.2"}, {2, "virtio_scsi", "0000:00:04.0"}};
    auto unit = [](unsigned h, unsigned c, unsigned t, unsigned l, int type, std::string block) {
        ScsiUnit u;
        u.host = h, u.channel = c, u.target = t, u.lun = l, u.type = type;
        u.identifier = "ATA     DISK " + std::to_string(h) + std::string(11, ' ') + "1.0 ";
        u.block = std::move(block);
        return u;
    };
    storage.units = {unit(0, 0, 0, 0, 0, "sda"), unit(0, 0, 0, 1, 0, "sdb"),
                     unit(0, 0, 1, 0, 5, ""), unit(2, 0, 3, 0, 0, ""), unit(2, 1, 0, 0, 0, "sdc")};
    storage.controllers = {
        {"nvme", "nvme0", "0000:00:05.0", {{"nvme0n1", "M", "S1"}, {"nvme0n2", "M", "S2"}}},
        {"virtio_blk", "virtio1", "", {{"vda", "", "V1"}}}};
    EXPECT_EQ(physicalDriveBlocks(storage),
              (std::vector<std::string>{"nvme0n1", "nvme0n2", "vda", "sda", "sdc"}));

    TreeKey root;
    addDeviceMap(root, storage);
    addStorageServices(root, storage);
    auto text = [&](std::string_view path, std::string_view name) -> std::string {
        for (const TreeValue& v : root.path(path).values)
            if (v.name == name) return std::string(v.data.begin(), v.data.end() - 1);
        return "<no value>";
    };
    EXPECT_EQ(text("HARDWARE\\DEVICEMAP\\nvme\\nvme0\\Disk1", "SerialNumber"), "S2");
    EXPECT_EQ(text("HARDWARE\\DEVICEMAP\\virtio_blk\\virtio1\\Disk2", "SerialNumber"), "V1");
    const std::string port0 = "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 0";
    EXPECT_EQ(text(port0, "Driver"), "ahci");
    EXPECT_EQ(text(port0 + "\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0", "Type"),
              "DiskPeripheral");
    EXPECT_EQ(text(port0 + "\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0", "Type"),
              "CdRomPeripheral");
    // A disk unit without a block device would take the next disk's drive: it is listed untyped.
    EXPECT_EQ(
        text("HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 2\\Scsi Bus 0\\Target Id 3\\Logical Unit Id 0",
             "Type"),
        "<no value>");
    EXPECT_EQ(text("SYSTEM\\CurrentControlSet\\Services\\virtio_scsi", "Group"), "SCSI miniport");
}

// Each PhysicalDriveN is the scan's Nth drive: its geometry covers the disk's size by at most
// one cylinder more, any other query fails, and past the last drive there is no device.
TEST(HostKeyTree, PhysicalDrivesAnswerTheGeometryOfTheirDisks) {
    const std::vector<std::string> blocks = physicalDriveBlocks(scanHostStorage(kScanUnits));
    const std::vector<std::string> names = deviceNames();
    ASSERT_EQ(names.size(), blocks.size());
    for (std::size_t n = 0; n < names.size(); ++n) {
        EXPECT_EQ(names[n], "PhysicalDrive" + std::to_string(n));
        DeviceHandle drive = openDevice("\\\\.\\" + names[n], kDeviceRead);
        ASSERT_NE(drive, nullptr) << names[n];
        std::uint8_t g[24] = {};
        std::uint32_t returned = 0;
        ASSERT_TRUE(deviceIoControl(drive, 0x70000, {}, g, returned));
        EXPECT_EQ(returned, 24u);
        EXPECT_FALSE(deviceIoControl(drive, 0x2D1400, {}, g, returned));
        closeDevice(drive);
        auto word = [&](int at) {
            return inventory::answerWord(std::span<const std::uint8_t>(g), at);
        };
        const std::uint64_t perCylinder = std::uint64_t{word(12)} * word(16) * word(20);
        const std::uint64_t covered = (word(0) | std::uint64_t{word(4)} << 32) * perCylinder;
        std::uint64_t sectors = 0;
        std::ifstream("/sys/block/" + blocks[n] + "/size") >> sectors;
        const std::uint64_t bytes = sectors * 512;
        EXPECT_GE(covered, bytes) << blocks[n];
        EXPECT_LT(covered, bytes + perCylinder) << blocks[n];
    }
    EXPECT_EQ(openDevice("PhysicalDrive" + std::to_string(names.size()), kDeviceRead), nullptr);
}

} // namespace
} // namespace farlink::platform
