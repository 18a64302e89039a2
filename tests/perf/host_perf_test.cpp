// The host's performance block, built from kernel texts of two moments one second apart and
// read back through the reader with the built-in name table: what a manager would be served.
#include "perf/perf_reader.h"

#include "platform/host_perf.h"
#include "platform/perf_layout.h"
#include "platform/perf_names.h"
#include "platform/performance_data.h"
#include "support/test_data.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace farlink::perf {
namespace {

namespace pl = platform::perf_layout;

// The kernel's texts of two moments one second apart (data/perf/host/<moment>): cpu0 is busy
// for 75 of its 100 ticks in the second, cpu1 idles.
std::string kernelText(int moment, const char* name) {
    return testing::dataText("perf/host/" + std::to_string(moment) + "/" + name);
}

std::vector<std::uint8_t> hostBlock(int moment, std::span<const std::uint32_t> wanted = {}) {
    static const std::vector<std::string> drives = {"vda"};
    static const std::vector<platform::MountedVolume> volumes = {{"/", 254, 1}, {"/srv", 254, 9}};
    const std::string stat = kernelText(moment, "stat"), meminfo = kernelText(moment, "meminfo"),
                      vmstat = kernelText(moment, "vmstat"),
                      diskstats = kernelText(moment, "diskstats"),
                      interrupts = kernelText(moment, "interrupts");
    const platform::HostPerfSources s{
        stat,      meminfo,    vmstat,
        diskstats, interrupts, drives,
        volumes,   "server",   10'000'000 * static_cast<std::uint64_t>(moment + 1),
        100};
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

TEST_F(HostBlockTest, ProcessorsSystemAndMemoryFromProcStatInterruptsAndVmstat) {
    ASSERT_EQ(objectInstanceCount(kProcessorObject), 2u);
    EXPECT_EQ(processorCounterValue(0, 0), 75u);  // % Processor Time
    EXPECT_EQ(processorCounterValue(1, 0), 15u);  // % Privileged Time: system, irq, softirq
    EXPECT_EQ(processorCounterValue(2, 0), 60u);  // % User Time
    EXPECT_EQ(processorCounterValue(3, 0), 10u);  // % Interrupt Time
    EXPECT_EQ(processorCounterValue(4, 0), 100u); // Interrupts/sec
    EXPECT_EQ(processorCounterValue(0, 1), 0u);
    EXPECT_EQ(processorCounterValue(4, 1), 50u);
    // The system's totals are shares of all processors.
    EXPECT_DOUBLE_EQ(counterValue(kSystemObject, 0, 0), 37.5);
    EXPECT_EQ(systemCounterValue(2), 30u);  // % Total User Time
    EXPECT_EQ(systemCounterValue(4), 500u); // Total Interrupts/sec
    EXPECT_EQ(systemCounterValue(5), 300u); // Context Switches/sec
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

// MemAvailable reaches the load sampler as a share of the total memory.
TEST(HostBlock, AvailableMemoryReachesTheLoadSampler) {
    testing::TempProfileDir dir;
    testing::ScopedEnv image{"FARLINK_MACHINE", dir.path()};
    std::filesystem::create_directories(dir.path() + "/perf");
    ASSERT_EQ(loadCounterNames(platform::perfCountersValue()), 0);
    setPerformanceTotalMemory(1'024'000);
    walkPerformanceBlock(hostBlock(0), true);
    const std::vector<std::uint8_t> block = hostBlock(1);
    dir.write("perf/data.bin", std::string(block.begin(), block.end()));
    std::array<std::uint8_t, kMaxProcessors> busy{};
    std::uint32_t count = 0;
    std::uint8_t available = 0;
    samplePerformanceLoad(busy, count, available);
    EXPECT_EQ(available, 50);
    resetPerformanceReader();
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
