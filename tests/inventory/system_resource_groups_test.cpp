#include "inventory/system_resource_groups.h"

#include "inventory/dmi_builder.h"
#include "inventory/eisa.h"
#include "support/group_request.h"
#include "support/test_data.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace farlink::inventory {
namespace {

using testing::GroupRequest;
using testing::putSummaryWord;

// A keyboard, a serial port, a floppy, a video card with a window above 4 GiB and a sound card;
// two memory modules of size codes 3 and 13.
class SystemResourceGroups : public ::testing::Test {
  protected:
    testing::TempProfileDir dir;
    testing::ScopedEnv machine{"FARLINK_MACHINE", dir.path()};

    void SetUp() override {
        std::filesystem::create_directories(dir.path() + "/registry");
        dir.write("registry/10-resourcemap.reg",
                  testing::dataText("inventory/system-resources.reg"));
        resetDmi();
        putSummaryWord(392, 2);
        dmiSummary[396 + 1] = 3;
        dmiSummary[400 + 1] = 13; // codes count modulo 8
        eisaSlots = {};
    }
};

TEST_F(SystemResourceGroups, ScalarGroupCountsRangesAndServesTheSummaryFields) {
    putSummaryWord(300, 0x12345678);
    std::memset(dmiSummary.data() + 308, 'a', 24); // full fields without a terminator
    std::memset(dmiSummary.data() + 332, 'b', 28);
    std::memcpy(dmiSummary.data() + 360, "short", 6);
    dmiSummary[304] = dmiSummary[305] = 0x55;
    GroupRequest r(snmp::kGetRequest);
    for (std::uint32_t column : {3, 14, 6, 8, 9, 10, 11, 12, 13, 7})
        r.add({3, column, 0});
    EXPECT_EQ(r.run(systemResourcesGet, {3}), snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 10u);
    EXPECT_EQ(r.binds[1].valueWord, 2u); // the window above 4 GiB is not counted
    EXPECT_EQ(r.binds[3].valueWord, 0x12345678u);
    EXPECT_EQ(r.text(6), std::string(24, 'a'));
    EXPECT_EQ(r.text(7), std::string(28, 'b'));
    EXPECT_EQ(r.text(8), "short");

    // The version bytes are the start-up's to write, not a request's.
    EXPECT_EQ(dmiSummary[304], 0x55);
    recordResourceGroupVersion();
    EXPECT_EQ(dmiSummary[304], 1);
    EXPECT_EQ(dmiSummary[305], 0);
}

TEST_F(SystemResourceGroups, OwnerTablesAnswerOwnersPlaceholdersAndNoSlotBeyond) {
    GroupRequest irq(snmp::kGetRequest);
    for (const auto& [column, level] :
         std::vector<std::pair<std::uint32_t, std::uint32_t>>{{2, 16}, {3, 1}, {2, 17}, {2, 1}})
        irq.add({3, 1, 1, column, level});
    EXPECT_EQ(irq.run(interruptOwnersGet, {3, 1, 1}), snmp::kNoSuchName);
    EXPECT_EQ(irq.record.errorIndex, 3u); // level 17 ends the run
    EXPECT_EQ(irq.text(0), "Audio");
    EXPECT_EQ(irq.binds[3].valueTag, snmp::kTagNull);

    GroupRequest channel(snmp::kGetRequest);
    for (std::uint32_t x : {2u, 15u, 16u})
        channel.add({3, 2, 1, 2, x});
    EXPECT_EQ(channel.run(dmaOwnersGet, {3, 2, 1}), snmp::kNoSuchName);
    EXPECT_EQ(channel.record.errorIndex, 3u);
    EXPECT_EQ(channel.text(1), std::string("None", 5));
}

TEST_F(SystemResourceGroups, TablesServeTheirRowsAndNothingPastThem) {
    GroupRequest ports(snmp::kGetRequest);
    for (std::uint32_t column : {1, 2, 3, 4, 5})
        ports.add({3, 4, 1, column, 1});
    ports.add({3, 4, 1, 2, 3});
    EXPECT_EQ(ports.run(portRangesGet, {3, 4, 1}), snmp::kNoSuchName);
    EXPECT_EQ(ports.record.errorIndex, 6u);
    EXPECT_EQ(ports.binds[1].valueWord, 0x3F8u);
    EXPECT_EQ(ports.text(3), "Serial");

    eisaSlots[15] = {16, 5, {}};
    GroupRequest slots(snmp::kGetRequest);
    slots.add({3, 5, 1, 1, 0});
    slots.add({3, 5, 1, 2, 15});
    slots.add({3, 5, 1, 3, 15});
    slots.add({3, 5, 1, 1, 16});
    EXPECT_EQ(slots.run(eisaSlotsGet, {3, 5, 1}), snmp::kNoSuchName);
    EXPECT_EQ(slots.record.errorIndex, 4u);
    EXPECT_EQ(slots.binds[1].valueWord, 5u);
}

TEST_F(SystemResourceGroups, ModuleRowsRunFrom1ToTheCountKeptTo16) {
    GroupRequest modules(snmp::kGetRequest);
    modules.add({3, 7, 1, 2, 1});
    modules.add({3, 7, 1, 2, 2});
    modules.add({3, 7, 1, 2, 0});
    EXPECT_EQ(modules.run(moduleSizesGet, {3, 7, 1}), snmp::kNoSuchName);
    EXPECT_EQ(modules.record.errorIndex, 3u);
    EXPECT_EQ(modules.text(1), " 32M") << "size codes count modulo 8";

    // A ready record from the driver may count anything.
    for (const auto& [stored, rows] :
         {std::pair<std::uint32_t, std::uint32_t>{0xFFFFFFFF, 0}, {2, 2}, {40, 16}}) {
        putSummaryWord(392, stored);
        GroupRequest count(snmp::kGetRequest);
        count.add({3, 6, 0});
        count.run(systemResourcesGet, {3});
        EXPECT_EQ(count.binds[0].valueWord, rows);
        GroupRequest past(snmp::kGetRequest);
        past.add({3, 7, 1, 1, rows + 1});
        EXPECT_EQ(past.run(moduleSizesGet, {3, 7, 1}), snmp::kNoSuchName);
    }
}

} // namespace
} // namespace farlink::inventory
