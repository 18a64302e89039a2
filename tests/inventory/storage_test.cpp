#include "inventory/disks.h"
#include "inventory/storage_adapters.h"
#include "platform/event_log.h"
#include "support/resource_lists.h"
#include "support/test_data.h"
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
using testing::put32;

std::string text(const auto& field) {
    return std::string(field.data(), strnlen(field.data(), field.size()));
}

// A machine image with a registry and physical drives, and the tables built from it.
class Storage : public ::testing::Test {
  protected:
    testing::TempProfileDir dir;
    std::string image = dir.path() + "/machine";
    testing::ScopedEnv imageEnv{"FARLINK_MACHINE", image};

    // The image's registry: a file of tests/data/inventory.
    void registry(const std::string& name) {
        std::filesystem::create_directories(image + "/registry");
        std::ofstream(image + "/registry/20-storage.reg")
            << testing::dataText("inventory/storage-" + name + ".reg");
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

TEST_F(Storage, AdapterKindsComeFromTheServiceGroupAndResourcesFromTheRawList) {
    // atapi (a SCSI miniport, with a port range past 4 GiB), a miniport without a port in the
    // device map, a primary disk driver with and one without disks, and a serial driver.
    registry("adapter-kinds");
    buildStorageAdapterTable();

    ASSERT_EQ(storageAdapterCount, 3);
    EXPECT_EQ(storageAdapters[0].kind, kPrimaryDiskAdapter);
    EXPECT_EQ(storageAdapters[0].portBase, 0x1F0u) << "a larger range past 4 GiB is no candidate";
    EXPECT_EQ(storageAdapters[1].kind, kScsiMiniportAdapter);
    EXPECT_EQ(text(storageAdapters[1].deviceName), "N/A");
    EXPECT_EQ(text(storageAdapters[2].driverName), "Atdisk");
}

TEST_F(Storage, AdapterTableStopsAtSixteenAndCutsLongNames) {
    // 17 ports of one driver of a 40-character name, its device named with 40 characters.
    registry("seventeen-adapters");
    buildStorageAdapterTable();

    EXPECT_EQ(storageAdapterCount, 16);
    EXPECT_EQ(text(storageAdapters[15].driverName), std::string(31, 'd'));
    EXPECT_EQ(text(storageAdapters[15].deviceName), std::string(31, 'n'));
    EXPECT_EQ(text(storageAdapters[15].reservedText), "N/A");
}

TEST_F(Storage, MissingScsiMapIsReportedAndEndsTheBuildUnfinished) {
    platform::useMemoryEventLog();
    platform::clearLoggedEvents();
    registry("no-scsi-map");
    buildStorageAdapterTable();

    EXPECT_EQ(storageAdapterCount, 1);
    EXPECT_EQ(text(storageAdapters[0].deviceName), "");
    ASSERT_EQ(platform::loggedEvents().size(), 1u);
    EXPECT_EQ(platform::loggedEvents()[0].strings[0], "Couldn't open DEVICEMAP\\Scsi");
}

TEST_F(Storage, IdeTextsAreReadWithinTheirLengthAndAnUnmeasuredDiskStays) {
    // An identifier of five bytes without a terminator, a serial number of 40 characters.
    registry("ide-texts");
    build();

    ASSERT_EQ(diskCount, 1);
    EXPECT_EQ(text(disks[0].identifier), "SHORT");
    EXPECT_EQ(text(disks[0].product), "");
    EXPECT_EQ(text(disks[0].serialNumber), std::string(31, '7'));
    EXPECT_EQ(disks[0].sizeKb, kSizeNotMeasured);
}

TEST_F(Storage, DiskSizeIsMeasuredIn64BitsWithTheDrivesSectorSize) {
    drive(1, 1000, 16, 63, 4096);
    drive(2, 0xFFFF'FFFF'FFFFull);
    drive(3, 1000, 255, 63, 512, false);
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
    registry("four-disks"); // DISK 0 to DISK 3 on tsscsi
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
    registry("101-units");
    build();
    EXPECT_EQ(diskCount, 100);
    EXPECT_EQ(diskOrdinals[99], -1);
}

} // namespace
} // namespace farlink::inventory
