#include "mib/group_registry.h"

#include "snmp/dispatch.h"

#include <gtest/gtest.h>

#include <vector>

namespace farlink::mib {
namespace {

using namespace farlink::snmp;

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

// The descriptors are expanded from compact rows at compile time, their order checked there. An
// index record must step like the column that carries it, but for .3.5.1 (instances 0 to 8,
// described as 1 to 9) and the unbounded instance number.
TEST(GroupRegistry, EveryGroupIsFoundAndItsIndexMatchesItsColumn) {
    EXPECT_EQ(groupRegistry[kGroupCount], nullptr);
    for (std::size_t g = 0; g < kGroupCount; ++g) {
        SCOPED_TRACE(g);
        ASSERT_NE(groupRegistry[g], nullptr);
        const GroupDescriptor& group = *groupRegistry[g];
        EXPECT_EQ(groupIndexOf(oidOf(group)), static_cast<int>(g));
        ASSERT_LE(group.indexCount, 1u);
        if (group.indexCount == 0) continue;
        const ColumnRecord& index = group.indexRecords[0];
        EXPECT_EQ(index.valueTag, kTagInteger);
        if (index.column == 32766 || oidOf(group) == fullOid({3, 5, 1})) continue;
        const ColumnRecord& column = group.column(index.column);
        EXPECT_EQ(index.column, column.column);
        EXPECT_EQ(index.minimum, column.minimum);
        EXPECT_EQ(index.maximum, column.maximum);
        EXPECT_EQ(index.flags & kFlagBounded, column.flags & kFlagBounded);
    }
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

} // namespace
} // namespace farlink::mib
