// The start-up gathers the storage adapters before the disks: a SCSI disk learns its adapter's
// position from the adapter table.
#include "inventory/disks.h"
#include "inventory/storage_adapters.h"
#include "machine_fixture.h"

namespace farlink::service {
namespace {

TEST_F(MachineTest, StartUpBuildsTheAdaptersBeforeTheDisks) {
    createBlock();
    windir.write("TESSEL.INI", "[environment]\ndriver=N/A\n");
    std::filesystem::create_directories(image + "/registry");
    // A SCSI list of one 16-byte port descriptor, 0xE800 of length 0x100.
    std::ofstream(image + "/registry/20-storage.reg")
        << "REGEDIT4\n\n"
           "[HKEY_LOCAL_MACHINE\\HARDWARE\\RESOURCEMAP\\ScsiAdapter\\tsscsi]\n"
           "\"\\\\Device\\\\ScsiPort0.Raw\"=hex(8):01,00,00,00,05,00,00,00,00,00,00,00,01,00,"
           "01,00,01,00,00,00,01,01,00,00,00,e8,00,00,00,00,00,00,00,01,00,00\n\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\tsscsi]\n"
           "\"Group\"=\"SCSI miniport\"\n\n"
           "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 0]\n"
           "\"Driver\"=\"tsscsi\"\n\n"
           "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id "
           "0\\Logical Unit Id 0]\n"
           "\"Identifier\"=\"TESSEL  TS9100W\"\n"
           "\"Type\"=\"CdRomPeripheral\"\n";
    ASSERT_EQ(runStartUp(), 0);

    ASSERT_EQ(storageAdapterCount, 1);
    EXPECT_EQ(storageAdapters[0].portBase, 0xE800u);
    ASSERT_EQ(diskCount, 1);
    EXPECT_EQ(disks[0].adapterIndex, 0u) << "255 when the adapters came later";
}

} // namespace
} // namespace farlink::service
