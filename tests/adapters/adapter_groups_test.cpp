#include "adapters/adapter_groups.h"

#include "adapters/nic.h"
#include "runtime/agent_settings.h"
#include "support/group_request.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace farlink::adapters {
namespace {

using snmp::VarBind;

constexpr auto relaxed = std::memory_order_relaxed;

using testing::GroupRequest;

// Each case starts from the state of a fresh agent, also when the cases share one process.
class AdapterGroups : public ::testing::Test {
  protected:
    void SetUp() override {
        nicCount.store(0, relaxed);
        defaultBytes.store(12500000, relaxed);
        defaultPackets.store(250000, relaxed);
        defaultFaults.store(0xFFFFFFFF, relaxed);
        for (auto& slots : nicThresholds)
            for (auto& slot : slots)
                slot.store(0, relaxed);
        const runtime::AgentSettings builtIn;
        for (std::size_t i = 0; i < runtime::kEventEntries; ++i) {
            runtime::agentSettings.events[i].action.store(builtIn.events[i].action.load(), relaxed);
            runtime::agentSettings.events[i].program.set("");
            runtime::agentSettings.events[i].pager.set("");
        }
        runtime::configChanged.store(0, relaxed);
    }
};

TEST_F(AdapterGroups, NicScalarsServeCountAndDefaults) {
    nicCount.store(3, relaxed);
    GroupRequest r(snmp::kGetRequest);
    for (std::uint32_t column : {1, 2, 6, 7, 8}) // 2 is a column the group does not serve
        r.add({2, column, 0});
    EXPECT_EQ(r.run(nicScalarsGet, {2}), snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 2u);
    const std::uint32_t want[] = {3, 0, 12500000, 250000, 0xFFFFFFFF};
    for (int i : {0, 2, 3, 4}) {
        EXPECT_EQ(r.binds[i].valueTag, snmp::kTagInteger) << i;
        EXPECT_EQ(r.binds[i].valueWord, want[i]) << i;
    }
}

TEST_F(AdapterGroups, NicSetAppliesDefaultsToEveryAdapterAndReportsWrongTypeAfterApplying) {
    nicCount.store(2, relaxed);
    GroupRequest r(snmp::kSetRequest);
    r.addInteger({2, 7, 0}, 1234);
    r.addInteger({2, 1, 0}, 5); // the count is read-only
    r.addInteger({2, 6, 0}, 99);
    EXPECT_EQ(r.run(nicScalarsSet, {2}), snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 2u);
    EXPECT_EQ(nicCount.load(), 2);
    EXPECT_EQ(defaultPackets.load(), 1234u);
    EXPECT_EQ(defaultBytes.load(), 99u);
    for (int a = 0; a < 2; ++a)
        for (int k : {0, 1, 6, 8, 10, 12, 14, 16})
            EXPECT_EQ(nicThresholds[a][k].load(), 1234u);
    EXPECT_EQ(nicThresholds[1][5].load(), 99u);
    EXPECT_EQ(nicThresholds[1][2].load(), 0u); // a fault slot
    EXPECT_EQ(nicThresholds[2][0].load(), 0u); // not a counted adapter
    EXPECT_EQ(runtime::configChanged.load(), 1u);

    // A value of another type still goes in by its value word (here the string's length).
    GroupRequest typed(snmp::kSetRequest);
    typed.addText({2, 8, 0}, "abcd");
    EXPECT_EQ(typed.run(nicScalarsSet, {2}), snmp::kGenErr);
    EXPECT_EQ(typed.record.errorIndex, 1u);
    EXPECT_EQ(defaultFaults.load(), 4u);
    EXPECT_EQ(nicThresholds[1][28].load(), 4u);
}

TEST_F(AdapterGroups, ThresholdMessageIsCutToTheValueBytes) {
    reportExceeded("OID_802_3_XMIT_HEARTBEAT_FAILURE", 4000000000u, 4000000000u);
    const std::string full = thresholdMessage();
    ASSERT_GT(full.size(), 80u);
    GroupRequest r(snmp::kGetRequest);
    r.add({7, 1, 0});
    EXPECT_EQ(r.run(thresholdMessageGet, {7}), snmp::kNoError);
    EXPECT_EQ(r.binds[0].valueWord, 80u);
    EXPECT_EQ(r.text(0), full.substr(0, 80));
}

TEST_F(AdapterGroups, EventWalkGives11RowsOf4ColumnsThenNoSuchName) {
    runtime::agentSettings.events[4].program.set("run.exe");
    runtime::agentSettings.events[9].pager.set("555-0100");
    GroupRequest r(snmp::kGetNextRequest);
    // As the pipeline hands over a name that sorts before the group: its first column.
    VarBind& b = r.add({7, 2, 1, 1});
    std::vector<std::vector<std::uint32_t>> names;
    while (names.size() < 60 && r.run(eventActionGet, {7, 2, 1}) == snmp::kNoError) {
        names.emplace_back(b.name.sub.begin() + 8, b.name.sub.begin() + b.name.count);
        ASSERT_EQ(names.back().size(), 5u);
        const std::uint32_t column = names.back()[3];
        const std::uint32_t row = names.back()[4];
        const runtime::EventEntry& e = runtime::agentSettings.events.at(row);
        if (column == 1 || column == 2)
            EXPECT_EQ(b.valueWord, column == 1 ? row + 1 : std::uint32_t(e.action.load()));
        else
            EXPECT_EQ(r.text(0), column == 3 ? e.program.get() : e.pager.get());
    }
    ASSERT_EQ(names.size(), 44u);
    EXPECT_TRUE(std::adjacent_find(names.begin(), names.end(), std::greater_equal<>()) ==
                names.end()); // strictly increasing
    EXPECT_EQ(names.front(), (std::vector<std::uint32_t>{7, 2, 1, 1, 0}));
    EXPECT_EQ(names.back(), (std::vector<std::uint32_t>{7, 2, 1, 4, 10}));
    EXPECT_EQ(r.record.errorStatus, snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 1u);
}

// A Program of all 80 bytes that arrive and a Pager of 39 characters fit; a Pager of 40, or a
// Program whose length names bytes that never arrived, answers badValue and stores nothing.
TEST_F(AdapterGroups, EventTextsAreStoredWholeOrAnswerBadValue) {
    const runtime::EventEntry& e = runtime::agentSettings.events[1];
    GroupRequest fit(snmp::kSetRequest);
    fit.addText({7, 2, 1, 3, 1}, std::string(80, 'p'));
    fit.addText({7, 2, 1, 4, 1}, std::string(39, '9'));
    EXPECT_EQ(fit.run(eventActionSet, {7, 2, 1}), snmp::kNoError);
    EXPECT_EQ(e.program.get(), std::string(80, 'p'));
    EXPECT_EQ(e.pager.get(), std::string(39, '9'));

    GroupRequest r(snmp::kSetRequest);
    r.addText({7, 2, 1, 4, 1}, std::string(40, 'x'));
    r.addText({7, 2, 1, 3, 1}, std::string(80, 'y')).valueWord = 120;
    r.addInteger({7, 2, 1, 2, 1}, 77);
    EXPECT_EQ(r.run(eventActionSet, {7, 2, 1}), snmp::kBadValue);
    EXPECT_EQ(r.record.errorIndex, 1u);
    EXPECT_EQ(e.pager.get(), std::string(39, '9'));
    EXPECT_EQ(e.program.get(), std::string(80, 'p'));
    EXPECT_EQ(e.action.load(), 77);
    EXPECT_EQ(runtime::configChanged.load(), 1u);
}

TEST_F(AdapterGroups, EventWrongTypeOrColumnIsReportedAndNotStored) {
    GroupRequest r(snmp::kSetRequest);
    r.addText({7, 2, 1, 2, 5}, "1234");
    r.addInteger({7, 2, 1, 3, 5}, 3);
    r.addInteger({7, 2, 1, 1, 5}, 50);
    r.addText({7, 2, 1, 4, 5}, "pager");
    EXPECT_EQ(r.run(eventActionSet, {7, 2, 1}), snmp::kGenErr);
    EXPECT_EQ(r.record.errorIndex, 1u);
    const runtime::EventEntry& entry = runtime::agentSettings.events[5];
    EXPECT_EQ(entry.action.load(), 0x00010006);
    EXPECT_EQ(entry.program.get(), "");
    EXPECT_EQ(entry.number, 6u);
    EXPECT_EQ(entry.pager.get(), "pager");

    GroupRequest column(snmp::kSetRequest);
    column.addInteger({7, 2, 1, 5, 0}, 1);
    EXPECT_EQ(column.run(eventActionSet, {7, 2, 1}), snmp::kNoSuchName);
    EXPECT_EQ(column.record.errorIndex, 1u);
}

TEST_F(AdapterGroups, EventMissingRowEndsTheSetAtOnce) {
    GroupRequest r(snmp::kSetRequest);
    r.addInteger({7, 2, 1, 5, 0}, 1); // noSuchName first ...
    r.addInteger({7, 2, 1, 2, 0}, 100);
    r.addInteger({7, 2, 1, 2, 11}, 200); // ... but a missing row ends the run with its own
    r.addInteger({7, 2, 1, 2, 1}, 300);
    EXPECT_EQ(r.run(eventActionSet, {7, 2, 1}), snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 3u);
    EXPECT_EQ(runtime::agentSettings.events[0].action.load(), 100);
    EXPECT_EQ(runtime::agentSettings.events[1].action.load(), 0x00030006);
    EXPECT_EQ(runtime::configChanged.load(), 0u);
}

} // namespace
} // namespace farlink::adapters
