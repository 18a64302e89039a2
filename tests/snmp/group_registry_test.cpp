#include "adapters/adapter_groups.h"
#include "inventory/dmi_groups.h"
#include "snmp/dispatch.h"
#include "snmp/group_registry.h"
#include "system/contact_group.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <vector>

namespace farlink::snmp {

// Makes a failing record comparison readable.
static void PrintTo(const ColumnRecord& r, std::ostream* os) {
    *os << "{" << r.column << ", " << r.syntax << ", 0x" << std::hex << r.valueTag << std::dec
        << ", " << r.minimum << ", " << r.maximum << ", 0x" << std::hex << r.flags << std::dec
        << "}";
}

static bool operator==(const ColumnRecord& a, const ColumnRecord& b) {
    return a.column == b.column && a.syntax == b.syntax && a.valueTag == b.valueTag &&
           a.minimum == b.minimum && a.maximum == b.maximum && a.flags == b.flags;
}

namespace {

// Sub-identifiers below 1.3.6.1.4.1.32473.25.
using Suffix = std::vector<std::uint32_t>;

constexpr std::array<std::uint32_t, 8> kEnterprise = {1, 3, 6, 1, 4, 1, 32473, 25};
const ColumnRecord kZero{};

std::vector<std::uint32_t> fullOid(const Suffix& suffix) {
    std::vector<std::uint32_t> oid(kEnterprise.begin(), kEnterprise.end());
    oid.insert(oid.end(), suffix.begin(), suffix.end());
    return oid;
}

// The group whose OID is 1.3.6.1.4.1.32473.25 followed by `suffix`; fails the test if none.
const GroupDescriptor& groupAt(const Suffix& suffix) {
    const int g = groupIndexOf(fullOid(suffix));
    EXPECT_GE(g, 0);
    return *groupRegistry[g < 0 ? 0 : g];
}

std::vector<std::uint32_t> oidOf(const GroupDescriptor& group) {
    return {group.oid.begin(), group.oid.begin() + group.oidLength};
}

TEST(GroupRegistry, HoldsFortyNineGroupsThenAnEmptyEntry) {
    ASSERT_EQ(groupRegistry.size(), 50u);
    for (std::size_t g = 0; g < kGroupCount; ++g)
        EXPECT_NE(groupRegistry[g], nullptr) << g;
    EXPECT_EQ(groupRegistry[kGroupCount], nullptr);
}

TEST(GroupRegistry, OidsLieBelowTheEnterpriseAndEndWithAZeroWord) {
    for (std::size_t g = 0; g < kGroupCount; ++g) {
        const GroupDescriptor& group = *groupRegistry[g];
        SCOPED_TRACE(g);
        ASSERT_GE(group.oidLength, 9u);
        ASSERT_LE(group.oidLength, 12u);
        ASSERT_EQ(group.oid.size(), group.oidLength + 1);
        EXPECT_TRUE(std::equal(kEnterprise.begin(), kEnterprise.end(), group.oid.begin()));
        // A prefix comparison that stops at a 0 word must stop exactly at the end.
        EXPECT_EQ(std::find(group.oid.begin(), group.oid.end(), 0u) - group.oid.begin(),
                  static_cast<std::ptrdiff_t>(group.oidLength));
    }
}

TEST(GroupRegistry, OidsStrictlyIncreaseInRegistryOrder) {
    for (std::size_t g = 1; g < kGroupCount; ++g) {
        const auto before = oidOf(*groupRegistry[g - 1]);
        const auto after = oidOf(*groupRegistry[g]);
        EXPECT_TRUE(
            std::lexicographical_compare(before.begin(), before.end(), after.begin(), after.end()))
            << "group " << g - 1 << " does not sort before group " << g;
    }
    EXPECT_EQ(oidOf(*groupRegistry[0]), fullOid({1}));
    EXPECT_EQ(oidOf(*groupRegistry[kGroupCount - 1]), fullOid({7, 2, 1}));
}

TEST(GroupRegistry, ColumnRecordsSitAtTheirOwnNumbers) {
    for (std::size_t g = 0; g < kGroupCount; ++g) {
        const GroupDescriptor& group = *groupRegistry[g];
        SCOPED_TRACE(g);
        ASSERT_EQ(group.columns.size(), group.columnCount + 1);
        EXPECT_EQ(group.columns[0], kZero);
        // The column count is the highest column that exists.
        EXPECT_EQ(group.columns[group.columnCount].column, group.columnCount);
        for (std::uint32_t k = 1; k <= group.columnCount; ++k) {
            const ColumnRecord& r = group.columns[k];
            if (r == kZero) continue;
            EXPECT_EQ(r.column, k);
            EXPECT_EQ(&group.column(k), &r);
        }
    }
}

// Every record carries one of the MIB's column codes, read-write or not.
TEST(GroupRegistry, EveryColumnCarriesAKnownCode) {
    struct Shape {
        std::uint32_t syntax, valueTag, flags;
        bool fixedSize;
    };
    const Shape shapes[] = {
        {1, 0x02, 0x05, false}, {1, 0x02, 0x0D, false}, {1, 0x41, 0x05, false},
        {1, 0x42, 0x05, false}, {5, 0x04, 0x09, false}, {4, 0x04, 0x09, true},
        {3, 0x04, 0x0D, true},  {3, 0x40, 0x05, true},
    };
    for (std::size_t g = 0; g < kGroupCount; ++g) {
        const GroupDescriptor& group = *groupRegistry[g];
        for (std::uint32_t k = 1; k <= group.columnCount; ++k) {
            const ColumnRecord& r = group.columns[k];
            if (r == kZero) continue;
            SCOPED_TRACE(testing::Message() << "group " << g << " column " << k);
            const std::uint32_t flags = r.flags & ~kFlagWritable;
            const auto shape = std::find_if(std::begin(shapes), std::end(shapes), [&](auto& s) {
                return s.syntax == r.syntax && s.valueTag == r.valueTag && s.flags == flags;
            });
            ASSERT_NE(shape, std::end(shapes));
            if (shape->fixedSize) {
                EXPECT_EQ(r.minimum, r.maximum);
            }
            if ((r.flags & kFlagBounded) == 0 && !shape->fixedSize) {
                EXPECT_EQ(r.minimum, 0u);
                EXPECT_EQ(r.maximum, 0u);
            }
            if (r.flags & kFlagBounded) {
                EXPECT_LE(r.minimum, r.maximum);
            }
        }
    }
}

TEST(GroupRegistry, ColumnBeyondTheCountReadsAsAllZero) {
    EXPECT_EQ(groupAt({1}).columnCount, 6u);
    EXPECT_EQ(groupAt({4, 55}).columnCount, 31u);
    const GroupDescriptor& system = groupAt({4});
    EXPECT_EQ(system.columnCount, 61u);
    EXPECT_EQ(system.column(62), kZero);
    EXPECT_EQ(system.column(0xFFFFFFFFu), kZero);
    EXPECT_EQ(system.column(0), kZero);
    const GroupDescriptor empty{};
    EXPECT_EQ(empty.column(1), kZero);
}

// The odometer reads an index record's minimum, maximum and bounded flag: outside .3.5.1 these
// are the ones of the column that carries the instance number.
TEST(GroupRegistry, IndexRecordsStepLikeTheirColumn) {
    const ColumnRecord instance{32766, 1, 0x02, 0, 0, 0x01};
    int tables = 0;
    int instanceTables = 0;
    for (std::size_t g = 0; g < kGroupCount; ++g) {
        const GroupDescriptor& group = *groupRegistry[g];
        SCOPED_TRACE(g);
        ASSERT_LE(group.indexCount, 1u);
        ASSERT_EQ(group.indexRecords.size(), group.indexCount);
        if (group.indexCount == 0) continue;
        ++tables;
        const ColumnRecord& index = group.indexRecords[0];
        EXPECT_EQ(index.valueTag, kTagInteger);
        if (index.column == 32766) {
            EXPECT_EQ(index, instance);
            ++instanceTables;
            continue;
        }
        if (oidOf(group) == fullOid({3, 5, 1})) continue;
        const ColumnRecord& column = group.column(index.column);
        EXPECT_EQ(index.column, column.column);
        EXPECT_EQ(index.minimum, column.minimum);
        EXPECT_EQ(index.maximum, column.maximum);
        EXPECT_EQ(index.flags & kFlagBounded, column.flags & kFlagBounded);
    }
    EXPECT_EQ(tables, 37);
    EXPECT_EQ(instanceTables, 15);
}

struct IndexCase {
    Suffix suffix;
    ColumnRecord index;
};

class GroupIndexRecord : public ::testing::TestWithParam<IndexCase> {};

TEST_P(GroupIndexRecord, MatchesTheMib) {
    const GroupDescriptor& group = groupAt(GetParam().suffix);
    ASSERT_EQ(group.indexCount, 1u);
    EXPECT_EQ(group.indexRecords[0], GetParam().index);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, GroupIndexRecord,
    ::testing::Values(IndexCase{{1, 1, 1}, {1, 1, 0x02, 1, 2, 0x0D}},
                      // Stepped 0 to 8 although its column describes 1 to 9.
                      IndexCase{{3, 5, 1}, {1, 1, 0x02, 0, 8, 0x0D}},
                      IndexCase{{3, 1, 1}, {1, 1, 0x02, 0, 15, 0x0D}},
                      IndexCase{{3, 7, 1}, {1, 1, 0x02, 1, 16, 0x0D}},
                      IndexCase{{4, 18, 1}, {8, 1, 0x02, 0, 0, 0x05}},
                      // Plain integers, although the first column counts or is writable.
                      IndexCase{{2, 5, 1, 1}, {1, 1, 0x02, 0, 0, 0x05}},
                      IndexCase{{2, 5, 6, 1}, {1, 1, 0x02, 0, 0, 0x05}},
                      IndexCase{{4, 55, 52, 1}, {32766, 1, 0x02, 0, 0, 0x01}},
                      IndexCase{{7, 2, 1}, {32766, 1, 0x02, 0, 0, 0x01}}));

struct ColumnCase {
    Suffix suffix;
    std::uint32_t column;
    ColumnRecord record; // all zero for a column the group lacks
};

ColumnCase at(Suffix suffix, ColumnRecord record) {
    return {suffix, record.column, record};
}
ColumnCase missing(Suffix suffix, std::uint32_t column) {
    return {suffix, column, {}};
}

class GroupColumn : public ::testing::TestWithParam<ColumnCase> {};

TEST_P(GroupColumn, MatchesTheMib) {
    const ColumnCase& c = GetParam();
    EXPECT_EQ(groupAt(c.suffix).column(c.column), c.record);
}

INSTANTIATE_TEST_SUITE_P(
    SpotChecks, GroupColumn,
    ::testing::Values(
        // The system group: runs, gaps and every read-write code.
        at({4}, {1, 5, 0x04, 0, 255, 0x09}), at({4}, {17, 5, 0x04, 0, 255, 0x09}), missing({4}, 18),
        at({4}, {19, 5, 0x04, 0, 255, 0x0B}), missing({4}, 21), at({4}, {28, 1, 0x02, 0, 0, 0x07}),
        at({4}, {42, 4, 0x04, 10, 10, 0x0B}), at({4}, {43, 4, 0x04, 10, 10, 0x0B}),
        at({4}, {48, 1, 0x02, 0, 0, 0x07}), missing({4}, 49), at({4}, {52, 3, 0x40, 4, 4, 0x07}),
        at({4}, {58, 4, 0x04, 10, 10, 0x09}), at({4}, {61, 1, 0x02, 0, 0, 0x05}),
        // Other codes, each in a group where a neighbour differs.
        missing({1}, 1), at({1}, {4, 1, 0x02, 0, 7, 0x0D}), at({1, 3, 1}, {4, 1, 0x02, 1, 3, 0x0D}),
        at({1, 5, 1}, {10, 3, 0x04, 4, 4, 0x0D}), at({1, 5, 1}, {11, 5, 0x04, 0, 255, 0x0B}),
        missing({2}, 5), at({2}, {6, 1, 0x02, 0, 0, 0x07}),
        at({2, 5, 1, 1}, {5, 1, 0x41, 0, 0, 0x05}), at({2, 5, 1, 1}, {19, 1, 0x02, 0, 0, 0x05}),
        at({2, 5, 2, 1}, {19, 1, 0x02, 0, 0, 0x07}), at({3}, {6, 1, 0x02, 1, 16, 0x0D}),
        missing({3}, 7), at({3, 5, 1}, {1, 1, 0x02, 1, 9, 0x0D}),
        at({4, 18, 1}, {7, 5, 0x04, 0, 255, 0x0B}), at({4, 18, 1}, {8, 1, 0x02, 0, 0, 0x05}),
        at({4, 23, 1}, {6, 5, 0x04, 0, 64, 0x09}), at({4, 30, 1}, {8, 1, 0x02, 0, 1, 0x0D}),
        at({4, 55, 52, 1}, {5, 4, 0x04, 8, 8, 0x09}), at({4, 57, 1}, {1, 3, 0x40, 4, 4, 0x05}),
        at({4, 65, 2}, {2, 1, 0x02, 0, 0, 0x05}), at({4, 65, 2}, {3, 1, 0x42, 0, 0, 0x05}),
        missing({5}, 4), at({5}, {5, 1, 0x02, 0, 0, 0x05}),
        at({7, 2, 1}, {3, 5, 0x04, 0, 120, 0x0B}), at({7, 2, 1}, {4, 5, 0x04, 0, 40, 0x0B})));

TEST(GroupRegistry, GroupIndexOfFindsExactOidsOnly) {
    for (std::size_t g = 0; g < kGroupCount; ++g)
        EXPECT_EQ(groupIndexOf(oidOf(*groupRegistry[g])), static_cast<int>(g));
    EXPECT_EQ(groupIndexOf(fullOid({4, 18, 1})), 20);
    EXPECT_EQ(groupIndexOf(fullOid({})), -1);
    EXPECT_EQ(groupIndexOf(fullOid({4, 18})), -1);
    EXPECT_EQ(groupIndexOf(fullOid({4, 18, 1, 7})), -1);
    EXPECT_EQ(groupIndexOf(fullOid({4, 18, 1, 0})), -1);
    EXPECT_EQ(groupIndexOf(fullOid({6})), -1);
    EXPECT_EQ(groupIndexOf({}), -1);
}

TEST(GroupRegistry, HandlerEntriesOfTheServedGroups) {
    const HandlerEntry& nic = groupAt({2}).handler;
    EXPECT_EQ(nic.get, &adapters::nicScalarsGet);
    EXPECT_EQ(nic.getNext, &adapters::nicScalarsGet);
    EXPECT_EQ(nic.setTest, &acceptSet);
    EXPECT_EQ(nic.set, &adapters::nicScalarsSet);

    const HandlerEntry& message = groupAt({7}).handler;
    EXPECT_EQ(message.get, &adapters::thresholdMessageGet);
    EXPECT_EQ(message.getNext, &adapters::thresholdMessageGet);
    EXPECT_EQ(message.setTest, nullptr);
    EXPECT_EQ(message.set, nullptr);

    const HandlerEntry& action = groupAt({7, 2, 1}).handler;
    EXPECT_EQ(action.get, &adapters::eventActionGet);
    EXPECT_EQ(action.getNext, &adapters::eventActionGet);
    EXPECT_EQ(action.setTest, &acceptSet);
    EXPECT_EQ(action.set, &adapters::eventActionSet);

    const HandlerEntry& silent = groupAt({4, 23, 1}).handler;
    EXPECT_EQ(silent.get, &answerNothing);
    EXPECT_EQ(silent.getNext, &answerNothing);
    EXPECT_EQ(silent.setTest, nullptr);
    EXPECT_EQ(silent.set, nullptr);

    const HandlerEntry& contacts = groupAt({4, 18, 1}).handler;
    EXPECT_EQ(contacts.get, &system::contactTableGet);
    EXPECT_EQ(contacts.setTest, &acceptSet);
    EXPECT_EQ(contacts.set, &system::contactTableSet);

    const std::pair<Suffix, GroupRoutine> dmi[] = {
        {{4, 55}, inventory::dmiScalarsGet},
        {{4, 55, 52, 1}, inventory::dmiProcessorsGet},
        {{4, 55, 53, 1}, inventory::dmiMemoryModulesGet},
        {{4, 55, 54, 1}, inventory::dmiCachesGet},
        {{4, 55, 55, 1}, inventory::dmiPortConnectorsGet},
        {{4, 55, 56, 1}, inventory::dmiSystemSlotsGet},
        {{4, 55, 57, 1}, inventory::dmiOnBoardDevicesGet},
        {{4, 55, 58, 1}, inventory::dmiOemStringsGet}};
    for (const auto& [suffix, routine] : dmi) {
        const HandlerEntry& h = groupAt(suffix).handler;
        EXPECT_EQ(h.get, routine);
        EXPECT_EQ(h.set, nullptr) << "the DMI groups are read-only";
    }
}

// One routine serves both get and get-next, telling them apart by the PDU type; a set-test
// routine only ever guards a set routine.
TEST(GroupRegistry, HandlerEntriesAreConsistent) {
    for (std::size_t g = 0; g < kGroupCount; ++g) {
        const HandlerEntry& h = groupRegistry[g]->handler;
        SCOPED_TRACE(g);
        EXPECT_EQ(h.get, h.getNext);
        if (h.setTest != nullptr) {
            EXPECT_NE(h.set, nullptr);
        }
    }
}

} // namespace
} // namespace farlink::snmp
