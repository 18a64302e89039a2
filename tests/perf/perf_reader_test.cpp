#include "perf/perf_reader.h"

#include "platform/memory.h"
#include "platform/perf_layout.h"
#include "platform/perf_names.h"
#include "runtime/guarded.h"
#include "support/perf_block.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>

namespace farlink::perf {
namespace {

namespace pl = platform::perf_layout;
using platform::perfIndex;
using testing::perfBlock;
using testing::PerfBlockTimes;
using testing::PerfObject;

struct TypeCase {
    const char* name;
    CounterInputs in;
    double expected;
};

CounterInputs inputs(std::uint32_t type, std::uint64_t v1, std::uint64_t v0) {
    CounterInputs in;
    in.counterType = type;
    in.v1 = v1;
    in.v0 = v0;
    in.t1 = 3000; // two seconds at 1000 per second
    in.t0 = 1000;
    in.frequency = 1000;
    in.n1 = 100'000'000;
    in.n0 = 0;
    in.objectFrequency = 1000;
    return in;
}

CounterInputs withBase(CounterInputs in, std::uint64_t b1, std::uint64_t b0) {
    in.b1 = b1;
    in.b0 = b0;
    return in;
}

// The disks' averages and bulk rates: HostBlockTest and test_perf_counters.py.
TEST(CounterType, EachComputesThePublishedRule) {
    const TypeCase cases[] = {
        TypeCase{"InverseTimerQuarterBusy", inputs(pl::k100NsecTimerInv, 25'000'000, 0), 75},
        TypeCase{"TimerCappedAtHundred", inputs(pl::kCounterTimer, 5000, 0), 100},
        TypeCase{"MultiTimerNotCapped", withBase(inputs(pl::kCounterMultiTimer, 5000, 0), 1, 0),
                 250},
        TypeCase{"MultiTimerWithoutBase", inputs(pl::kCounterMultiTimer, 5000, 0), 0},
        TypeCase{"CounterWrapsIn32Bits", inputs(pl::kCounterCounter, 6, 4294967290), 6},
        TypeCase{"BulkCountGoingBack", inputs(pl::kCounterBulkCount, 5, 9), 0},
        TypeCase{"RawCountLow32Bits", inputs(pl::kCounterRawCount, 0x1'0000'0005, 0), 5},
        TypeCase{"LargeRawCountSigned", inputs(pl::kCounterLargeRawCount, ~std::uint64_t{0}, 0),
                 -1},
        // Single precision would say 16777216.
        TypeCase{"LargeRawCountExactAbove2To24", inputs(pl::kCounterLargeRawCount, 16777217, 0),
                 16777217},
        TypeCase{"SampleFraction", withBase(inputs(pl::kSampleFraction, 30, 10), 50, 10), 50},
        TypeCase{"SampleCounterBaseGoingBack", withBase(inputs(pl::kSampleCounter, 30, 10), 5, 9),
                 0},
        TypeCase{"AverageBulkWithoutOperations", withBase(inputs(pl::kAverageBulk, 40960, 0), 5, 5),
                 0},
        TypeCase{"BaseHasNoValue", inputs(pl::kAverageBase, 10, 0), 0}};
    for (const TypeCase& c : cases)
        EXPECT_DOUBLE_EQ(computeCounterValue(c.in), c.expected) << c.name;
}

TEST(CounterWord, TruncatesAndSaturatesToThirtyTwoBits) {
    EXPECT_EQ(counterWord(7.9), 7u);
    EXPECT_EQ(counterWord(4294967294.5), 4294967294u);
    EXPECT_EQ(counterWord(5e9), 0xFFFFFFFFu);
    EXPECT_EQ(counterWord(-1.5), 0xFFFFFFFFu); // -1 as a signed word
    EXPECT_EQ(counterWord(-3e9), 0x80000000u);
    EXPECT_EQ(counterWord(std::numeric_limits<double>::quiet_NaN()), 0u);
}

TEST(CounterNames, AnIndexThatDoesNotParseFailsAndLeavesTheReaderIdle) {
    std::vector<std::uint8_t> bad;
    for (const char* text : {"x2", "System", ""}) {
        for (const char* c = text; *c != '\0'; ++c) {
            bad.push_back(static_cast<std::uint8_t>(*c));
            bad.push_back(0);
        }
        bad.push_back(0);
        bad.push_back(0);
    }
    EXPECT_EQ(loadCounterNames(bad), -1);
    PerfObject system{perfIndex("System"),
                      {{perfIndex("% Total User Time"), pl::kCounterRawCount}},
                      false,
                      {{"", {5}}}};
    walkPerformanceBlock(perfBlock({system}));
    EXPECT_EQ(objectInstanceCount(kSystemObject), 0u);
}

class WalkTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(loadCounterNames(platform::perfCountersValue()), 0); }
    void TearDown() override { resetPerformanceReader(); }
};

PerfObject diskObject(const char* name, std::uint64_t bytes, std::size_t instances = 1) {
    PerfObject object{platform::findPerfIndex(name),
                      {{perfIndex("Disk Bytes/sec"), pl::kCounterBulkCount}},
                      true,
                      {}};
    for (std::size_t i = 0; i < instances; ++i)
        object.rows.push_back({std::to_string(i), {bytes * (i + 1)}});
    return object;
}

TEST_F(WalkTest, TwoSnapshotsGiveRatesAndSharedDiskIndicesFillBothObjects) {
    walkPerformanceBlock(
        perfBlock({diskObject("PhysicalDisk", 0), diskObject("LogicalDisk", 0)}, {1000, 1000, 0}));
    walkPerformanceBlock(perfBlock(
        {diskObject("PhysicalDisk", 300, 2), diskObject("LogicalDisk", 700, 2)}, {3000, 1000, 0}));
    walkPerformanceBlock(perfBlock(
        {diskObject("PhysicalDisk", 500, 2), diskObject("LogicalDisk", 1100, 2)}, {5000, 1000, 0}));
    EXPECT_DOUBLE_EQ(counterValue(kPhysicalDiskObject, 8, 0), 100);
    EXPECT_DOUBLE_EQ(counterValue(kPhysicalDiskObject, 8, 1), 200);
    EXPECT_EQ(logicalDiskCounterValue(8, 0), 200u);
    EXPECT_EQ(logicalDiskCounterValue(8, 1), 400u);
    EXPECT_EQ(logicalDiskCounterValue(8, 2), 0u) << "no third instance";
}

TEST_F(WalkTest, BaseBeforeItsAverageKeepsTheAveragesType) {
    auto disks = [](std::uint64_t reads, std::uint64_t bytes) {
        return perfBlock({PerfObject{perfIndex("LogicalDisk"),
                                     {{perfIndex("Avg. Disk Bytes/Read"), pl::kAverageBase},
                                      {perfIndex("Avg. Disk Bytes/Read"), pl::kAverageBulk}},
                                     true,
                                     {{"/", {reads, bytes}}}}});
    };
    walkPerformanceBlock(disks(10, 4096));
    walkPerformanceBlock(disks(20, 4096 + 10 * 512));
    EXPECT_EQ(logicalDiskCounterValue(0, 0), 512u);
}

// A well-formed block whose objects a test then damages.
std::vector<std::uint8_t> systemAndMemory() {
    PerfObject system{perfIndex("System"),
                      {{perfIndex("% Total User Time"), pl::kCounterRawCount}},
                      false,
                      {{"", {42}}}};
    PerfObject memory{perfIndex("Memory"),
                      {{perfIndex("Page Faults/sec"), pl::kCounterRawCount}},
                      false,
                      {{"", {17}}}};
    return perfBlock({system, memory});
}

TEST_F(WalkTest, AnObjectThatDoesNotAdvanceEndsTheWalk) {
    std::vector<std::uint8_t> block = systemAndMemory();
    testing::putLe(block, testing::kPerfFirstObject, 0, 4); // System's TotalByteLength
    walkPerformanceBlock(block);
    EXPECT_EQ(memoryCounterValue(0), 0u);
    // The same object with its length back is read, and the walk goes on to the next.
    walkPerformanceBlock(systemAndMemory());
    EXPECT_EQ(systemCounterValue(2), 42u);
    EXPECT_EQ(memoryCounterValue(0), 17u);
}

TEST_F(WalkTest, LengthsAndOffsetsPastTheBlockAreNotFollowed) {
    const std::vector<std::uint8_t> good = systemAndMemory();
    const std::size_t object = testing::kPerfFirstObject;
    const std::size_t definition = object + pl::kObjectSize;
    struct Damage {
        std::size_t at;
        std::uint32_t value;
    };
    for (const Damage d : {Damage{20, 0xFFFFFFFF}, Damage{24, 0xFFFFFFF0}, Damage{28, 0xFFFFFFFF},
                           Damage{object, 0xFFFFFFFF}, Damage{object + 4, 0xFFFFFFFF},
                           Damage{object + 8, 0xFFFFFFFF}, Damage{object + 32, 0xFFFFFFFF},
                           Damage{definition, 0}, Damage{definition + 36, 0xFFFFFFFC}}) {
        std::vector<std::uint8_t> block = good;
        testing::putLe(block, d.at, d.value, 4);
        walkPerformanceBlock(block); // must neither read outside nor hang
    }
    // A counter whose offset lies past its counter block keeps its value.
    walkPerformanceBlock(good);
    std::vector<std::uint8_t> block = good;
    testing::putLe(block, definition + 36, 64, 4);
    walkPerformanceBlock(block);
    EXPECT_EQ(systemCounterValue(2), 42u);
}

TEST_F(WalkTest, EveryCutOfABlockIsWalkedWithinIt) {
    const std::vector<std::uint8_t> whole = perfBlock(
        {diskObject("PhysicalDisk", 100, 3), diskObject("LogicalDisk", 100, 3)}, {1, 1000, 1});
    for (std::size_t size = 0; size <= whole.size(); ++size) {
        // Each cut is a block of its own size, so that the sanitizers see a read past it.
        std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(size));
        walkPerformanceBlock(cut);
        EXPECT_LE(objectInstanceCount(kPhysicalDiskObject), 3u);
    }
    EXPECT_EQ(objectInstanceCount(kLogicalDiskObject), 3u);
}

TEST_F(WalkTest, AnInstanceCountIsCutToWhatTheObjectCanHold) {
    std::vector<std::uint8_t> block = perfBlock({diskObject("LogicalDisk", 1, 2)});
    testing::putLe(block, testing::kPerfFirstObject + pl::kObjectNumInstances, 0x7FFFFFFF, 4);
    walkPerformanceBlock(block);
    const std::size_t room = block.size() - testing::kPerfFirstObject - (pl::kObjectSize + 40);
    EXPECT_LE(objectInstanceCount(kLogicalDiskObject), room / 28);
    EXPECT_GE(objectInstanceCount(kLogicalDiskObject), 2u);
    EXPECT_EQ(counterValue(kLogicalDiskObject, 8, 1), 0) << "one sample only";
}

TEST_F(WalkTest, StorageThatCannotBeMadeLeavesTheObjectWithoutInstances) {
    walkPerformanceBlock(perfBlock({diskObject("LogicalDisk", 1, 2)}));
    ASSERT_EQ(objectInstanceCount(kLogicalDiskObject), 2u);
    const std::size_t live = runtime::guardedLiveBlocks();
    platform::failHeapAllocationAfter(0);
    walkPerformanceBlock(perfBlock({diskObject("LogicalDisk", 1, 3)}));
    platform::failHeapAllocationAfter(-1);
    EXPECT_EQ(objectInstanceCount(kLogicalDiskObject), 0u);
    EXPECT_EQ(logicalDiskCounterValue(8, 0), 0u);
    EXPECT_EQ(runtime::guardedLiveBlocks(), live - 1) << "the old storage was released";
}

class LoadTest : public WalkTest {
  protected:
    testing::TempProfileDir dir;
    testing::ScopedEnv image{"FARLINK_MACHINE", dir.path()};

    void SetUp() override {
        WalkTest::SetUp();
        std::filesystem::create_directories(dir.path() + "/perf");
    }
    void publish(const std::vector<std::uint8_t>& block) {
        dir.write("perf/data.bin", std::string(block.begin(), block.end()));
    }
    // What the last sample left, filled with 9s before it where a case says so.
    std::array<std::uint8_t, kMaxProcessors> busy{};
    std::uint32_t count = 0;
    std::uint8_t available = 0;
    void sample() { samplePerformanceLoad(busy, count, available); }
    // Processors with these idle times, and memory with this much available.
    static std::vector<std::uint8_t> load(std::vector<std::uint64_t> idle, std::uint64_t available,
                                          std::int64_t time100ns) {
        PerfObject processor{perfIndex("Processor"),
                             {{perfIndex("% Processor Time"), pl::k100NsecTimerInv}},
                             true,
                             {}};
        for (std::size_t i = 0; i < idle.size(); ++i)
            processor.rows.push_back({std::to_string(i), {idle[i]}});
        PerfObject memory{perfIndex("Memory"),
                          {{perfIndex("Available Bytes"), pl::kCounterLargeRawCount}},
                          false,
                          {{"", {available}}}};
        return perfBlock({processor, memory}, {time100ns / 10000, 1000, time100ns});
    }
};

// The same sample taken again changes neither busy nor the counters; a failed query changes
// nothing at all.
TEST_F(LoadTest, BusyComparesWithTheStartUpSnapshotAndAFailedQueryChangesNothing) {
    // Snapshots ten minutes apart: 6e9 units of 100 ns, more than 32 bits hold.
    constexpr std::uint64_t kTen = 6'000'000'000;
    setPerformanceTotalMemory(24ull << 30);
    walkPerformanceBlock(load({0, 0}, 0, 0), true); // as the start-up's snapshot
    publish(load({kTen / 4, kTen}, 12ull << 30, kTen));
    for (int round = 0; round < 2; ++round) {
        busy.fill(9);
        sample();
        EXPECT_EQ(count, 2);
        EXPECT_EQ(busy[0], 75) << round; // 75.5 truncates
        EXPECT_EQ(busy[1], 0);
        EXPECT_EQ(available, 50);
        EXPECT_EQ(processorCounterValue(0, 0), 75u) << round;
    }

    std::filesystem::remove(dir.path() + "/perf/data.bin");
    busy.fill(9);
    count = 9;
    available = 9;
    sample();
    EXPECT_EQ(busy[0], 9);
    EXPECT_EQ(count, 9);
    EXPECT_EQ(available, 9);
}

TEST_F(LoadTest, ProcessorsBeyondTheBusyArrayAreCountedAndMemoryIsCapped) {
    // 300 processors: more than the busy array keeps, and more than one byte counts.
    setPerformanceTotalMemory(1ull << 30);
    walkPerformanceBlock(load(std::vector<std::uint64_t>(300, 0), 0, 0), true);
    publish(load(std::vector<std::uint64_t>(300, 500), 3ull << 30, 1000));
    sample();
    EXPECT_EQ(count, 300u);
    EXPECT_EQ(busy[31], 50);
    EXPECT_EQ(available, 100);
}

TEST_F(LoadTest, ABlockLargerThanTheQueryBufferIsReadWhole) {
    PerfObject many = diskObject("LogicalDisk", 1, 1000);
    const std::vector<std::uint8_t> block = perfBlock({many});
    ASSERT_GT(block.size(), kQueryBufferSize + kQueryBufferStep);
    publish(block);
    ASSERT_EQ(takePerformanceSnapshot(), 0);
    EXPECT_EQ(objectInstanceCount(kLogicalDiskObject), 1000u);
}

TEST(InitPerformanceData, FailsWithoutANameTableOrWithALastCounterOfAnotherType) {
    testing::TempProfileDir dir;
    testing::ScopedEnv image{"FARLINK_MACHINE", dir.path()};
    EXPECT_EQ(initPerformanceData(), -1);
    EXPECT_EQ(takePerformanceSnapshot(), -1) << "not ready";
    std::filesystem::create_directories(dir.path() + "/registry");
    std::ofstream(dir.path() + "/registry/30-perflib.reg")
        << testing::perflibRegText(platform::perfCountersValue(), "\"120\"");
    EXPECT_EQ(initPerformanceData(), -1);
}

} // namespace
} // namespace farlink::perf
