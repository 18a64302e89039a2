#include "adapters/adapter_groups.h"

#include "adapters/nic.h"
#include "runtime/agent_settings.h"
#include "support/group_request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace farlink::adapters {
namespace {

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

TEST_F(AdapterGroups, NicSetAppliesDefaultsToEveryAdapterAndReportsWrongTypeAfterApplying) {
    nicCount.store(2, relaxed);
    GroupRequest r(snmp::kSetRequest);
    r.addInteger({2, 7, 0}, 1234);
    r.addInteger({2, 1, 0}, 5); // the count is read-only
    r.addInteger({2, 6, 0}, 99);
    EXPECT_EQ(r.run(nicScalarsSet, {2}), snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 2u);
    EXPECT_EQ(defaultPackets.load(), 1234u);
    EXPECT_EQ(defaultBytes.load(), 99u);
    EXPECT_EQ(nicThresholds[1][16].load(), 1234u);
    EXPECT_EQ(nicThresholds[1][5].load(), 99u);
    EXPECT_EQ(nicThresholds[2][0].load(), 0u); // not a counted adapter
    EXPECT_EQ(runtime::configChanged.load(), 0u) << "the write-back never holds these";

    // A value of another type still goes in by its value word (here the string's length).
    GroupRequest typed(snmp::kSetRequest);
    typed.addText({2, 8, 0}, "abcd");
    EXPECT_EQ(typed.run(nicScalarsSet, {2}), snmp::kGenErr);
    EXPECT_EQ(typed.record.errorIndex, 1u);
    EXPECT_EQ(defaultFaults.load(), 4u);
    EXPECT_EQ(nicThresholds[1][28].load(), 4u);
}

// The longest message (the longest name, two numbers of eleven characters) goes out whole: cut
// to the 80 bytes of a value it would lose the numbers it is about.
TEST_F(AdapterGroups, ThresholdMessageIsServedWhole) {
    reportExceeded("OID_802_3_XMIT_HEARTBEAT_FAILURE", 4000000000u, 4000000000u);
    const std::string full = thresholdMessage();
    EXPECT_EQ(full, "Threshold of OID_802_3_XMIT_HEARTBEAT_FAILURE exceeded. Threshold limit is "
                    "-294967296, current value is -294967296\n");
    GroupRequest r(snmp::kGetRequest);
    r.add({7, 1, 0});
    EXPECT_EQ(r.run(thresholdMessageGet, {7}), snmp::kNoError);
    EXPECT_EQ(r.binds[0].valueWord, full.size());
    const snmp::VarBind& b = r.binds[0];
    EXPECT_EQ(std::string(b.valueBytes.begin(), b.valueBytes.begin() + b.valueWord), full);
}

// A Program whose length names bytes that never arrived answers badValue and stores nothing; the
// bindings after it still go in, a Pager of 39 characters among them. (80 bytes of Program, and a
// Pager of 40 refused: test_agent_sets.py.)
TEST_F(AdapterGroups, EventTextLongerThanWhatArrivedIsBadValue) {
    GroupRequest r(snmp::kSetRequest);
    r.addText({7, 2, 1, 3, 1}, std::string(80, 'y')).valueWord = 120;
    r.addInteger({7, 2, 1, 2, 1}, 77);
    r.addText({7, 2, 1, 4, 1}, std::string(39, '9'));
    EXPECT_EQ(r.run(eventActionSet, {7, 2, 1}), snmp::kBadValue);
    EXPECT_EQ(r.record.errorIndex, 1u);
    EXPECT_EQ(runtime::agentSettings.events[1].program.get(), "");
    EXPECT_EQ(runtime::agentSettings.events[1].action.load(), 77);
    EXPECT_EQ(runtime::agentSettings.events[1].pager.get(), std::string(39, '9'));
    EXPECT_EQ(runtime::configChanged.load(), 0u) << "the write-back never holds these";
}

TEST_F(AdapterGroups, EventWrongTypeIsReportedAndNotStored) {
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
    EXPECT_EQ(entry.pager.get(), "pager");
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

// Two adapters as discovery leaves them: an Ethernet card without a DMA channel and a Token Ring
// card.
class AdapterTables : public AdapterGroups {
  protected:
    void SetUp() override {
        AdapterGroups::SetUp();
        nicCount.store(2, relaxed);
        NicInfo& eth = nicInfo[0];
        eth.index = 0;
        eth.interruptLevel = 0x10B;
        eth.dmaChannel = 0xFFFFFFFF;
        eth.mediaCode = kMedia8023;
        nicInfo[1].index = 1;
        nicInfo[1].mediaCode = kMedia8025;
        for (int a = 0; a < 2; ++a)
            for (int k = 0; k < kCounterSlots; ++k)
                nicInfo[a].lastCounters[k].store(static_cast<std::uint32_t>(100 * a + k), relaxed);
    }
};

// Every column of both sample cards is checked by test_adapters.py's walk; here what that walk
// cannot show: the interrupt level is the low byte of the record's, a missing DMA channel reads
// 255, and a GET past the last row or column is noSuchName.
TEST_F(AdapterTables, AdapterTableServesTheRecord) {
    GroupRequest r(snmp::kGetRequest);
    r.add({2, 2, 1, 4, 0});
    r.add({2, 2, 1, 5, 0});
    EXPECT_EQ(r.run(adapterTableGet, {2, 2, 1}), snmp::kNoError);
    EXPECT_EQ(r.binds[0].valueWord, 0xFFu);
    EXPECT_EQ(r.binds[1].valueWord, 0x0Bu) << "the low byte of 0x10B";
    for (std::uint32_t column : {1u, 13u}) {
        GroupRequest past(snmp::kGetRequest);
        past.add({2, 2, 1, column, column == 1 ? 2u : 0u});
        EXPECT_EQ(past.run(adapterTableGet, {2, 2, 1}), snmp::kNoSuchName) << column;
    }
}

TEST_F(AdapterTables, WithoutAdaptersTheTablesAreEmpty) {
    nicCount.store(0, relaxed);
    // Walks from each group, as the pipeline hands them over: named by their first column.
    GroupRequest table(snmp::kGetNextRequest), general(snmp::kGetNextRequest),
        thresholds(snmp::kGetNextRequest);
    table.add({2, 2, 1, 1});
    general.add({2, 5, 1, 1, 1});
    thresholds.add({2, 5, 4, 1, 1});
    EXPECT_EQ(table.run(adapterTableGet, {2, 2, 1}), snmp::kNoSuchName);
    EXPECT_EQ(general.run(generalStatisticsGet, {2, 5, 1, 1}), snmp::kNoSuchName);
    EXPECT_EQ(thresholds.run(ethernetThresholdsGet, {2, 5, 4, 1}), snmp::kNoSuchName);
}

// The general table serves every adapter, an 802.x table its own media and noSuchName on column
// 11 (-1 for the other media: test_adapters.py).
TEST_F(AdapterTables, StatisticsTablesServeTheirMedia) {
    GroupRequest general(snmp::kGetRequest);
    general.add({2, 5, 1, 1, 2, 1});
    general.add({2, 5, 1, 1, 19, 0});
    EXPECT_EQ(general.run(generalStatisticsGet, {2, 5, 1, 1}), snmp::kNoError);
    EXPECT_EQ(general.binds[0].valueWord, 101u);
    EXPECT_EQ(general.binds[1].valueWord, 18u);
    nicThresholds[1][28].store(77, relaxed);
    GroupRequest ring(snmp::kGetRequest);
    ring.add({2, 5, 6, 1, 10, 1});
    ring.add({2, 5, 6, 1, 11, 0});
    EXPECT_EQ(ring.run(tokenRingThresholdsGet, {2, 5, 6, 1}), snmp::kNoSuchName);
    EXPECT_EQ(ring.record.errorIndex, 2u);
    EXPECT_EQ(ring.binds[0].valueWord, 77u);
}

// A SET for an adapter that does not exist answers noSuchName there and applies nothing after
// it; a value of the wrong type is applied and answered genErr.
TEST_F(AdapterTables, ThresholdSetStopsAtAMissingAdapter) {
    exceededLatch[0][4].store(1, relaxed);
    GroupRequest r(snmp::kSetRequest);
    r.addInteger({2, 5, 2, 1, 5, 0}, 500);
    r.addInteger({2, 5, 2, 1, 6, 2}, 600); // adapter 2 of 2
    r.addInteger({2, 5, 2, 1, 7, 1}, 700);
    EXPECT_EQ(r.run(generalThresholdsSet, {2, 5, 2, 1}), snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 2u);
    EXPECT_EQ(nicThresholds[0][4].load(), 500u);
    EXPECT_EQ(exceededLatch[0][4].load(), 0);
    EXPECT_EQ(nicThresholds[1][6].load(), 0u);

    GroupRequest typed(snmp::kSetRequest);
    typed.addText({2, 5, 2, 1, 1, 1}, "abc");
    typed.addInteger({2, 5, 2, 1, 2, 1}, 9);
    EXPECT_EQ(typed.run(generalThresholdsSet, {2, 5, 2, 1}), snmp::kGenErr);
    EXPECT_EQ(typed.record.errorIndex, 1u);
    EXPECT_EQ(nicThresholds[1][0].load(), 3u); // the text's length, as its value word
    EXPECT_EQ(nicThresholds[1][1].load(), 9u);
}

} // namespace
} // namespace farlink::adapters
