#include "adapters/adapter_groups.h"
#include "inventory/dmi_groups.h"
#include "snmp/dispatch.h"
#include "snmp/group_registry.h"
#include "system/contact_group.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

namespace farlink::snmp {
namespace {

constexpr std::array<std::uint32_t, 8> kEnterprise = {1, 3, 6, 1, 4, 1, 32473, 25};

std::vector<std::uint32_t> fullOid(const std::vector<std::uint32_t>& suffix) {
    std::vector<std::uint32_t> oid(kEnterprise.begin(), kEnterprise.end());
    oid.insert(oid.end(), suffix.begin(), suffix.end());
    return oid;
}

std::vector<std::uint32_t> oidOf(const GroupDescriptor& group) {
    return {group.oid.begin(), group.oid.begin() + group.oidLength};
}

bool isZero(const ColumnRecord& r) {
    return r.column == 0 && r.syntax == 0 && r.valueTag == 0 && r.minimum == 0 && r.maximum == 0 &&
           r.flags == 0;
}

// The descriptors are expanded from compact rows at compile time; this checks what the lookup
// and the odometer read from them.
TEST(GroupRegistry, FortyNineWellFormedGroupsInAscendingOrder) {
    ASSERT_EQ(groupRegistry.size(), 50u);
    EXPECT_EQ(groupRegistry[kGroupCount], nullptr);
    for (std::size_t g = 0; g < kGroupCount; ++g) {
        SCOPED_TRACE(g);
        ASSERT_NE(groupRegistry[g], nullptr);
        const GroupDescriptor& group = *groupRegistry[g];
        ASSERT_GE(group.oidLength, 9u);
        ASSERT_EQ(group.oid.size(), group.oidLength + 1);
        EXPECT_TRUE(std::equal(kEnterprise.begin(), kEnterprise.end(), group.oid.begin()));
        // A prefix comparison that stops at a 0 word must stop exactly at the end.
        EXPECT_EQ(std::find(group.oid.begin(), group.oid.end(), 0u) - group.oid.begin(),
                  static_cast<std::ptrdiff_t>(group.oidLength));
        if (g > 0) {
            const auto before = oidOf(*groupRegistry[g - 1]);
            const auto after = oidOf(group);
            EXPECT_TRUE(std::lexicographical_compare(before.begin(), before.end(), after.begin(),
                                                     after.end()));
        }
        EXPECT_EQ(groupIndexOf(oidOf(group)), static_cast<int>(g));

        ASSERT_EQ(group.columns.size(), group.columnCount + 1);
        EXPECT_TRUE(isZero(group.columns[0]));
        EXPECT_EQ(group.columns[group.columnCount].column, group.columnCount);
        for (std::uint32_t k = 1; k <= group.columnCount; ++k) {
            if (!isZero(group.columns[k])) {
                EXPECT_EQ(group.columns[k].column, k);
            }
        }

        // An index record steps like the column that carries it, but for .3.5.1 (instances 0 to
        // 8, described as 1 to 9) and the unbounded instance number.
        ASSERT_LE(group.indexCount, 1u);
        ASSERT_EQ(group.indexRecords.size(), group.indexCount);
        if (group.indexCount == 0) continue;
        const ColumnRecord& index = group.indexRecords[0];
        EXPECT_EQ(index.valueTag, kTagInteger);
        if (index.column == 32766) {
            EXPECT_TRUE(index.syntax == 1 && index.minimum == 0 && index.maximum == 0 &&
                        index.flags == kFlagPresent);
            continue;
        }
        const ColumnRecord& column = group.column(index.column);
        EXPECT_EQ(index.column, column.column);
        if (oidOf(group) == fullOid({3, 5, 1})) continue;
        EXPECT_EQ(index.minimum, column.minimum);
        EXPECT_EQ(index.maximum, column.maximum);
        EXPECT_EQ(index.flags & kFlagBounded, column.flags & kFlagBounded);
    }
    EXPECT_EQ(oidOf(*groupRegistry[0]), fullOid({1}));
    EXPECT_EQ(oidOf(*groupRegistry[kGroupCount - 1]), fullOid({7, 2, 1}));
}

TEST(GroupRegistry, LookupsOutsideTheTablesFindNothing) {
    for (const auto& suffix :
         std::vector<std::vector<std::uint32_t>>{{}, {4, 18}, {4, 18, 1, 7}, {4, 18, 1, 0}, {6}})
        EXPECT_EQ(groupIndexOf(fullOid(suffix)), -1);
    EXPECT_EQ(groupIndexOf({}), -1);

    const GroupDescriptor& system = *groupRegistry[groupIndexOf(fullOid({4}))];
    EXPECT_EQ(system.columnCount, 61u);
    EXPECT_TRUE(isZero(system.column(62)));
    EXPECT_TRUE(isZero(system.column(0xFFFFFFFFu)));
    EXPECT_TRUE(isZero(system.column(0)));
    EXPECT_TRUE(isZero(GroupDescriptor{}.column(1)));
}

// The wiring of the groups that have routines: one routine serves get and get-next, and a set
// routine is guarded by the accepting set-test.
TEST(GroupRegistry, ServedGroupsCarryTheirOwnRoutines) {
    using namespace adapters;
    using namespace inventory;
    const std::tuple<std::vector<std::uint32_t>, GroupRoutine, GroupRoutine> cases[] = {
        {{2}, nicScalarsGet, nicScalarsSet},
        {{7}, thresholdMessageGet, nullptr},
        {{7, 2, 1}, eventActionGet, eventActionSet},
        {{4, 23, 1}, answerNothing, nullptr},
        {{4, 18, 1}, system::contactTableGet, system::contactTableSet},
        {{4, 55}, dmiScalarsGet, nullptr},
        {{4, 55, 52, 1}, dmiProcessorsGet, nullptr},
        {{4, 55, 53, 1}, dmiMemoryModulesGet, nullptr},
        {{4, 55, 54, 1}, dmiCachesGet, nullptr},
        {{4, 55, 55, 1}, dmiPortConnectorsGet, nullptr},
        {{4, 55, 56, 1}, dmiSystemSlotsGet, nullptr},
        {{4, 55, 57, 1}, dmiOnBoardDevicesGet, nullptr},
        {{4, 55, 58, 1}, dmiOemStringsGet, nullptr},
    };
    for (const auto& [suffix, get, set] : cases) {
        const int g = groupIndexOf(fullOid(suffix));
        ASSERT_GE(g, 0);
        const HandlerEntry& h = groupRegistry[g]->handler;
        SCOPED_TRACE(g);
        EXPECT_EQ(h.get, get);
        EXPECT_EQ(h.getNext, get);
        EXPECT_EQ(h.setTest, set == nullptr ? nullptr : &acceptSet);
        EXPECT_EQ(h.set, set);
    }
}

} // namespace
} // namespace farlink::snmp
