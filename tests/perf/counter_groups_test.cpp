#include "perf/counter_groups.h"

#include "inventory/disks.h"
#include "perf/perf_reader.h"
#include "platform/perf_layout.h"
#include "platform/perf_names.h"
#include "support/group_request.h"
#include "support/perf_block.h"
#include "support/test_support.h"
#include "system/services.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace farlink::perf {
namespace {

namespace pl = platform::perf_layout;
using platform::perfIndex;
using snmp::kGetNextRequest;
using snmp::kGetRequest;
using snmp::kNoSuchName;
using testing::GroupRequest;
using testing::perfBlock;
using testing::PerfObject;

// Every counter of an object as a raw count of `base` + its position, one row per instance.
PerfObject rawObject(const char* name, std::initializer_list<const char*> counters,
                     std::size_t instances, std::uint64_t base) {
    PerfObject object{platform::findPerfIndex(name), {}, instances > 0, {}};
    for (const char* counter : counters)
        object.counters.push_back({platform::findPerfIndex(counter), pl::kCounterRawCount});
    for (std::size_t i = 0; i < std::max<std::size_t>(instances, 1); ++i) {
        std::vector<std::uint64_t> values;
        for (std::size_t j = 0; j < object.counters.size(); ++j)
            values.push_back(base + 100 * i + j);
        object.rows.push_back({std::to_string(i), values});
    }
    return object;
}

class CounterGroupTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(loadCounterNames(platform::perfCountersValue()), 0); }
    void TearDown() override { resetPerformanceReader(); }
};

// Once processors are sampled they answer: test_perf_counters.py.
TEST_F(CounterGroupTest, MemoryCountersNeedASampledProcessor) {
    walkPerformanceBlock(perfBlock({rawObject("Memory", {"Page Faults/sec"}, 0, 3)}));
    GroupRequest get(kGetRequest);
    get.add({4, 65, 3, 1, 0});
    EXPECT_EQ(get.run(memoryCountersGet, {4, 65, 3}), kNoSuchName);
    EXPECT_EQ(get.record.errorIndex, 1);
}

// The walk of the sample's two disks: test_perf_counters.py.
TEST_F(CounterGroupTest, LogicalDiskRowsAreTheSampledInstances) {
    walkPerformanceBlock(
        perfBlock({rawObject("LogicalDisk", {"Avg. Disk Bytes/Read", "% Disk Time"}, 2, 50)}));
    GroupRequest get(kGetRequest);
    get.add({4, 65, 6, 1, 1, 1});
    get.add({4, 65, 6, 1, 16, 1});
    get.add({4, 65, 6, 1, 2, 2});
    EXPECT_EQ(get.run(logicalDiskTableGet, {4, 65, 6, 1}), kNoSuchName);
    EXPECT_EQ(get.binds[0].valueWord, 1u);
    EXPECT_EQ(get.record.errorIndex, 3) << "a row beyond the rows overrides the column error";
}

class PhysicalDiskTest : public CounterGroupTest {
  protected:
    void disks(std::int32_t count) {
        inventory::diskCount = count;
        for (std::int32_t d = 0; d < count; ++d) {
            inventory::disks[static_cast<std::size_t>(d)].unitKind = inventory::kHardDisk;
            inventory::diskOrdinals[static_cast<std::size_t>(d)] = d;
        }
    }
    // "Disk Reads/sec" (position 9, column 11) at `rate` per second for every instance.
    void rate(std::size_t instances, std::uint64_t rate) {
        auto block = [&](std::uint64_t count, std::int64_t time) {
            PerfObject object{perfIndex("PhysicalDisk"),
                              {{perfIndex("Disk Reads/sec"), pl::kCounterBulkCount}},
                              true,
                              {}};
            for (std::size_t i = 0; i < instances; ++i)
                object.rows.push_back({std::to_string(i), {count}});
            return perfBlock({object}, {time, 1000, 0});
        };
        walkPerformanceBlock(block(0, 0));
        walkPerformanceBlock(block(rate, 1000));
    }
};

TEST_F(PhysicalDiskTest, RowsEndAtTheRunningArraysAndMissingDisksReadZero) {
    disks(30);
    rate(30, 7);
    GroupRequest get(kGetRequest);
    get.add({4, 65, 5, 1, 11, 25});
    EXPECT_EQ(get.run(physicalDiskTableGet, {4, 65, 5, 1}), 0u);
    EXPECT_EQ(get.binds[0].valueWord, 7u);
    GroupRequest past(kGetRequest);
    past.add({4, 65, 5, 1, 11, 26});
    EXPECT_EQ(past.run(physicalDiskTableGet, {4, 65, 5, 1}), kNoSuchName);

    // More instances than disks in the table: the rows without a record read 0.
    disks(1);
    rate(3, 7);
    GroupRequest missing(kGetRequest);
    missing.add({4, 65, 5, 1, 11, 2});
    EXPECT_EQ(missing.run(physicalDiskTableGet, {4, 65, 5, 1}), 0u);
    EXPECT_EQ(missing.binds[0].valueWord, 0u);
    // A walk moves to the next column after the table's last disk.
    GroupRequest next(kGetNextRequest);
    next.add({4, 65, 5, 1, 1, 0});
    EXPECT_EQ(next.run(physicalDiskTableGet, {4, 65, 5, 1}), 0u);
    EXPECT_EQ(next.binds[0].name.sub[12], 2u);
    EXPECT_EQ(next.binds[0].name.sub[13], 0u);
}

class ImageGroupTest : public CounterGroupTest {
  protected:
    testing::TempProfileDir dir;
    testing::ScopedEnv image{"FARLINK_MACHINE", dir.path()};
    void write(const std::string& name, const std::string& text) {
        std::filesystem::create_directories(dir.path() + "/" + name.substr(0, name.find('/')));
        dir.write(name, text);
    }
};

TEST_F(ImageGroupTest, AccountNameIsCutToAValueKeepingItsTerminatorAndWithoutOneNoRow) {
    takeAccountName();
    GroupRequest none(kGetRequest);
    none.add({4, 60, 1, 2, 0});
    EXPECT_EQ(none.run(accountTableGet, {4, 60, 1}), kNoSuchName);
    write("system/facts", "UserName\t" + std::string(120, 'u') + "\n");
    takeAccountName();
    GroupRequest get(kGetRequest);
    get.add({4, 60, 1, 1, 0});
    EXPECT_EQ(get.run(accountTableGet, {4, 60, 1}), 0u);
    EXPECT_EQ(get.text(0), std::string(79, 'u') + '\0');
}

TEST_F(ImageGroupTest, DriverNamesAreServedWithoutTerminatorAndCut) {
    write("services/drivers",
          "koru\tKORU Management Driver\nlong\t" + std::string(100, 'd') + "\n");
    ASSERT_EQ(system::takeActiveDriverList(), 2);
    GroupRequest get(kGetRequest);
    get.add({4, 62, 1, 2, 0});
    get.add({4, 62, 1, 2, 1});
    EXPECT_EQ(get.run(driverTableGet, {4, 62, 1}), 0u);
    EXPECT_EQ(get.text(0), "KORU Management Driver");
    EXPECT_EQ(get.text(1), std::string(snmp::kValueBytes, 'd'));
}

} // namespace
} // namespace farlink::perf
