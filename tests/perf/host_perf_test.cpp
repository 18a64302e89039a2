// The host's performance block, built from kernel texts of two moments one second apart and
// read back through the reader with the built-in name table: what a manager would be served.
#include "perf/perf_reader.h"

#include "platform/host_perf.h"
#include "platform/perf_layout.h"
#include "platform/perf_names.h"
#include "platform/performance_data.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace farlink::perf {
namespace {

namespace pl = platform::perf_layout;

// cpu0 is busy for 75 of its 100 ticks in the second, cpu1 idles.
constexpr const char* kStat[2] = {
    "cpu  100 0 50 800 50 0 0 0 0 0\n"
    "cpu0 50 0 25 400 25 0 0 0 0 0\n"
    "cpu1 50 0 25 400 25 0 0 0 0 0\n"
    "intr 1000 5 6\nctxt 2000\nbtime 1\n",
    "cpu  160 0 55 920 55 5 5 0 0 0\n"
    "cpu0 110 0 30 420 30 5 5 0 0 0\n"
    "cpu1 50 0 25 500 25 0 0 0 0 0\n"
    "intr 1500 5 6\nctxt 2300\nbtime 1\n",
};
constexpr const char* kInterrupts[2] = {
    "           CPU0       CPU1       \n"
    "  0:         10          0   IO-APIC   2-edge      timer\n"
    "  1:          5          7   IO-APIC   1-edge      i8042\n"
    "NMI:          0          0   Non-maskable interrupts\n"
    "ERR:          3\n",
    "           CPU0       CPU1       \n"
    "  0:        110          0   IO-APIC   2-edge      timer\n"
    "  1:          5         57   IO-APIC   1-edge      i8042\n"
    "NMI:          0          0   Non-maskable interrupts\n"
    "ERR:          9\n",
};
constexpr const char* kMeminfo =
    "MemTotal:       1000 kB\nMemFree:  100 kB\nMemAvailable: 500 kB\n";
constexpr const char* kVmstat[2] = {"pgfault 1000\npgmajfault 10\npswpin 0\npswpout 0\n",
                                    "pgfault 1400\npgmajfault 30\npswpin 8\npswpout 4\n"};
constexpr const char* kDiskstats[2] = {
    " 254       0 vda 100 0 800 1000 50 0 400 500 0 0 0 0 0 0 0 0 0\n"
    " 254       1 vda1 10 0 80 100 5 0 40 50 0 0 0 0 0 0 0 0 0\n",
    " 254       0 vda 110 0 880 1500 55 0 440 750 0 0 0 0 0 0 0 0 0\n"
    " 254       1 vda1 12 0 96 110 5 0 40 50 0 0 0 0 0 0 0 0 0\n",
};

std::vector<std::uint8_t> hostBlock(int moment, std::span<const std::uint32_t> wanted = {}) {
    static const std::vector<std::string> drives = {"vda"};
    static const std::vector<platform::MountedVolume> volumes = {{"/", 254, 1}, {"/srv", 254, 9}};
    platform::HostPerfSources s;
    s.stat = kStat[moment];
    s.meminfo = kMeminfo;
    s.vmstat = kVmstat[moment];
    s.diskstats = kDiskstats[moment];
    s.interrupts = kInterrupts[moment];
    s.physicalDrives = drives;
    s.volumes = volumes;
    s.systemName = "server";
    s.bootTime100ns = 10'000'000 * static_cast<std::uint64_t>(moment + 1);
    s.ticksPerSecond = 100;
    std::vector<std::uint8_t> block;
    platform::buildHostPerfBlock(s, wanted, block);
    return block;
}

class HostBlockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(loadCounterNames(platform::perfCountersValue()), 0);
        walkPerformanceBlock(hostBlock(0), true);
        walkPerformanceBlock(hostBlock(1));
    }
    void TearDown() override { resetPerformanceReader(); }
};

TEST_F(HostBlockTest, ProcessorsFromProcStatAndProcInterrupts) {
    ASSERT_EQ(objectInstanceCount(kProcessorObject), 2u);
    EXPECT_EQ(processorCounterValue(0, 0), 75u);  // % Processor Time
    EXPECT_EQ(processorCounterValue(1, 0), 15u);  // % Privileged Time: system, irq, softirq
    EXPECT_EQ(processorCounterValue(2, 0), 60u);  // % User Time
    EXPECT_EQ(processorCounterValue(3, 0), 10u);  // % Interrupt Time
    EXPECT_EQ(processorCounterValue(4, 0), 100u); // Interrupts/sec
    EXPECT_EQ(processorCounterValue(0, 1), 0u);
    EXPECT_EQ(processorCounterValue(4, 1), 50u);
}

TEST_F(HostBlockTest, SystemTotalsAreSharesOfAllProcessors) {
    EXPECT_DOUBLE_EQ(counterValue(kSystemObject, 0, 0), 37.5);
    EXPECT_EQ(systemCounterValue(2), 30u);  // % Total User Time
    EXPECT_EQ(systemCounterValue(4), 500u); // Total Interrupts/sec
    EXPECT_EQ(systemCounterValue(5), 300u); // Context Switches/sec
    // Linux counts no system calls or file operations: those read 0.
    for (std::uint32_t position = 6; position < 15; ++position)
        EXPECT_EQ(systemCounterValue(position), 0u) << position;
}

TEST_F(HostBlockTest, MemoryFromVmstat) {
    EXPECT_EQ(memoryCounterValue(0), 400u); // Page Faults/sec
    EXPECT_EQ(memoryCounterValue(1), 0u);   // Transition Faults/sec: no counterpart
    EXPECT_EQ(memoryCounterValue(3), 20u);  // Page Reads/sec
    EXPECT_EQ(memoryCounterValue(5), 8u);   // Pages Input/sec
    EXPECT_EQ(memoryCounterValue(6), 4u);   // Pages Output/sec
    EXPECT_EQ(memoryCounterValue(7), 12u);  // Pages/sec
}

TEST_F(HostBlockTest, DisksFromDiskstats) {
    ASSERT_EQ(objectInstanceCount(kPhysicalDiskObject), 1u);
    const std::uint32_t expected[15] = {4096,  4096, 4096, 0,  0,  0,  40960, 20480,
                                        61440, 10,   5,    15, 50, 25, 75};
    for (std::uint32_t position = 0; position < 15; ++position)
        EXPECT_EQ(counterWord(counterValue(kPhysicalDiskObject, position, 0)), expected[position])
            << position;
    EXPECT_DOUBLE_EQ(counterValue(kPhysicalDiskObject, 3, 0), 0.05); // Avg. Disk sec/Read
    EXPECT_DOUBLE_EQ(counterValue(kPhysicalDiskObject, 5, 0), 0.05);
    // The mounted volume on vda1; the one whose device the kernel does not list is left out.
    ASSERT_EQ(objectInstanceCount(kLogicalDiskObject), 1u);
    EXPECT_EQ(logicalDiskCounterValue(9, 0), 2u);    // Disk Reads/sec
    EXPECT_EQ(logicalDiskCounterValue(6, 0), 8192u); // Disk Read Bytes/sec
}

TEST(HostBlock, AvailableMemoryReachesTheLoadSampler) {
    testing::TempProfileDir dir;
    testing::ScopedEnv image{"FARLINK_MACHINE", dir.path()};
    std::filesystem::create_directories(dir.path() + "/perf");
    ASSERT_EQ(loadCounterNames(platform::perfCountersValue()), 0);
    setPerformanceTotalMemory(1'024'000);
    walkPerformanceBlock(hostBlock(0), true);
    const std::vector<std::uint8_t> block = hostBlock(1);
    std::ofstream(dir.path() + "/perf/data.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(block.data()),
               static_cast<std::streamsize>(block.size()));
    std::array<std::uint8_t, kMaxProcessors> busy{};
    std::uint32_t count = 0;
    std::uint8_t available = 0;
    samplePerformanceLoad(busy, count, available);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(busy[0], 75);
    EXPECT_EQ(available, 50);
}

TEST(HostBlock, OnlyTheObjectsAskedForAreBuilt) {
    const std::vector<std::uint32_t> wanted =
        platform::wantedObjects(u"4 " + std::u16string(u"86 "));
    EXPECT_EQ(wanted, (std::vector<std::uint32_t>{4, 86}));
    const std::vector<std::uint8_t> block = hostBlock(0, wanted);
    EXPECT_EQ(pl::word32(block, pl::kBlockNumObjectTypes), 2u);
    EXPECT_EQ(pl::word32(block, pl::kBlockTotalByteLength), block.size());
    const std::uint32_t first = pl::word32(block, pl::kBlockHeaderLength);
    EXPECT_EQ(pl::word32(block, first + pl::kObjectNameTitleIndex), platform::perfIndex("Memory"));
    EXPECT_TRUE(platform::wantedObjects(u"Global").empty());
    EXPECT_EQ(hostBlock(0, {}).size(), hostBlock(0, platform::wantedObjects(u"Global")).size());
}

TEST(HostBlock, ABurstOfQueriesGetsOneBlockAndALaterQueryANewOne) {
    std::vector<std::uint8_t> first(1 << 16), second(1 << 16), third(1 << 16);
    std::uint32_t size1 = 0, size2 = 0, size3 = 0;
    const std::u16string objects = u"2 4 86 ";
    platform::setPerformanceDataReuse(60'000);
    ASSERT_EQ(platform::queryPerformanceData(objects, first, size1), 0);
    ASSERT_EQ(platform::queryPerformanceData(objects, second, size2), 0);
    EXPECT_TRUE(
        std::equal(first.begin(), first.begin() + size1, second.begin(), second.begin() + size2));
    platform::setPerformanceDataReuse(0);
    ASSERT_EQ(platform::queryPerformanceData(objects, third, size3), 0);
    EXPECT_GT(pl::word64(third, pl::kBlockPerfTime100nSec),
              pl::word64(first, pl::kBlockPerfTime100nSec));
    platform::setPerformanceDataReuse(platform::kPerformanceDataReuseMs);
}

TEST(HostBlock, BlockMountPointsAreDevicesOnceWithTheirEscapesUndone) {
    const char* mounts = "proc /proc proc rw 0 0\n"
                         "/dev/vda / ext4 rw 0 0\n"
                         "/dev/vdb /mnt/my\\040disk xfs rw 0 0\n"
                         "tmpfs /run tmpfs rw 0 0\n"
                         "/dev/vda / ext4 rw 0 0\n"
                         "/dev/vdc /odd\\04 ext4 rw 0 0\n";
    EXPECT_EQ(platform::blockMountPoints(mounts),
              (std::vector<std::string>{"/", "/mnt/my disk", "/odd\\04"}));
}

} // namespace
} // namespace farlink::perf
