// Group lookup, the get-next odometer and the common get/get-next form.
#include "snmp/dispatch.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace farlink::snmp {
namespace {

constexpr std::uint32_t kPrefix[] = {1, 3, 6, 1, 4, 1, 32473, 25};

Oid oid(std::initializer_list<std::uint32_t> suffix) {
    Oid o;
    for (std::uint32_t v : kPrefix) o.sub[o.count++] = v;
    for (std::uint32_t v : suffix) o.sub[o.count++] = v;
    return o;
}

VarBind binding(std::initializer_list<std::uint32_t> suffix) {
    VarBind b;
    b.name = oid(suffix);
    return b;
}

std::vector<std::uint32_t> suffixOf(const Oid& o) {
    return std::vector<std::uint32_t>(o.sub.begin() + 8, o.sub.begin() + o.count);
}

int indexOf(std::initializer_list<std::uint32_t> suffix) {
    const Oid o = oid(suffix);
    const int index = groupIndexOf(std::span(o.sub.data(), o.count));
    EXPECT_GE(index, 0);
    return index;
}

const GroupDescriptor& groupAt(std::initializer_list<std::uint32_t> suffix) {
    return *groupRegistry[indexOf(suffix)];
}

TEST(StepInstance, ScalarGroupGivesInstanceZeroOnceThenEnds) {
    const GroupDescriptor& nic = groupAt({2});
    VarBind b = binding({2, 6});
    EXPECT_EQ(stepInstance(b, nic), 0u);
    EXPECT_EQ(suffixOf(b.name), (std::vector<std::uint32_t>{2, 6, 0}));
    EXPECT_EQ(stepInstance(b, nic), 2u);
    EXPECT_EQ(suffixOf(b.name), (std::vector<std::uint32_t>{2, 6, 0}));
}

TEST(StepInstance, BoundedIndexWrapsToItsMinimumAndSignalsTheEnd) {
    const GroupDescriptor& table = groupAt({1, 1, 1}); // instances 1..2
    VarBind b = binding({1, 1, 1, 2});
    EXPECT_EQ(stepInstance(b, table), 0u);
    EXPECT_EQ(suffixOf(b.name), (std::vector<std::uint32_t>{1, 1, 1, 2, 1}));
    EXPECT_EQ(stepInstance(b, table), 0u);
    EXPECT_EQ(suffixOf(b.name), (std::vector<std::uint32_t>{1, 1, 1, 2, 2}));
    EXPECT_EQ(stepInstance(b, table), 2u);
    EXPECT_EQ(suffixOf(b.name), (std::vector<std::uint32_t>{1, 1, 1, 2, 1}));
}

TEST(StepInstance, UnboundedIndexStartsAtZeroAndCountsUp) {
    const GroupDescriptor& events = groupAt({7, 2, 1});
    VarBind b = binding({7, 2, 1, 3});
    EXPECT_EQ(stepInstance(b, events), 0u);
    EXPECT_EQ(suffixOf(b.name), (std::vector<std::uint32_t>{7, 2, 1, 3, 0}));
    b.name.sub[b.name.count - 1] = 4000;
    EXPECT_EQ(stepInstance(b, events), 0u);
    EXPECT_EQ(b.name.sub[b.name.count - 1], 4001u);
}

TEST(FindGroup, ObjectShapesFindTheirGroupWithOrWithoutTrailingZero) {
    const int nic = indexOf({2});
    for (auto suffix : {std::vector<std::uint32_t>{2, 3}, {2, 3, 0}}) {
        VarBind b;
        b.name = oid({});
        for (auto v : suffix) b.name.sub[b.name.count++] = v;
        EXPECT_EQ(findGroup(b, kGetRequest), nic);
    }
    VarBind row = binding({7, 2, 1, 2, 10});
    EXPECT_EQ(findGroup(row, kGetRequest), indexOf({7, 2, 1}));
}

TEST(FindGroup, GetAndSetDoNotMoveToAFollowingGroup) {
    VarBind beforeEverything = binding({});
    EXPECT_EQ(findGroup(beforeEverything, kGetRequest), -1);
    VarBind tooDeep = binding({2, 1, 0, 5, 6});
    EXPECT_EQ(findGroup(tooDeep, kSetRequest), -1);
    EXPECT_EQ(suffixOf(tooDeep.name), (std::vector<std::uint32_t>{2, 1, 0, 5, 6}));
}

TEST(FindGroup, GetNextOfAPrefixMovesToTheFirstGroupsFirstColumn) {
    VarBind b = binding({});
    EXPECT_EQ(findGroup(b, kGetNextRequest), 0);
    EXPECT_EQ(suffixOf(b.name), (std::vector<std::uint32_t>{1, 1}));

    VarBind table = binding({7, 2, 1});
    EXPECT_EQ(findGroup(table, kGetNextRequest), indexOf({7, 2, 1}));
    EXPECT_EQ(suffixOf(table.name), (std::vector<std::uint32_t>{7, 2, 1, 1}));
    EXPECT_EQ(table.name.sub[table.name.count], 0u) << "slots past the name read 0";
}

TEST(FindGroup, GetNextOfANameBetweenGroupsMovesToTheNextGroup) {
    // .25.6 lies between .25.5.4.14.1 and .25.7.
    VarBind b = binding({6});
    EXPECT_EQ(findGroup(b, kGetNextRequest), indexOf({7}));
    EXPECT_EQ(suffixOf(b.name), (std::vector<std::uint32_t>{7, 1}));
    VarBind past = binding({8});
    EXPECT_EQ(findGroup(past, kGetNextRequest), -1);
}

TEST(FindGroup, AGroupWhoseShapeFitsButPrefixDiffersIsPassedOver) {
    // .25.6.99 has the shape of an object of the scalar group .25.7, so .25.7 is not taken
    // for it even though it sorts after; the next group that sorts after it is.
    VarBind b = binding({6, 99});
    EXPECT_EQ(findGroup(b, kGetNextRequest), indexOf({7, 2, 1}));
}

// A small table group of three rows for the common form.
constexpr std::uint32_t kTableOid[] = {1, 3, 6, 1, 4, 1, 32473, 25, 99, 1, 0};
constexpr ColumnRecord kIndex[] = {{32766, 1, 0x02, 0, 0, 0x01}};
constexpr ColumnRecord kColumns[] = {{}, {1, 1, 0x02, 0, 0, 5}, {2, 1, 0x02, 0, 0, 5}};
const GroupDescriptor kTable{{}, 10, kTableOid, 1, kIndex, 2, kColumns};

struct Request {
    RequestRecord record;
    std::vector<VarBind> bindings;
    Request(std::uint8_t type, std::vector<VarBind> list) : bindings(std::move(list)) {
        record.pduType = type;
        record.bindingCount = static_cast<std::uint16_t>(bindings.size());
        for (std::size_t i = 0; i < bindings.size(); ++i) record.bindings[i] = &bindings[i];
    }
    std::uint32_t serve(std::uint32_t rows) {
        return serveColumns(record, kTable, 0, record.bindingCount,
                            rows, [](VarBind& b, std::uint32_t c, std::uint32_t x) {
                                if (c > 2) return false;
                                setInteger(b, c * 100 + x);
                                return true;
                            });
    }
};

VarBind tableBinding(std::initializer_list<std::uint32_t> rest) {
    VarBind b;
    for (std::uint32_t i = 0; i < 10; ++i) b.name.sub[b.name.count++] = kTableOid[i];
    for (std::uint32_t v : rest) b.name.sub[b.name.count++] = v;
    return b;
}

TEST(ServeColumns, GetNextWalksRowsThenTheNextColumnThenEnds) {
    std::vector<std::uint32_t> seen;
    VarBind b = tableBinding({1});
    for (int step = 0; step < 10; ++step) {
        Request r(kGetNextRequest, {b});
        const std::uint32_t status = r.serve(3);
        if (status != 0) {
            EXPECT_EQ(status, kNoSuchName);
            EXPECT_EQ(r.record.errorIndex, 1u);
            break;
        }
        b = r.bindings[0];
        seen.push_back(b.valueWord);
    }
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{100, 101, 102, 200, 201, 202}));
}

TEST(ServeColumns, GetOfAMissingRowEndsTheRunWithItsPosition) {
    Request r(kGetRequest, {tableBinding({1, 0}), tableBinding({1, 3}), tableBinding({2, 1})});
    EXPECT_EQ(r.serve(3), kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 2u);
    EXPECT_EQ(r.bindings[0].valueWord, 100u);
    EXPECT_EQ(r.bindings[2].valueTag, kTagNull) << "bindings after the missing row are left";
}

TEST(ServeColumns, UnservedColumnRecordsTheFirstErrorAndGoesOn) {
    Request r(kGetRequest, {tableBinding({1, 1}), tableBinding({5, 1}), tableBinding({7, 1}),
                            tableBinding({2, 2})});
    EXPECT_EQ(r.serve(3), kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 2u);
    EXPECT_EQ(r.bindings[3].valueWord, 202u);
}

TEST(ServeColumns, GetNextOnAnEmptyTableAnswersNoSuchName) {
    Request r(kGetNextRequest, {tableBinding({1})});
    EXPECT_EQ(r.serve(0), kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 1u);
}

} // namespace
} // namespace farlink::snmp
