#include "inventory/disks.h"
#include "inventory/dmi.h"
#include "inventory/storage_adapters.h"
#include "inventory/storage_groups.h"
#include "platform/event_log.h"
#include "support/group_request.h"
#include "support/resource_lists.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace farlink::inventory {
namespace {

using testing::Bytes;
using testing::hexList;
using testing::partial;
using testing::put32;

// A resource list of one full descriptor holding these partial descriptors.
Bytes resourceList(std::initializer_list<Bytes> partials) {
    return testing::resourceList({testing::Full(partials)});
}
using testing::GroupRequest;

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + '"';
}

// REGEDIT4 text below HKEY_LOCAL_MACHINE.
struct Reg {
    std::string text = "REGEDIT4\n";
    Reg& key(const std::string& path) {
        text += "\n[HKEY_LOCAL_MACHINE\\" + path + "]\n";
        return *this;
    }
    Reg& sz(const std::string& name, const std::string& value) {
        text += quoted(name) + "=" + quoted(value) + "\n";
        return *this;
    }
    // Bytes of a type, "hex(8):" a resource list.
    Reg& raw(const std::string& name, const char* kind, const Bytes& bytes) {
        text += quoted(name) + "=" + kind + hexList(bytes) + "\n";
        return *this;
    }
    Reg& list(const std::string& name, const Bytes& bytes) { return raw(name, "hex(8):", bytes); }

    Reg& service(const std::string& driver, const std::string& group) {
        return key("SYSTEM\\CurrentControlSet\\Services\\" + driver).sz("Group", group);
    }
    Reg& scsiPort(int port, const std::string& driver, const std::string& device = "") {
        key("HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port " + std::to_string(port)).sz("Driver", driver);
        return device.empty() ? *this : sz("DeviceName", device);
    }
    Reg& unit(int port, int bus, int target, const std::string& type, const std::string& id) {
        return key("HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port " + std::to_string(port) + "\\Scsi Bus " +
                   std::to_string(bus) + "\\Target Id " + std::to_string(target) +
                   "\\Logical Unit Id 0")
            .sz("Identifier", id)
            .sz("Type", type);
    }
};

std::string text(const auto& field) {
    return std::string(field.data(), strnlen(field.data(), field.size()));
}

// A machine image with a registry and physical drives, and the tables built from it.
class Storage : public ::testing::Test {
  protected:
    testing::TempProfileDir dir;
    std::string image = dir.path() + "/machine";
    testing::ScopedEnv imageEnv{"FARLINK_MACHINE", image};

    void registry(const Reg& reg) {
        std::filesystem::create_directories(image + "/registry");
        std::ofstream(image + "/registry/20-storage.reg") << reg.text;
    }
    // PhysicalDriveN, answering its geometry unless `answers` is false.
    void drive(int n, std::uint64_t cylinders, std::uint32_t tracks = 255,
               std::uint32_t sectors = 63, std::uint32_t bytesPerSector = 512,
               bool answers = true) {
        const std::string device = image + "/devices/PhysicalDrive" + std::to_string(n);
        std::filesystem::create_directories(device);
        if (!answers) return;
        Bytes g;
        put32(g, static_cast<std::uint32_t>(cylinders));
        put32(g, static_cast<std::uint32_t>(cylinders >> 32));
        put32(g, 12); // fixed media
        put32(g, tracks);
        put32(g, sectors);
        put32(g, bytesPerSector);
        std::ofstream(device + "/00070000.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(g.data()), static_cast<std::streamsize>(g.size()));
    }
    void build() {
        buildStorageAdapterTable();
        buildDiskTable();
    }
};

// A SCSI miniport "tsscsi" with one port and its registry around it.
Reg scsiAdapter(Reg reg = {}) {
    reg.key("HARDWARE\\RESOURCEMAP\\ScsiAdapter\\tsscsi")
        .list("\\Device\\ScsiPort0.Raw", resourceList({partial(1, 0xE800, 0x100)}));
    reg.service("tsscsi", "SCSI miniport").scsiPort(0, "tsscsi", "ScsiPort0");
    return reg;
}

TEST_F(Storage, AdapterKindsComeFromTheServiceGroupAndResourcesFromTheRawList) {
    Reg reg;
    reg.key("HARDWARE\\RESOURCEMAP\\ScsiAdapter\\atapi")
        .list("\\Device\\ScsiPort0.Raw",
              resourceList({partial(1, 0x1F0, 8), partial(1, 0x3F6, 1),
                            partial(1, 0x1'0000'0000, 0x1000), partial(3, 0xFEBF'0000, 0x1000),
                            partial(3, 0x1'0000'0000, 0x1000), partial(2, 14), partial(4, 3),
                            partial(0, 7)}))
        .list("\\Device\\ScsiPort0.Translated", resourceList({partial(1, 0x170, 0x40)}));
    reg.service("atapi", "SCSI Miniport").scsiPort(0, "atapi", "Atapi0");
    reg.key("HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Initiator Id 7");
    reg.unit(0, 0, 0, "DiskPeripheral", "ATA DISK");
    reg.key("HARDWARE\\RESOURCEMAP\\ScsiAdapter\\lostscsi")
        .list("\\Device\\ScsiPort5.Raw", resourceList({}));
    reg.service("lostscsi", "SCSI miniport");
    reg.key("HARDWARE\\RESOURCEMAP\\OtherDrivers\\atdisk")
        .list("\\Driver\\atdisk.Raw", resourceList({}));
    reg.service("atdisk", " Primary  DISK").key("HARDWARE\\DEVICEMAP\\atdisk\\Controller0");
    // Without disks in the device map a primary disk driver drives nothing.
    reg.key("HARDWARE\\RESOURCEMAP\\OtherDrivers\\hddisk")
        .list("\\Driver\\hddisk.Raw", resourceList({}));
    reg.service("hddisk", "Primary Disk");
    reg.key("HARDWARE\\RESOURCEMAP\\OtherDrivers\\Serial")
        .list("\\Device\\Serial0.Raw", resourceList({}));
    reg.service("Serial", "Extended base");
    registry(reg);
    buildStorageAdapterTable();

    ASSERT_EQ(storageAdapterCount, 3);
    const StorageAdapter& atapi = storageAdapters[0];
    EXPECT_EQ(atapi.kind, kPrimaryDiskAdapter);
    EXPECT_EQ(atapi.portBase, 0x1F0u) << "a larger range past 4 GiB is no candidate";
    EXPECT_EQ(atapi.memoryBase, 0xFEBF'0000u);
    EXPECT_EQ(atapi.interruptLevel, 14);
    EXPECT_EQ(atapi.dmaChannel, 3);
    EXPECT_EQ(text(atapi.driverName), "atapi");
    EXPECT_EQ(text(atapi.deviceName), "Atapi0");
    EXPECT_EQ(text(atapi.reservedText), "N/A");
    EXPECT_EQ(atapi.busCount, 1);
    EXPECT_EQ(atapi.initiatorId, 7);
    EXPECT_EQ(storageAdapters[1].kind, kScsiMiniportAdapter);
    EXPECT_EQ(text(storageAdapters[1].driverName), "");
    EXPECT_EQ(text(storageAdapters[1].deviceName), "N/A");
    EXPECT_EQ(storageAdapters[1].initiatorId, -1);
    EXPECT_EQ(text(storageAdapters[2].driverName), "Atdisk");
    EXPECT_EQ(text(storageAdapters[2].deviceName), "Atdisk");
}

TEST_F(Storage, AdapterTableStopsAtSixteenAndCutsLongNames) {
    const std::string driver(40, 'd');
    Reg reg;
    reg.key("HARDWARE\\RESOURCEMAP\\ScsiAdapter\\" + driver);
    for (int i = 0; i < 17; ++i)
        reg.list("\\Device\\ScsiPort" + std::to_string(i) + ".Raw", resourceList({}));
    reg.service(driver, "SCSI miniport").scsiPort(0, driver, std::string(40, 'n'));
    registry(reg);
    buildStorageAdapterTable();

    EXPECT_EQ(storageAdapterCount, 16);
    EXPECT_EQ(text(storageAdapters[15].driverName), std::string(31, 'd'));
    EXPECT_EQ(text(storageAdapters[15].deviceName), std::string(31, 'n'));
    EXPECT_EQ(text(storageAdapters[15].reservedText), "N/A");
}

TEST_F(Storage, MissingScsiMapIsReportedAndEndsTheBuildUnfinished) {
    platform::useMemoryEventLog();
    platform::clearLoggedEvents();
    Reg reg;
    reg.key("HARDWARE\\RESOURCEMAP\\ScsiAdapter\\tsscsi")
        .list("\\Device\\ScsiPort0.Raw", resourceList({}))
        .list("\\Device\\ScsiPort1.Raw", resourceList({}));
    reg.service("tsscsi", "SCSI miniport");
    registry(reg);
    buildStorageAdapterTable();

    EXPECT_EQ(storageAdapterCount, 1);
    EXPECT_EQ(text(storageAdapters[0].deviceName), "");
    ASSERT_EQ(platform::loggedEvents().size(), 1u);
    EXPECT_EQ(platform::loggedEvents()[0].strings[0], "Couldn't open DEVICEMAP\\Scsi");
}

TEST_F(Storage, IdeDisksFirstThenScsiUnitsEachOnItsDrive) {
    Reg idePart;
    idePart.key("HARDWARE\\RESOURCEMAP\\OtherDrivers\\atdisk")
        .list("\\Driver\\atdisk.Raw", resourceList({partial(1, 0x1F0, 8)}));
    idePart.service("atdisk", "Primary Disk");
    Reg reg = scsiAdapter(idePart);
    reg.key("HARDWARE\\DEVICEMAP\\atdisk\\Controller0\\Disk1")
        .sz("Identifier", "QUARRY  QD-8400A IDE DISK DRIV")
        .sz("SerialNumber", "QA7731");
    reg.key("HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 0\\Scsi Bus 1\\Initiator Id 7");
    reg.unit(0, 1, 12, "DiskPeripheral", "TESSEL  TS9100W");
    reg.unit(0, 1, 4, "CdRomPeripheral", "TESSEL  CD-32X");
    reg.unit(0, 1, 5, "SequentialAccessPeripheral", "TAPE");
    registry(reg);
    drive(0, 1024);
    drive(1, 2048);
    build();

    ASSERT_EQ(diskCount, 3) << "the tape is no disk";
    const DiskRecord& ide = disks[0];
    EXPECT_EQ(ide.index, 1u);
    EXPECT_EQ(ide.targetId, 1);
    EXPECT_EQ(text(ide.identifier), "QUARRY  ");
    EXPECT_EQ(text(ide.product), "QD-8400A IDE DIS");
    EXPECT_EQ(text(ide.serialNumber), "QA7731");
    EXPECT_EQ(ide.sizeKb, 1024u * 255 * 63 / 2);
    const DiskRecord& scsi = disks[1];
    EXPECT_EQ(scsi.index, 1u);
    EXPECT_EQ(scsi.adapterIndex, 1u) << "tsscsi is the second adapter the resource map names";
    EXPECT_EQ(scsi.busNumber, 1);
    EXPECT_EQ(scsi.targetId, 12);
    EXPECT_EQ(scsi.sizeKb, 2048u * 255 * 63 / 2);
    EXPECT_EQ(disks[2].sizeKb, 0u);
    EXPECT_EQ(diskOrdinals[0], 0);
    EXPECT_EQ(diskOrdinals[1], 1);
    EXPECT_EQ(diskOrdinals[2], -1);
}

TEST_F(Storage, IdeTextsAreReadWithinTheirLengthAndAnUnmeasuredDiskStays) {
    Reg reg;
    reg.key("HARDWARE\\RESOURCEMAP\\OtherDrivers\\atdisk").sz("x", "y");
    reg.service("atdisk", "Primary Disk");
    reg.key("HARDWARE\\DEVICEMAP\\atdisk\\Controller0\\Disk0")
        .raw("Identifier", "hex(1):", Bytes{'S', 'H', 'O', 'R', 'T'}) // no terminator
        .sz("SerialNumber", std::string(40, '7'));
    registry(reg);
    build();

    ASSERT_EQ(diskCount, 1);
    EXPECT_EQ(text(disks[0].identifier), "SHORT");
    EXPECT_EQ(text(disks[0].product), "");
    EXPECT_EQ(text(disks[0].serialNumber), std::string(31, '7'));
    EXPECT_EQ(disks[0].sizeKb, kSizeNotMeasured);
}

TEST_F(Storage, PortDriversNameAdaptersBusTypesAndTheDac960Identifier) {
    Reg reg = scsiAdapter();
    reg.scsiPort(1, "dac960nt").unit(1, 0, 0, "CdRomPeripheral", "RAID DRIVE");
    reg.scsiPort(2, "atapi").unit(2, 0, 0, "CdRomPeripheral", "ATAPI CD");
    reg.key("HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 3").sz("Interrupt", "9");
    reg.unit(3, 200, 250, "CdRomPeripheral", "NO DRIVER");
    registry(reg);
    build();

    ASSERT_EQ(diskCount, 3);
    EXPECT_EQ(text(disks[0].identifier), "MYLEXDAC960");
    EXPECT_EQ(text(disks[1].identifier), "ATAPI CD");
    EXPECT_EQ(text(disks[1].busType), "IDE");
    // No adapter drives dac960nt or atapi: the adapter of the port before them stays.
    EXPECT_EQ(disks[0].adapterIndex, 0u);
    EXPECT_EQ(disks[1].adapterIndex, 0u);
    EXPECT_EQ(text(disks[2].busType), "SCSI");
    EXPECT_EQ(disks[2].busNumber, 200);
    EXPECT_EQ(disks[2].targetId, 250);
}

TEST_F(Storage, DiskSizeIsMeasuredIn64BitsWithTheDrivesSectorSize) {
    const std::uint64_t threeTiBCylinders = 401'024; // 255 heads, 63 sectors of 512 bytes
    drive(0, threeTiBCylinders);
    drive(1, 1000, 16, 63, 4096);
    drive(2, 0xFFFF'FFFF'FFFFull);
    drive(3, 1000, 255, 63, 512, false);
    EXPECT_EQ(diskSize(0), static_cast<std::uint32_t>(threeTiBCylinders * 255 * 63 / 2));
    EXPECT_EQ(diskSize(1), 1000u * 16 * 63 * 4);
    EXPECT_EQ(diskSize(2), kLargestDiskSize);
    EXPECT_EQ(diskSize(3), kSizeNotMeasured);
}

TEST_F(Storage, NamesPastPhysicalDrive9AreFormattedFromTheirNumber) {
    for (std::uint32_t n = 0; n < 10; ++n)
        std::snprintf(physicalDriveNames[n].data(), physicalDriveNames[n].size(), "PhysicalDrive%u",
                      n);
    physicalDriveNameCount = 10;
    drive(10, 100);
    EXPECT_EQ(diskSize(10), 100u * 255 * 63 / 2);
    EXPECT_EQ(text(physicalDriveNames[10]), "PhysicalDrive10");
    EXPECT_EQ(diskSize(11), kSizeNotMeasured);
    EXPECT_EQ(physicalDriveNameCount, 11u) << "a name without a drive is taken back";
}

TEST_F(Storage, ScsiDiskOnADriveThatCannotBeMeasuredIsDroppedAlone) {
    Reg reg = scsiAdapter();
    for (int target = 0; target < 4; ++target)
        reg.unit(0, 0, target, "DiskPeripheral", "DISK " + std::to_string(target));
    registry(reg);
    drive(0, 10, 255, 63, 512, false);
    drive(1, 20);
    drive(2, 30);
    build();

    ASSERT_EQ(diskCount, 2);
    EXPECT_EQ(text(disks[0].identifier), "DISK 1");
    EXPECT_EQ(disks[0].sizeKb, 20u * 255 * 63 / 2);
    EXPECT_EQ(text(disks[1].identifier), "DISK 2");
    EXPECT_EQ(disks[1].sizeKb, 30u * 255 * 63 / 2);
    EXPECT_EQ(physicalDriveNameCount, 3u) << "PhysicalDrive3 does not exist";
}

TEST_F(Storage, DiskTableStopsAtOneHundredUnits) {
    Reg reg = scsiAdapter();
    for (int target = 0; target < 101; ++target)
        reg.unit(0, target / 16, target % 16, "CdRomPeripheral", "CD");
    registry(reg);
    build();
    EXPECT_EQ(diskCount, 100);
    EXPECT_EQ(diskOrdinals[99], -1);
}

// ---- The groups, over tables filled by hand. ----

// One adapter of unknown initiator; a hard disk on bus 200 and a CD-ROM.
class StorageGroups : public ::testing::Test {
  protected:
    void SetUp() override {
        storageAdapterCount = 1;
        storageAdapters[0].initiatorId = -1;
        diskCount = 2;
        disks[0].busNumber = 200;
        disks[0].unitKind = kHardDisk;
        disks[1].unitKind = kCdRom;
    }
};

TEST_F(StorageGroups, ScalarsAndDriveTypesAnswerWhatAWalkDoesNotReach) {
    GroupRequest r(snmp::kGetRequest);
    r.add({1, 3, 0});
    r.add({1, 6, 0});
    EXPECT_EQ(r.run(storageScalarsGet, {1}), snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 1u);
    EXPECT_EQ(r.binds[1].valueWord, 2u);

    dmiSummary[kSummaryDriveType.offset] = 0x41;
    GroupRequest get(snmp::kGetRequest);
    get.add({1, 1, 1, 2, 1});
    get.add({1, 1, 1, 2, 7});
    EXPECT_EQ(get.run(driveTypesGet, {1, 1, 1}), snmp::kNoError);
    EXPECT_EQ(get.binds[0].valueWord, 4u);
    EXPECT_EQ(get.binds[1].valueWord, 1u);
}

TEST_F(StorageGroups, BytesAreSignExtendedAndACdRomHasNoCounters) {
    GroupRequest adapters(snmp::kGetRequest);
    adapters.add({1, 3, 1, 13, 0});
    EXPECT_EQ(adapters.run(storageAdaptersGet, {1, 3, 1}), snmp::kNoError);
    EXPECT_EQ(adapters.binds[0].valueWord, 0xFFFF'FFFFu);

    GroupRequest d(snmp::kGetRequest);
    d.add({1, 5, 1, 4, 0});
    d.add({1, 5, 1, 12, 1});
    EXPECT_EQ(d.run(disksGet, {1, 5, 1}), snmp::kNoError);
    EXPECT_EQ(d.binds[0].valueWord, 0xFFFF'FFC8u);
    EXPECT_EQ(d.binds[1].valueTag, snmp::kTagInteger);
    EXPECT_EQ(d.binds[1].valueWord, 0u);
}

} // namespace
} // namespace farlink::inventory
