// The host's view of the key trees, checked against this machine's own procfs and sysfs as the
// test reads them, and the procfs texts of another machine (data/platform/sata-machine) through
// addResourceMap.
#include "inventory/resource_list.h"
#include "platform/device_io.h"
#include "platform/host_resources.h"
#include "platform/host_storage.h"
#include "platform/key_tree.h"
#include "platform/key_tree_model.h"
#include "support/test_data.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace farlink::platform {
namespace {

namespace fs = std::filesystem;
using inventory::PartialDescriptor;

std::vector<PartialDescriptor> decode(std::span<const std::uint8_t> data) {
    std::vector<PartialDescriptor> out;
    EXPECT_TRUE(inventory::forEachDescriptor(data, [&](const PartialDescriptor& d) {
        out.push_back(d);
        return true;
    }));
    return out;
}

// Every key and value below an open key, one line each, through the public key calls.
void flatten(KeyHandle key, const std::string& path, std::vector<std::string>& out) {
    char name[512];
    std::uint32_t type = 0;
    for (std::uint32_t i = 0; enumValue(key, i, name, &type) == kErrorSuccess; ++i) {
        std::vector<std::uint8_t> data(1 << 16);
        std::uint32_t size = 0;
        ASSERT_EQ(queryValue(key, name, nullptr, data, size), kErrorSuccess);
        out.push_back(path + "|" + name + "|" + std::to_string(type) + "|" +
                      farlink::testing::hexText(data.data(), size));
    }
    for (std::uint32_t i = 0; enumKey(key, i, name) == kErrorSuccess; ++i) {
        KeyHandle sub = nullptr;
        ASSERT_EQ(openKey(key, name, sub), kErrorSuccess);
        flatten(sub, path + "\\" + name, out);
        closeKey(sub);
    }
}

// The same lines from a tree the test built.
void flatten(const TreeKey& key, const std::string& path, std::vector<std::string>& out) {
    for (const TreeValue& v : key.values)
        out.push_back(path + "|" + v.name + "|" + std::to_string(v.type) + "|" +
                      farlink::testing::hexText(v.data));
    for (const auto& sub : key.subkeys)
        flatten(*sub, path + "\\" + sub->name, out);
}

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::string s = text.str();
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

std::string queryText(const std::string& keyPath, const std::string& valueName) {
    KeyHandle key = nullptr;
    if (openKey(kLocalMachine, keyPath, key) != kErrorSuccess) return "<no key>";
    std::vector<std::uint8_t> data(512);
    std::uint32_t size = 0;
    const int result = queryValue(key, valueName, nullptr, data, size);
    closeKey(key);
    if (result != kErrorSuccess || size == 0) return "<no value>";
    return std::string(reinterpret_cast<const char*>(data.data()), size - 1);
}

// The four procfs texts of a folder, kept while a view of them is in use.
struct ProcTexts {
    std::string ioports, iomem, interrupts, dma;
    ResourceTexts view() const { return {ioports, iomem, interrupts, dma}; }
};

ProcTexts procTexts(const std::string& folder) {
    auto read = [&](const char* name) {
        std::ifstream in(folder + "/" + name);
        if (!in) ADD_FAILURE() << "cannot read " << folder << "/" << name;
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    };
    return {read("ioports"), read("iomem"), read("interrupts"), read("dma")};
}

// A walk for one kind of resource is served from the kernel's tables alone: the host's map for
// each kind is what addResourceMap (checked on fixed texts below) makes of this machine's procfs.
TEST(HostKeyTree, EachKindAloneIsWhatTheKernelTablesGive) {
    const ProcTexts texts = procTexts("/proc");
    for (std::uint8_t type = 1; type <= 4; ++type) {
        SCOPED_TRACE(int(type));
        // The host reads only the table of the kind asked for.
        ResourceTexts only;
        std::string_view ResourceTexts::*const field[] = {
            &ResourceTexts::ioports, &ResourceTexts::interrupts, &ResourceTexts::iomem,
            &ResourceTexts::dma};
        only.*field[type - 1] = texts.view().*field[type - 1];
        TreeKey built;
        addResourceMap(built, only, {}, resourceTypeBit(type));
        std::vector<std::string> expected, view;
        flatten(built.path("HARDWARE\\RESOURCEMAP"), "", expected);
        KeyHandle root = nullptr;
        ASSERT_EQ(openKey(kLocalMachine, "HARDWARE\\RESOURCEMAP", root, resourceTypeBit(type)),
                  kErrorSuccess);
        flatten(root, "", view);
        closeKey(root);
        EXPECT_EQ(view, expected);
    }
}

// The same building from the texts of a machine with a SATA controller, as root sees them but
// for /proc/ioports, which reads as an unprivileged reader is shown it.
TEST(HostKeyTree, ResourceMapFromProcfsTexts) {
    const ProcTexts texts = procTexts(farlink::testing::dataPath("platform/sata-machine"));
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
    addResourceMap(root, texts.view(), controllers, kAllResourceTypes);
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

    EXPECT_TRUE(ranges(list("OtherDrivers", "serial")).empty());
    EXPECT_EQ(ranges(list("System Resources", "System RAM")),
              (std::vector<std::string>{"3:100000+bff00000"}));
    EXPECT_EQ(ranges(list("System Resources", "Kernel code")),
              (std::vector<std::string>{"3:1000000+1000000"}));
    EXPECT_EQ(ranges(list("Hardware Abstraction Layer", "PCI Bus 0000:00")),
              (std::vector<std::string>{"3:c0000000+3ec00000"}));
    EXPECT_EQ(ranges(list("OtherDrivers", "e1000")), (std::vector<std::string>{"3:fe100000+1000"}));
    EXPECT_EQ(inventory::answerWord(map->find("OtherDrivers")->find("e1000")->values[0].data, 8),
              2u); // the bus of its PCI function
    EXPECT_EQ(map->find("OtherDrivers")->find("0000:00:05.0"), nullptr);

    EXPECT_EQ(ranges(list("OtherDrivers", "timer")), (std::vector<std::string>{"2:2+0"}));
    EXPECT_EQ(ranges(list("OtherDrivers", "ehci_hcd:usb1")), (std::vector<std::string>{"2:9+0"}));
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
        const TreeKey* key = &root;
        for (std::string_view rest = path; key != nullptr && !rest.empty();) {
            const std::size_t end = rest.find('\\');
            key = key->find(rest.substr(0, end));
            rest = end == std::string_view::npos ? "" : rest.substr(end + 1);
        }
        if (key == nullptr) return "<no key>";
        for (const TreeValue& v : key->values)
            if (v.name == name) return std::string(v.data.begin(), v.data.end() - 1);
        return "<no value>";
    };
    EXPECT_EQ(text("HARDWARE\\DEVICEMAP\\nvme\\nvme0\\Disk1", "SerialNumber"), "S2");
    EXPECT_EQ(text("HARDWARE\\DEVICEMAP\\virtio_blk\\virtio1\\Disk2", "SerialNumber"), "V1");
    EXPECT_EQ(text("HARDWARE\\DEVICEMAP\\virtio_blk\\virtio1\\Disk2", "Identifier"), "<no value>");
    const std::string port0 = "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 0";
    EXPECT_EQ(text(port0, "Driver"), "ahci");
    EXPECT_EQ(text(port0, "DeviceName"), "ScsiPort0");
    EXPECT_EQ(text(port0 + "\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0", "Type"),
              "DiskPeripheral");
    EXPECT_EQ(text(port0 + "\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0", "Identifier"),
              "ATA     DISK 0           1.0 ");
    EXPECT_EQ(text(port0 + "\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0", "Type"),
              "CdRomPeripheral");
    // A disk unit without a block device would take the next disk's drive: it is listed untyped.
    EXPECT_EQ(
        text("HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 2\\Scsi Bus 0\\Target Id 3\\Logical Unit Id 0",
             "Type"),
        "<no value>");
    EXPECT_EQ(text("SYSTEM\\CurrentControlSet\\Services\\virtio_scsi", "Group"), "SCSI miniport");
    EXPECT_EQ(text("SYSTEM\\CurrentControlSet\\Services\\nvme", "Group"), "Primary Disk");
}

std::string linkBase(const fs::path& link) {
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    return error ? std::string() : target.filename().string();
}

// Services, the device map, the controllers' keys and the PhysicalDrive devices agree with
// /sys: SCSI hosts by their proc_name, units by their type, other disks by their driver and
// serial number, and each drive's geometry covers one disk's size.
TEST(HostKeyTree, StorageKeysAndDrivesMatchSysfs) {
    std::map<unsigned, std::string> hosts;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/sys/class/scsi_host", error)) {
        const std::string name = entry.path().filename().string();
        hosts[static_cast<unsigned>(std::stoul(name.substr(4)))] =
            readText(entry.path().string() + "/proc_name");
    }
    std::vector<std::pair<std::string, std::string>> wholeDisks; // block, driver
    std::vector<std::uint64_t> diskBytes;
    for (const auto& entry : fs::directory_iterator("/sys/block")) {
        const std::string target = fs::read_symlink(entry.path()).string();
        const std::string block = entry.path().filename().string();
        const std::string bytes = readText(entry.path().string() + "/size");
        if (target.find("/virtual/") != std::string::npos) continue;
        if (target.find("/target") != std::string::npos) { // a SCSI unit's disk
            if (readText(entry.path().string() + "/device/type") == "0")
                diskBytes.push_back(std::stoull(bytes) * 512);
            continue;
        }
        std::string driver = linkBase(entry.path() / "device" / "driver");
        if (driver.empty()) driver = linkBase(entry.path() / "device" / "device" / "driver");
        if (driver.empty() || driver == "floppy" || block.find("boot") != std::string::npos ||
            block.find("rpmb") != std::string::npos)
            continue;
        wholeDisks.push_back({block, driver});
        diskBytes.push_back(std::stoull(bytes) * 512);
    }
    if (hosts.empty() && wholeDisks.empty()) GTEST_SKIP() << "this machine shows no disk";

    for (const auto& [number, driver] : hosts) {
        EXPECT_EQ(queryText("SYSTEM\\CurrentControlSet\\Services\\" + driver, "Group"),
                  "SCSI miniport");
        EXPECT_EQ(
            queryText("HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port " + std::to_string(number), "Driver"),
            driver);
    }
    for (const auto& entry : fs::directory_iterator("/sys/bus/scsi/devices", error)) {
        unsigned h, c, t, l;
        if (std::sscanf(entry.path().filename().c_str(), "%u:%u:%u:%u", &h, &c, &t, &l) != 4)
            continue;
        const std::string type = readText(entry.path().string() + "/type");
        const std::string key = "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port " + std::to_string(h) +
                                "\\Scsi Bus " + std::to_string(c) + "\\Target Id " +
                                std::to_string(t) + "\\Logical Unit Id " + std::to_string(l);
        if (type == "5") {
            EXPECT_EQ(queryText(key, "Type"), "CdRomPeripheral") << key;
        }
        if (type == "0" && fs::exists(entry.path() / "block")) {
            EXPECT_EQ(queryText(key, "Type"), "DiskPeripheral") << key;
        }
        EXPECT_EQ(queryText(key, "Identifier").size(), 28u) << key;
    }

    KeyHandle key = nullptr;
    for (const auto& [block, driver] : wholeDisks) {
        EXPECT_EQ(queryText("SYSTEM\\CurrentControlSet\\Services\\" + driver, "Group"),
                  "Primary Disk");
        ASSERT_EQ(openKey(kLocalMachine, "HARDWARE\\RESOURCEMAP\\OtherDrivers\\" + driver, key),
                  kErrorSuccess)
            << driver;
        closeKey(key);
        std::string serial = readText("/sys/block/" + block + "/serial");
        if (serial.empty()) serial = readText("/sys/block/" + block + "/device/serial");
        if (serial.empty()) continue;
        // Some Disk<n> of the driver's controllers carries this disk's serial number.
        ASSERT_EQ(openKey(kLocalMachine, "HARDWARE\\DEVICEMAP\\" + driver, key), kErrorSuccess);
        bool found = false;
        char controller[512], disk[512];
        for (std::uint32_t i = 0; enumKey(key, i, controller) == kErrorSuccess; ++i) {
            KeyHandle c = nullptr;
            ASSERT_EQ(openKey(key, controller, c), kErrorSuccess);
            for (std::uint32_t j = 0; enumKey(c, j, disk) == kErrorSuccess; ++j)
                found = found || queryText("HARDWARE\\DEVICEMAP\\" + driver + "\\" + controller +
                                               "\\" + disk,
                                           "SerialNumber") == serial;
            closeKey(c);
        }
        closeKey(key);
        EXPECT_TRUE(found) << block << " " << serial;
    }

    const std::vector<std::string> names = deviceNames();
    ASSERT_EQ(names.size(), diskBytes.size());
    for (std::size_t n = 0; n < names.size(); ++n) {
        EXPECT_EQ(names[n], "PhysicalDrive" + std::to_string(n));
        DeviceHandle drive = openDevice("\\\\.\\" + names[n], kDeviceRead);
        ASSERT_NE(drive, nullptr) << names[n];
        std::uint8_t g[24] = {};
        std::uint32_t returned = 0;
        ASSERT_TRUE(deviceIoControl(drive, 0x70000, {}, g, returned));
        EXPECT_EQ(returned, 24u);
        EXPECT_FALSE(deviceIoControl(drive, 0x2D1400, {}, g, returned)); // not a geometry query
        closeDevice(drive);
        auto word = [&](int at) {
            return inventory::answerWord(std::span<const std::uint8_t>(g), at);
        };
        const std::uint64_t cylinders = word(0) | std::uint64_t{word(4)} << 32;
        const std::uint64_t perCylinder = std::uint64_t{word(12)} * word(16) * word(20);
        const std::uint64_t covered = cylinders * perCylinder;
        // One disk of this size, covered by at most one cylinder more than it holds.
        const auto match = std::find_if(diskBytes.begin(), diskBytes.end(), [&](std::uint64_t b) {
            return covered >= b && covered < b + perCylinder;
        });
        EXPECT_NE(match, diskBytes.end()) << names[n] << " covers " << covered;
        if (match != diskBytes.end()) diskBytes.erase(match);
    }
    EXPECT_EQ(openDevice("PhysicalDrive" + std::to_string(names.size()), kDeviceRead), nullptr);
}

} // namespace
} // namespace farlink::platform
