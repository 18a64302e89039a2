// The groups of the KORU driver's readings, on driver answers the test writes, and the item lists.
#include "system/driver_groups.h"

#include "inventory/driver_answer.h"
#include "perf/perf_reader.h"
#include "platform/perf_layout.h"
#include "platform/perf_names.h"
#include "runtime/agent_settings.h"
#include "runtime/koru.h"
#include "support/group_request.h"
#include "support/perf_block.h"
#include "support/test_support.h"
#include "system/item_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace farlink::system {
namespace {

namespace pl = platform::perf_layout;
using testing::GroupRequest;

constexpr auto relaxed = std::memory_order_relaxed;

void putWord(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// An item list as the driver lays it out: byte 0, the offsets, then name and values per row.
std::vector<std::uint8_t>
itemList(const std::vector<std::pair<std::string, std::vector<std::uint32_t>>>& rows) {
    std::vector<std::uint8_t> out(1 + 4 * rows.size(), 0);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const auto offset = static_cast<std::uint32_t>(out.size());
        for (int i = 0; i < 4; ++i)
            out[1 + 4 * r + i] = static_cast<std::uint8_t>(offset >> (8 * i));
        out.insert(out.end(), rows[r].first.begin(), rows[r].first.end());
        out.push_back(0);
        for (std::uint32_t v : rows[r].second)
            putWord(out, v);
    }
    return out;
}

class DriverGroups : public ::testing::Test {
  protected:
    testing::TempProfileDir dir;
    testing::ScopedEnv image{"FARLINK_MACHINE", dir.path()};
    testing::ScopedEnv record{"FARLINK_MACHINE_RECORD", dir.path() + "/record.log"};
    std::string koru = dir.path() + "/devices/KORU";

    void SetUp() override {
        std::filesystem::create_directories(koru);
        std::filesystem::create_directories(dir.path() + "/perf");
        ASSERT_EQ(perf::loadCounterNames(platform::perfCountersValue()), 0);
        runtime::koruHandle = platform::openDevice(runtime::kKoruDevice, platform::kDeviceRead);
        ASSERT_NE(runtime::koruHandle, nullptr);
        inventory::driverItemRowCounts = {};
        inventory::table13FirstRowAbsent = inventory::table13SecondRowAbsent = 0;
        runtime::agentSettings.temp1.store(530, relaxed);
        runtime::agentSettings.temp2.store(650, relaxed);
        runtime::agentSettings.cpuThreshold.store(100, relaxed);
        runtime::configChanged.store(0, relaxed);
    }
    void TearDown() override {
        platform::closeDevice(runtime::koruHandle);
        runtime::koruHandle = nullptr;
        perf::resetPerformanceReader();
    }

    std::string codeFile(std::uint32_t code) const {
        char name[16];
        std::snprintf(name, sizeof name, "/%08x.bin", static_cast<unsigned>(code));
        return koru + name;
    }
    void answer(std::uint32_t code, const std::vector<std::uint8_t>& bytes) const {
        std::ofstream(codeFile(code), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    void refuse(std::uint32_t code) const { std::filesystem::remove(codeFile(code)); }
    std::string recorded() const { return dir.read("record.log"); }

    // The performance data of a machine with this many processors, half busy since start-up.
    void processors(std::size_t count) const {
        auto block = [&](std::uint64_t idle, std::int64_t time) {
            testing::PerfObject p{platform::perfIndex("Processor"),
                                  {{platform::perfIndex("% Processor Time"), pl::k100NsecTimerInv}},
                                  true,
                                  {}};
            for (std::size_t i = 0; i < count; ++i)
                p.rows.push_back({std::to_string(i), {idle}});
            return testing::perfBlock({p}, {time / 10000, 1000, time});
        };
        perf::walkPerformanceBlock(block(0, 0), true);
        const std::vector<std::uint8_t> now = block(5'000'000, 10'000'000);
        std::ofstream(dir.path() + "/perf/data.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(now.data()),
                   static_cast<std::streamsize>(now.size()));
    }
};

TEST_F(DriverGroups, ProcessorRowsCarryReadingsSettingsAndCounters) {
    processors(2);
    answer(runtime::kIoctlProcessorReadings16, {0x2d, 0x00, 0xfb, 0xff, 0, 0, 0, 0});
    std::vector<std::uint8_t> words;
    for (std::uint32_t v : {450u, 433u, 0u, 0u})
        putWord(words, v);
    answer(runtime::kIoctlProcessorReadings32, words);
    GroupRequest r(snmp::kGetRequest);
    for (std::uint32_t c = 1; c <= 11; ++c)
        r.add({4, 30, 1, c, 1});
    ASSERT_EQ(r.run(processorTableGet, {4, 30, 1}), snmp::kNoError);
    const std::vector<std::uint32_t> expected = {1, 50, 100, 0xFFFFFFFB, 530, 650, 433, 0xFFFFFFFF};
    for (std::size_t c = 0; c < expected.size(); ++c) {
        EXPECT_EQ(r.binds[c].valueTag, snmp::kTagInteger) << "column " << c + 1;
        EXPECT_EQ(r.binds[c].valueWord, expected[c]) << "column " << c + 1;
    }
}

TEST_F(DriverGroups, ReadingsBeyondTheFourMeasuredOrTheBytesReturnedAreZero) {
    processors(8);
    answer(runtime::kIoctlProcessorReadings16, {0x2d, 0x00, 0x2f}); // one and a half readings
    refuse(runtime::kIoctlProcessorReadings32);
    GroupRequest r(snmp::kGetRequest);
    for (std::uint32_t i : {0u, 1u, 5u}) {
        r.add({4, 30, 1, 4, i});
        r.add({4, 30, 1, 7, i});
    }
    ASSERT_EQ(r.run(processorTableGet, {4, 30, 1}), snmp::kNoError);
    EXPECT_EQ(r.binds[0].valueWord, 45u);
    for (std::size_t b = 1; b < 6; ++b)
        EXPECT_EQ(r.binds[b].valueWord, 0u) << "binding " << b;
}

TEST_F(DriverGroups, LimitsChangeOnlyWhenOneSetCarriesBoth) {
    processors(2);
    answer(runtime::kIoctlLowerTemperature, {});
    answer(runtime::kIoctlUpperTemperature, {});
    GroupRequest r(snmp::kSetRequest);
    r.addInteger({4, 30, 1, 6, 1}, 700);
    r.addInteger({4, 30, 1, 3, 0}, 90);
    r.addInteger({4, 30, 1, 5, 0}, 400);
    EXPECT_EQ(r.run(processorTableSet, {4, 30, 1}), snmp::kNoError);
    EXPECT_EQ(runtime::agentSettings.temp1.load(), 400);
    EXPECT_EQ(runtime::agentSettings.temp2.load(), 700);
    EXPECT_EQ(runtime::agentSettings.cpuThreshold.load(), 90);
    // The current upper limit (650) is above 400: the lower one goes first.
    EXPECT_EQ(recorded(), "KORU 0x80002050 9001\nKORU 0x80002054 bc02\n");
}

TEST_F(DriverGroups, LimitSetsOutsideSixteenBitsOrRowsOrOrderAreRefused) {
    processors(2);
    answer(runtime::kIoctlLowerTemperature, {});
    answer(runtime::kIoctlUpperTemperature, {});
    {
        GroupRequest r(snmp::kSetRequest);
        r.addInteger({4, 30, 1, 5, 0}, 100);
        r.addInteger({4, 30, 1, 6, 0}, 70000);
        EXPECT_EQ(r.run(processorTableSet, {4, 30, 1}), snmp::kBadValue);
        EXPECT_EQ(r.record.errorIndex, 2u);
    }
    {
        GroupRequest r(snmp::kSetRequest);
        r.addInteger({4, 30, 1, 3, 2}, 50);
        EXPECT_EQ(r.run(processorTableSet, {4, 30, 1}), snmp::kGenErr);
        EXPECT_EQ(runtime::agentSettings.cpuThreshold.load(), 100);
    }
    {
        GroupRequest r(snmp::kSetRequest);
        r.addInteger({4, 30, 1, 5, 0}, 600);
        r.addInteger({4, 30, 1, 6, 0}, 500);
        EXPECT_EQ(r.run(processorTableSet, {4, 30, 1}), snmp::kGenErr);
    }
    EXPECT_EQ(recorded(), "");
    EXPECT_EQ(runtime::agentSettings.temp1.load(), 530);
    EXPECT_EQ(runtime::agentSettings.temp2.load(), 650);
}

TEST_F(DriverGroups, DriverInformationReadsTheConfigurationAnswer) {
    inventory::configurationAnswer = {};
    inventory::configurationAnswer[0] = 1;
    inventory::configurationAnswer[1] = 0x35;
    inventory::configurationAnswer[2] = 0xC8;
    inventory::configurationAnswerLength = 36;
    GroupRequest r(snmp::kGetRequest);
    for (std::uint32_t c : {1u, 2u, 3u, 5u})
        r.add({5, c, 0});
    ASSERT_EQ(r.run(driverInformationGet, {5}), snmp::kNoError);
    EXPECT_EQ(r.binds[0].valueWord, 2u);
    EXPECT_EQ(r.binds[1].valueWord, 200u);
    EXPECT_EQ(r.binds[2].valueWord, 350u);
    EXPECT_EQ(r.binds[3].valueWord, 120u);

    inventory::configurationAnswerLength = 2; // byte 2 was never returned
    GroupRequest shortAnswer(snmp::kGetRequest);
    shortAnswer.add({5, 2, 0});
    ASSERT_EQ(shortAnswer.run(driverInformationGet, {5}), snmp::kNoError);
    EXPECT_EQ(shortAnswer.binds[0].valueWord, 0u);
}

TEST_F(DriverGroups, ItemCountsAreTheStartUpRowCounts) {
    inventory::driverItemRowCounts = {3, 2, 4, 1};
    GroupRequest r(snmp::kGetNextRequest);
    r.add({5, 4, 3});
    r.add({5, 4, 4, 0});
    EXPECT_EQ(r.run(driverItemCountsGet, {5, 4}), snmp::kNoSuchName);
    EXPECT_EQ(r.binds[0].valueWord, 4u);
    EXPECT_EQ(r.record.errorIndex, 2u);
}

TEST_F(DriverGroups, ItemRowsAreReadFreshOnEveryCall) {
    inventory::driverItemRowCounts = {2, 0, 0, 0};
    auto row = [](std::uint32_t instance) {
        GroupRequest r(snmp::kGetRequest);
        r.add({5, 4, 11, 1, 1, instance});
        r.add({5, 4, 11, 1, 2, instance});
        EXPECT_EQ(r.run(driverItemTable11Get, {5, 4, 11, 1}), snmp::kNoError);
        return std::pair{r.text(0), r.binds[1].valueWord};
    };
    answer(runtime::kIoctlItemTable11, itemList({{"Fan 1", {3400}}, {"Fan 2", {3350}}}));
    EXPECT_EQ(row(1), std::pair(std::string("Fan 2"), 3350u));
    // The driver now returns a shorter answer: nothing of the earlier one shows through.
    answer(runtime::kIoctlItemTable11, itemList({{"F", {7}}}));
    EXPECT_EQ(row(1), std::pair(std::string(), 0u));
    refuse(runtime::kIoctlItemTable11);
    EXPECT_EQ(row(0), std::pair(std::string(), 0u));
}

TEST_F(DriverGroups, Table13MapsInstancesPastAbsentRowsAndServesFourValues) {
    answer(runtime::kIoctlItemTable13, itemList({{"+5V", {5020, 4750, 5250, 5000}},
                                                 {"+12V", {12100, 11400, 12600, 12000}},
                                                 {"Vcore", {2010, 1900, 2100, 2000}}}));
    auto nameOf = [&](std::uint32_t instance) {
        GroupRequest r(snmp::kGetRequest);
        r.add({5, 4, 13, 1, 1, instance});
        EXPECT_EQ(r.run(driverItemTable13Get, {5, 4, 13, 1}), snmp::kNoError);
        return r.text(0);
    };
    inventory::driverItemRowCounts = {0, 0, 2, 0};
    inventory::table13SecondRowAbsent = 1;
    EXPECT_EQ(nameOf(0), "+5V");
    EXPECT_EQ(nameOf(1), "Vcore");

    GroupRequest r(snmp::kGetRequest);
    r.add({5, 4, 13, 1, 5, 1});
    r.add({5, 4, 13, 1, 6, 1});
    EXPECT_EQ(r.run(driverItemTable13Get, {5, 4, 13, 1}), snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 2u);
    EXPECT_EQ(r.binds[0].valueWord, 2000u) << "the fourth value";
}

TEST(ItemList, NamesAreCutAtAValueAndValuesFollowTheWholeName) {
    const std::string longName(395, 'n');
    const auto list = itemList({{longName, {77}}, {"ok", {1}}});
    const ItemRow first = readItemRow(list, 0, 1);
    EXPECT_EQ(first.name, std::string(kItemNameLimit, 'n'));
    EXPECT_EQ(first.values[0], 77u);
    EXPECT_EQ(readItemRow(list, 1, 1).name, "ok");
}

TEST(ItemList, OffsetsAndValuesOutsideTheAnswerAreNotFollowed) {
    auto list = itemList({{"A", {5, 6, 7, 8}}, {"B", {9}}});
    // Row 1 points far past the answer; row 2's offset word is missing.
    list[5] = 0xF0;
    list[6] = 0xFF;
    EXPECT_EQ(readItemRow(list, 1, 1).name, "");
    EXPECT_EQ(readItemRow(list, 1, 1).values[0], 0u);
    EXPECT_EQ(readItemRow(list, 2, 1).name, "");
    EXPECT_EQ(readItemRow(list, 0xFFFFFFFF, 1).name, "");
    // The answer ends inside row 0's third value: it and the fourth read 0.
    const std::vector<std::uint8_t> cut(list.begin(), list.begin() + 9 + 2 + 8 + 2);
    const ItemRow partial = readItemRow(cut, 0, 4);
    EXPECT_EQ(partial.name, "A");
    EXPECT_EQ(partial.values, (std::array<std::uint32_t, 4>{5, 6, 0, 0}));
    // A name without terminator ends with the answer and has no values.
    const std::vector<std::uint8_t> unterminated(list.begin(), list.begin() + 10);
    const ItemRow open = readItemRow(unterminated, 0, 1);
    EXPECT_EQ(open.name, "A");
    EXPECT_EQ(open.values[0], 0u);
}

} // namespace
} // namespace farlink::system
