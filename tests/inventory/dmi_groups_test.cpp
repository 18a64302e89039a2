#include "inventory/dmi_groups.h"

#include "inventory/dmi.h"
#include "inventory/dmi_builder.h"
#include "snmp/group_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace farlink::inventory {
namespace {

using snmp::VarBind;

const GroupDescriptor& groupOf(std::initializer_list<std::uint32_t> below) {
    std::vector<std::uint32_t> oid = {1, 3, 6, 1, 4, 1, 32473, 25};
    oid.insert(oid.end(), below);
    const int index = snmp::groupIndexOf(oid);
    EXPECT_GE(index, 0);
    return *snmp::groupRegistry[static_cast<std::size_t>(std::max(index, 0))];
}

struct Request {
    RequestRecord record;
    std::array<VarBind, snmp::kMaxBindings> binds{};

    explicit Request(std::uint8_t pduType) {
        record.pduType = pduType;
        for (std::size_t i = 0; i < binds.size(); ++i)
            record.bindings[i] = &binds[i];
    }
    VarBind& add(std::initializer_list<std::uint32_t> below) {
        VarBind& b = binds[record.bindingCount++];
        std::vector<std::uint32_t> name = {1, 3, 6, 1, 4, 1, 32473, 25};
        name.insert(name.end(), below);
        std::copy(name.begin(), name.end(), b.name.sub.begin());
        b.name.count = static_cast<std::uint16_t>(name.size());
        return b;
    }
    std::uint16_t end() const { return record.bindingCount; }
};

std::string textOf(const VarBind& b) {
    EXPECT_EQ(b.valueTag, snmp::kTagOctetString);
    return std::string(b.valueBytes.begin(),
                       b.valueBytes.begin() + std::min<std::uint32_t>(b.valueWord, 80));
}

std::vector<std::uint32_t> below(const VarBind& b) {
    return std::vector<std::uint32_t>(b.name.sub.begin() + 8, b.name.sub.begin() + b.name.count);
}

// Two processors, a BIOS, three slots; no OEM strings. The table outlives the test, as the
// driver's answer outlives the agent's start-up.
class DmiGroups : public ::testing::Test {
  protected:
    void SetUp() override {
        resetDmi();
        table = testing::DmiBuilder()
                    .bios(0x90, {"Vendor", "4.51 PG", "04/15/99"})
                    .processor(3, 11, 450, 0x52)
                    .processor(3, 11, 433, 0x52)
                    .add(9, {1, 6, 5, 4, 4, 1, 0, 6}, {"PCI1"})
                    .add(9, {1, 6, 5, 3, 4, 2, 0, 6}, {"PCI2"})
                    .add(9, {1, 3, 4, 3, 4, 0, 0, 2}, {"ISA1"})
                    .end()
                    .bytes;
        ASSERT_NE(parseDmiTable(table.data(), table.size()), 0u);
    }

    std::vector<std::uint8_t> table;
};

TEST_F(DmiGroups, ProcessorGetNextStepsInstanceThenColumn) {
    const GroupDescriptor& g = groupOf({4, 55, 52, 1});
    Request r(snmp::kGetNextRequest);
    r.add({4, 55, 52, 1, 1, 0});
    r.add({4, 55, 52, 1, 1, 1});
    r.add({4, 55, 52, 1, 10, 0});
    EXPECT_EQ(dmiProcessorsGet(r.record, g, 0, r.end()), snmp::kNoError);
    EXPECT_EQ(below(r.binds[0]), (std::vector<std::uint32_t>{4, 55, 52, 1, 1, 1}));
    EXPECT_EQ(textOf(r.binds[0]), "Socket");
    EXPECT_EQ(below(r.binds[1]), (std::vector<std::uint32_t>{4, 55, 52, 1, 2, 0}));
    EXPECT_EQ(r.binds[1].valueTag, snmp::kTagInteger);
    EXPECT_EQ(r.binds[1].valueWord, 3u);
    EXPECT_EQ(below(r.binds[2]), (std::vector<std::uint32_t>{4, 55, 52, 1, 10, 1}));
    EXPECT_EQ(r.binds[2].valueWord, 433u);
}

TEST_F(DmiGroups, ProcessorWalkVisitsEveryCellAndEndsInTheGroup) {
    const GroupDescriptor& g = groupOf({4, 55, 52, 1});
    Request r(snmp::kGetNextRequest);
    VarBind& b = r.add({4, 55, 52, 1, 1});
    std::vector<std::pair<std::uint32_t, std::uint32_t>> seen;
    for (int step = 0; step < 30; ++step) {
        r.record.errorStatus = 0;
        if (dmiProcessorsGet(r.record, g, 0, 1) != snmp::kNoError) break;
        seen.emplace_back(b.name.sub[12], b.name.sub[13]);
    }
    ASSERT_EQ(seen.size(), 24u);
    EXPECT_EQ(seen.front(), std::make_pair(1u, 0u));
    EXPECT_EQ(seen.back(), std::make_pair(12u, 1u));
    EXPECT_EQ(r.record.errorStatus, snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 1u);
}

TEST_F(DmiGroups, ProcessorIdAnswersAnEmptyString) {
    const GroupDescriptor& g = groupOf({4, 55, 52, 1});
    Request r(snmp::kGetRequest);
    r.add({4, 55, 52, 1, 5, 0});
    r.add({4, 55, 52, 1, 6, 1}); // a version text the structure does not carry
    EXPECT_EQ(dmiProcessorsGet(r.record, g, 0, r.end()), snmp::kNoError);
    EXPECT_EQ(r.binds[0].valueTag, snmp::kTagOctetString);
    EXPECT_EQ(r.binds[0].valueWord, 0u);
    EXPECT_EQ(r.binds[1].valueTag, snmp::kTagOctetString);
    EXPECT_EQ(r.binds[1].valueWord, 0u);
}

TEST_F(DmiGroups, UnservedColumnAnswersNoSuchNameAndTheRunGoesOn) {
    const GroupDescriptor& g = groupOf({4, 55, 52, 1});
    Request r(snmp::kGetRequest);
    r.add({4, 55, 52, 1, 9, 0});
    r.add({4, 55, 52, 1, 13, 0});
    r.add({4, 55, 52, 1, 0, 1});
    r.add({4, 55, 52, 1, 4, 1});
    EXPECT_EQ(dmiProcessorsGet(r.record, g, 0, r.end()), snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 2u); // the first error stands
    EXPECT_EQ(r.binds[0].valueWord, 500u);
    EXPECT_EQ(textOf(r.binds[3]), "Maker");
}

TEST_F(DmiGroups, InstancePastTheRowsEndsTheRun) {
    const GroupDescriptor& g = groupOf({4, 55, 56, 1});
    Request r(snmp::kGetRequest);
    r.add({4, 55, 56, 1, 1, 2});
    r.add({4, 55, 56, 1, 1, 3});
    r.add({4, 55, 56, 1, 1, 0});
    EXPECT_EQ(dmiSystemSlotsGet(r.record, g, 0, r.end()), snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 2u);
    EXPECT_EQ(textOf(r.binds[0]), "ISA1");
    EXPECT_EQ(r.binds[2].valueTag, snmp::kTagNull); // never reached
}

TEST_F(DmiGroups, EmptyTableAnswersNoSuchName) {
    const GroupDescriptor& g = groupOf({4, 55, 58, 1});
    Request get(snmp::kGetRequest);
    get.add({4, 55, 58, 1, 1, 0});
    EXPECT_EQ(dmiOemStringsGet(get.record, g, 0, get.end()), snmp::kNoSuchName);
    EXPECT_EQ(get.record.errorIndex, 1u);

    Request next(snmp::kGetNextRequest);
    next.add({4, 55, 58, 1, 1});
    EXPECT_EQ(dmiOemStringsGet(next.record, g, 0, next.end()), snmp::kNoSuchName);
}

TEST_F(DmiGroups, ScalarsAnswerTextsNumbersAndRowCounts) {
    const GroupDescriptor& g = groupOf({4, 55});
    Request r(snmp::kGetRequest);
    r.add({4, 55, 1, 0});
    r.add({4, 55, 3, 0});
    r.add({4, 55, 25, 0});
    r.add({4, 55, 29, 0});
    r.add({4, 55, 31, 0});
    r.add({4, 55, 8, 0}); // no system structure: an empty text
    EXPECT_EQ(dmiScalarsGet(r.record, g, 0, r.end()), snmp::kNoError);
    EXPECT_EQ(textOf(r.binds[0]), "Vendor");
    EXPECT_EQ(r.binds[1].valueTag, snmp::kTagInteger);
    EXPECT_EQ(r.binds[1].valueWord, 0xE000u);
    EXPECT_EQ(r.binds[2].valueWord, 2u);
    EXPECT_EQ(r.binds[3].valueWord, 3u);
    EXPECT_EQ(r.binds[4].valueWord, 0u);
    EXPECT_EQ(r.binds[5].valueTag, snmp::kTagOctetString);
    EXPECT_EQ(r.binds[5].valueWord, 0u);
}

TEST_F(DmiGroups, ScalarsBeyondTheGroupAnswerNoSuchName) {
    const GroupDescriptor& g = groupOf({4, 55});
    Request r(snmp::kGetRequest);
    r.add({4, 55, 32, 0});
    r.add({4, 55, 2, 0});
    EXPECT_EQ(dmiScalarsGet(r.record, g, 0, r.end()), snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 1u);
    EXPECT_EQ(textOf(r.binds[1]), "4.51 PG");

    // Get-next on a column gives its instance 0; past column 31 there is nothing.
    Request next(snmp::kGetNextRequest);
    next.add({4, 55, 26});
    next.add({4, 55, 32});
    EXPECT_EQ(dmiScalarsGet(next.record, g, 0, next.end()), snmp::kNoSuchName);
    EXPECT_EQ(next.record.errorIndex, 2u);
    EXPECT_EQ(below(next.binds[0]), (std::vector<std::uint32_t>{4, 55, 26, 0}));
    EXPECT_EQ(next.binds[0].valueTag, snmp::kTagInteger);
    EXPECT_EQ(next.binds[0].valueWord, 0u);
}

TEST_F(DmiGroups, LongTextIsCutToTheValueBytes) {
    resetDmi();
    const std::string longText(120, 'x');
    table = testing::DmiBuilder().add(11, {1}, {longText, "short"}).end().bytes;
    ASSERT_NE(parseDmiTable(table.data(), table.size()), 0u);
    const GroupDescriptor& g = groupOf({4, 55, 58, 1});
    Request r(snmp::kGetRequest);
    r.add({4, 55, 58, 1, 1, 0});
    r.add({4, 55, 58, 1, 1, 1});
    EXPECT_EQ(dmiOemStringsGet(r.record, g, 0, r.end()), snmp::kNoError);
    EXPECT_EQ(textOf(r.binds[0]), std::string(80, 'x'));
    EXPECT_EQ(textOf(r.binds[1]), "short");
}

// Each table serves its own records with its own width.
struct TableCase {
    std::vector<std::uint32_t> group;
    snmp::GroupRoutine routine;
    std::uint32_t lastColumn;
};

class DmiTableWidths : public ::testing::TestWithParam<TableCase> {
  protected:
    void SetUp() override { resetDmi(); }
    std::vector<std::uint8_t> table;
};

TEST_P(DmiTableWidths, LastColumnAnsweredAndTheNextRefused) {
    table = testing::DmiBuilder()
                .processor(3, 11, 450, 0x52)
                .module(0x0F, 6)
                .cache(0x0180, 16)
                .port(15, 13)
                .add(9, {1, 6, 5, 4, 4, 1, 0, 6}, {"PCI1"})
                .add(10, {0x83, 1}, {"Video"})
                .add(11, {1}, {"OEM"})
                .end()
                .bytes;
    ASSERT_NE(parseDmiTable(table.data(), table.size()), 0u);
    const TableCase& c = GetParam();
    const GroupDescriptor& g = groupOf({4, 55, c.group[0], c.group[1]});
    Request r(snmp::kGetRequest);
    r.add({4, 55, c.group[0], c.group[1], c.lastColumn, 0});
    r.add({4, 55, c.group[0], c.group[1], c.lastColumn + 1, 0});
    EXPECT_EQ(c.routine(r.record, g, 0, r.end()), snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 2u);
    EXPECT_NE(r.binds[0].valueTag, snmp::kTagNull);
}

INSTANTIATE_TEST_SUITE_P(Tables, DmiTableWidths,
                         ::testing::Values(TableCase{{52, 1}, dmiProcessorsGet, 12},
                                           TableCase{{53, 1}, dmiMemoryModulesGet, 7},
                                           TableCase{{54, 1}, dmiCachesGet, 6},
                                           TableCase{{55, 1}, dmiPortConnectorsGet, 5},
                                           TableCase{{56, 1}, dmiSystemSlotsGet, 7},
                                           TableCase{{57, 1}, dmiOnBoardDevicesGet, 2},
                                           TableCase{{58, 1}, dmiOemStringsGet, 1}));

} // namespace
} // namespace farlink::inventory
