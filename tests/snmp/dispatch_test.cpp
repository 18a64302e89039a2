// Group lookup and the common get/get-next form; the get-next odometer is walked end to end.
#include "snmp/dispatch.h"

#include "mib/group_registry.h"

#include <gtest/gtest.h>

#include <vector>

namespace farlink::snmp {
namespace {

using Suffix = std::vector<std::uint32_t>; // below 1.3.6.1.4.1.32473.25

VarBind binding(const Suffix& suffix) {
    VarBind b;
    for (std::uint32_t v : {1u, 3u, 6u, 1u, 4u, 1u, 32473u, 25u})
        b.name.sub[b.name.count++] = v;
    for (std::uint32_t v : suffix)
        b.name.sub[b.name.count++] = v;
    return b;
}

Suffix suffixOf(const Oid& o) {
    return Suffix(o.sub.begin() + 8, o.sub.begin() + o.count);
}

int indexOf(const Suffix& suffix) {
    const Oid o = binding(suffix).name;
    const int index = mib::groupIndexOf(std::span(o.sub.data(), o.count));
    EXPECT_GE(index, 0);
    return index;
}

struct FindCase {
    Suffix name;
    std::uint8_t pduType;
    Suffix group; // empty when no group owns the name
    Suffix after;
};

class FindGroupTest : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindGroupTest, FindsTheOwnerAndRewritesOnlyForGetNext) {
    const FindCase& c = GetParam();
    VarBind b = binding(c.name);
    EXPECT_EQ(findGroup(mib::groups(), b, c.pduType), c.group.empty() ? -1 : indexOf(c.group));
    EXPECT_EQ(suffixOf(b.name), c.after);
    for (std::size_t i = b.name.count; i < kMaxSubIds; ++i)
        EXPECT_EQ(b.name.sub[i], 0u) << "slots past the name read 0";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Lookup, FindGroupTest, ::testing::ValuesIn(std::vector<FindCase>{
    {{2, 3, 0}, kGetRequest, {2}, {2, 3, 0}}, {{7, 2, 1, 2, 10}, kGetRequest, {7, 2, 1}, {7, 2, 1, 2, 10}},
    // Get and set never move to a following group.
    {{}, kGetRequest, {}, {}}, {{2, 1, 0, 5, 6}, kSetRequest, {}, {2, 1, 0, 5, 6}},
    // Get-next of a name between groups starts at the next group's first column.
    {{6}, kGetNextRequest, {7}, {7, 1}}, {{8}, kGetNextRequest, {}, {8}},
    // A longer name leaves nothing behind the rewritten one.
    {{1, 0, 5, 5, 5, 5, 5}, kGetNextRequest, {1, 1, 1}, {1, 1, 1, 1}},
    // .25.6.99 has the shape of an object of the scalar group .25.7 but not its prefix, so the
    // next group that it sorts before takes it.
    {{6, 99}, kGetNextRequest, {7, 2, 1}, {7, 2, 1, 1}}}));
// clang-format on

// A small table group .25.99.1 of three rows for the common form.
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
        for (std::size_t i = 0; i < bindings.size(); ++i)
            record.bindings[i] = &bindings[i];
    }
    std::uint32_t serve(std::uint32_t rows) {
        return serveColumns(record, kTable, 0, record.bindingCount, rows,
                            [](VarBind& b, std::uint32_t c, std::uint32_t x) {
                                if (c > 2) return false;
                                setInteger(b, c * 100 + x);
                                return true;
                            });
    }
};

TEST(ServeColumns, GetOfAMissingRowEndsTheRunWithItsPosition) {
    Request r(kGetRequest,
              {binding({99, 1, 1, 0}), binding({99, 1, 1, 3}), binding({99, 1, 2, 1})});
    EXPECT_EQ(r.serve(3), kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 2u);
    EXPECT_EQ(r.bindings[0].valueWord, 100u);
    EXPECT_EQ(r.bindings[2].valueTag, kTagNull) << "bindings after the missing row are left";

    // Walking rows and columns is covered end to end; a table with no rows has nothing to walk.
    Request empty(kGetNextRequest, {binding({99, 1, 1})});
    EXPECT_EQ(empty.serve(0), kNoSuchName);
    EXPECT_EQ(empty.record.errorIndex, 1u);
}

TEST(ServeColumns, UnservedColumnRecordsTheFirstErrorAndGoesOn) {
    Request r(kGetRequest, {binding({99, 1, 1, 1}), binding({99, 1, 5, 1}), binding({99, 1, 7, 1}),
                            binding({99, 1, 2, 2})});
    EXPECT_EQ(r.serve(3), kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 2u);
    EXPECT_EQ(r.bindings[3].valueWord, 202u);
}

// Routines that record which bindings reached them.
std::vector<std::uint16_t> reached;
std::uint32_t noteRun(RequestRecord&, const GroupDescriptor&, std::uint16_t first,
                      std::uint16_t end) {
    for (std::uint16_t i = first; i < end; ++i)
        reached.push_back(i);
    return 0;
}

// The same table twice: once served read-only by get alone, once with a set routine and column
// 2 writable.
constexpr ColumnRecord kSetColumns[] = {{}, {1, 1, 0x02, 0, 0, 5}, {2, 1, 0x02, 0, 0, 7}};
const GroupDescriptor kGetOnly{
    {noteRun, nullptr, nullptr, nullptr}, 10, kTableOid, 1, kIndex, 2, kColumns};
const GroupDescriptor kSettable{
    {noteRun, noteRun, nullptr, noteRun}, 10, kTableOid, 1, kIndex, 2, kSetColumns};
const GroupDescriptor* const kGroups[] = {&kGetOnly, &kSettable};

TEST(DispatchRun, WhatCannotBeServedOrSetIsRefusedWhereItStands) {
    // Get-next reaches a group without a get-next routine: noSuchName, nothing echoed.
    Request walk(kGetNextRequest, {binding({99, 1, 1}), binding({99, 1, 2})});
    reached.clear();
    dispatchRun(kGroups, walk.record, 0, 0, 2);
    EXPECT_TRUE(reached.empty());
    EXPECT_EQ(walk.record.errorStatus, kNoSuchName);
    EXPECT_EQ(walk.record.errorIndex, 1u);

    // A set of a group without a set routine stores nothing and says so.
    Request readOnly(kSetRequest, {binding({99, 1, 2, 0})});
    reached.clear();
    dispatchRun(kGroups, readOnly.record, 0, 0, 1);
    EXPECT_TRUE(reached.empty());
    EXPECT_EQ(readOnly.record.errorStatus, kNoSuchName);

    // Writable, read-only, writable, writable: the set routine sees only the writable ones, and
    // the error names the read-only binding.
    Request mixed(kSetRequest, {binding({99, 1, 2, 0}), binding({99, 1, 1, 0}),
                                binding({99, 1, 2, 1}), binding({99, 1, 2, 2})});
    reached.clear();
    dispatchRun(kGroups, mixed.record, 1, 0, 4);
    EXPECT_EQ(reached, (std::vector<std::uint16_t>{0, 2, 3}));
    EXPECT_EQ(mixed.record.errorStatus, kNoSuchName);
    EXPECT_EQ(mixed.record.errorIndex, 2u);
}

} // namespace
} // namespace farlink::snmp
