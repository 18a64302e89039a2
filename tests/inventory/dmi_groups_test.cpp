#include "inventory/dmi_groups.h"

#include "inventory/dmi.h"
#include "inventory/dmi_builder.h"
#include "support/group_request.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace farlink::inventory {
namespace {

using testing::GroupRequest;

// Adds bindings named below .25, each with a NULL value.
void addAll(GroupRequest& r, std::initializer_list<std::initializer_list<std::uint32_t>> names) {
    for (const auto& name : names)
        r.add(name);
}

// A row in every table: two processors, three slots, two OEM texts. The
// table outlives the test, as the driver's answer outlives the agent's start-up.
class DmiGroups : public ::testing::Test {
  protected:
    void SetUp() override {
        resetDmi();
        table = testing::DmiBuilder()
                    .bios(0x90, {"Vendor", "4.51 PG", "04/15/99"})
                    .processor(3, 11, 450, 0x52)
                    .processor(3, 11, 433, 0x52)
                    .module(0x0F, 6)
                    .cache(0x0180, 16)
                    .port(15, 13)
                    .add(9, {1, 6, 5, 4, 4, 1, 0, 6}, {"PCI1"})
                    .add(9, {1, 6, 5, 3, 4, 2, 0, 6}, {"PCI2"})
                    .add(9, {1, 3, 4, 3, 4, 0, 0, 2}, {"ISA1"})
                    .add(10, {0x83, 1}, {"Video"})
                    .add(11, {2}, {std::string(120, 'x'), "short"})
                    .end()
                    .bytes;
        ASSERT_NE(parseDmiTable(table.data(), table.size()), 0u);
    }

    std::vector<std::uint8_t> table;
};

TEST_F(DmiGroups, InstancePastTheRowsEndsTheRun) {
    GroupRequest r(snmp::kGetRequest);
    addAll(r, {{4, 55, 56, 1, 1, 2}, {4, 55, 56, 1, 1, 3}, {4, 55, 56, 1, 1, 0}});
    EXPECT_EQ(r.run(dmiSystemSlotsGet, {4, 55, 56, 1}), snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 2u);
    EXPECT_EQ(r.text(0), "ISA1");
    EXPECT_EQ(r.binds[2].valueTag, snmp::kTagNull); // never reached
}

// Each table's last column answers, the next does not.
TEST_F(DmiGroups, EachTableAnswersUpToItsLastColumn) {
    const std::pair<snmp::GroupRoutine, std::uint32_t> tables[] = {
        {dmiProcessorsGet, 12},    {dmiMemoryModulesGet, 7}, {dmiCachesGet, 6},
        {dmiPortConnectorsGet, 5}, {dmiSystemSlotsGet, 7},   {dmiOnBoardDevicesGet, 2},
        {dmiOemStringsGet, 1}};
    for (std::uint32_t group = 52; group <= 58; ++group) {
        const auto [routine, last] = tables[group - 52];
        GroupRequest r(snmp::kGetRequest);
        addAll(r, {{4, 55, group, 1, last, 0}, {4, 55, group, 1, last + 1, 0}});
        EXPECT_EQ(r.run(routine, {4, 55, group, 1}), snmp::kNoSuchName) << group;
        EXPECT_EQ(r.record.errorIndex, 2u) << group;
        EXPECT_NE(r.binds[0].valueTag, snmp::kTagNull) << group;
    }
}

} // namespace
} // namespace farlink::inventory
