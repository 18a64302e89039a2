#include "adapters/adapter_groups.h"

#include "adapters/nic.h"
#include "config/agent_settings.h"
#include "snmp/group_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

namespace farlink::adapters {
namespace {

using snmp::VarBind;

constexpr auto relaxed = std::memory_order_relaxed;

const GroupDescriptor& groupOf(std::initializer_list<std::uint32_t> below) {
    std::vector<std::uint32_t> oid = {1, 3, 6, 1, 4, 1, 32473, 25};
    oid.insert(oid.end(), below);
    const int index = snmp::groupIndexOf(oid);
    EXPECT_GE(index, 0);
    return *snmp::groupRegistry[static_cast<std::size_t>(std::max(index, 0))];
}

const GroupDescriptor& nicScalars() {
    return groupOf({2});
}
const GroupDescriptor& messageGroup() {
    return groupOf({7});
}
const GroupDescriptor& eventTable() {
    return groupOf({7, 2, 1});
}

// A request record with its bindings, named below 1.3.6.1.4.1.32473.25.
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
    VarBind& addInteger(std::initializer_list<std::uint32_t> below, std::uint32_t value) {
        VarBind& b = add(below);
        b.valueTag = snmp::kTagInteger;
        b.valueWord = value;
        return b;
    }
    VarBind& addText(std::initializer_list<std::uint32_t> below, std::string_view text) {
        VarBind& b = add(below);
        b.valueTag = snmp::kTagOctetString;
        b.valueWord = static_cast<std::uint32_t>(text.size());
        std::copy_n(text.begin(), std::min(text.size(), b.valueBytes.size()), b.valueBytes.begin());
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
        const config::AgentSettings builtIn;
        for (std::size_t i = 0; i < config::kEventEntries; ++i) {
            config::agentSettings.events[i].action.store(builtIn.events[i].action.load(), relaxed);
            config::agentSettings.events[i].program.set("");
            config::agentSettings.events[i].pager.set("");
        }
        config::configChanged.store(0, relaxed);
    }
};
class NicScalars : public AdapterGroups {};
class ThresholdMessageGroup : public AdapterGroups {};
class EventActionTable : public AdapterGroups {};

// ---- NIC scalars (.2) ----

TEST_F(NicScalars, GetServesCountAndDefaults) {
    Request r(snmp::kGetRequest);
    r.add({2, 1, 0});
    r.add({2, 2, 0}); // a column the group does not serve
    r.add({2, 6, 0});
    r.add({2, 7, 0});
    r.add({2, 8, 0});
    EXPECT_EQ(nicScalarsGet(r.record, nicScalars(), 0, r.end()), snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 2u);
    const std::uint32_t want[] = {0, 0, 12500000, 250000, 0xFFFFFFFF};
    for (int i : {0, 2, 3, 4}) {
        EXPECT_EQ(r.binds[i].valueTag, snmp::kTagInteger) << i;
        EXPECT_EQ(r.binds[i].valueWord, want[i]) << i;
    }

    nicCount.store(3, relaxed);
    Request again(snmp::kGetRequest);
    again.add({2, 1, 0});
    nicScalarsGet(again.record, nicScalars(), 0, again.end());
    EXPECT_EQ(again.binds[0].valueWord, 3u);
}

TEST_F(NicScalars, GetNextStepsToInstanceZeroThenEnds) {
    Request r(snmp::kGetNextRequest);
    r.add({2, 8});
    nicScalarsGet(r.record, nicScalars(), 0, r.end());
    EXPECT_EQ(r.record.errorStatus, 0u);
    EXPECT_EQ(below(r.binds[0]), (std::vector<std::uint32_t>{2, 8, 0}));
    EXPECT_EQ(r.binds[0].valueWord, 0xFFFFFFFFu);

    nicScalarsGet(r.record, nicScalars(), 0, r.end());
    EXPECT_EQ(r.record.errorStatus, snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 1u);
}

TEST_F(NicScalars, SetStoresTheDefaultAndAppliesItToEveryAdapter) {
    nicCount.store(2, relaxed);
    Request r(snmp::kSetRequest);
    r.addInteger({2, 7, 0}, 1234);
    r.addInteger({2, 6, 0}, 99);
    EXPECT_EQ(nicScalarsSet(r.record, nicScalars(), 0, r.end()), 0u);
    EXPECT_EQ(defaultPackets.load(), 1234u);
    EXPECT_EQ(defaultBytes.load(), 99u);
    for (int a = 0; a < 2; ++a)
        for (int k : {0, 1, 6, 8, 10, 12, 14, 16})
            EXPECT_EQ(nicThresholds[a][k].load(), 1234u);
    EXPECT_EQ(nicThresholds[1][5].load(), 99u);
    EXPECT_EQ(nicThresholds[1][2].load(), 0u); // a fault slot
    EXPECT_EQ(nicThresholds[2][0].load(), 0u); // not a counted adapter
    EXPECT_EQ(config::configChanged.load(), 1u);
}

TEST_F(NicScalars, SetReportsWrongTypeAndUnknownColumnButAppliesTheRest) {
    nicCount.store(1, relaxed);
    Request r(snmp::kSetRequest);
    r.addInteger({2, 1, 0}, 5); // the count is read-only
    VarBind& faults = r.addText({2, 8, 0}, "abcd");
    EXPECT_EQ(nicScalarsSet(r.record, nicScalars(), 0, r.end()), snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 1u);
    EXPECT_EQ(nicCount.load(), 1);
    // The string's value word still goes in as the number.
    EXPECT_EQ(defaultFaults.load(), faults.valueWord);
    EXPECT_EQ(nicThresholds[0][28].load(), faults.valueWord);

    Request typed(snmp::kSetRequest);
    typed.addText({2, 6, 0}, "xy");
    EXPECT_EQ(nicScalarsSet(typed.record, nicScalars(), 0, typed.end()), snmp::kGenErr);
    EXPECT_EQ(typed.record.errorIndex, 1u);
    EXPECT_EQ(defaultBytes.load(), 2u);
    EXPECT_EQ(config::configChanged.load(), 1u);
}

// ---- Threshold message (.7) ----

TEST_F(ThresholdMessageGroup, ServesTheMessageCutToTheValueBytes) {
    Request empty(snmp::kGetRequest);
    empty.add({7, 1, 0});
    EXPECT_EQ(thresholdMessageGet(empty.record, messageGroup(), 0, empty.end()), 0u);
    EXPECT_EQ(textOf(empty.binds[0]), "");

    reportExceeded("OID_GEN_RCV_OK", 7, 3);
    Request r(snmp::kGetNextRequest);
    r.add({7, 1});
    thresholdMessageGet(r.record, messageGroup(), 0, r.end());
    EXPECT_EQ(below(r.binds[0]), (std::vector<std::uint32_t>{7, 1, 0}));
    EXPECT_EQ(textOf(r.binds[0]),
              "Threshold of OID_GEN_RCV_OK exceeded. Threshold limit is 3, current value is 7\n");

    reportExceeded("OID_802_3_XMIT_HEARTBEAT_FAILURE", 4000000000u, 4000000000u);
    const std::string full = thresholdMessage();
    ASSERT_GT(full.size(), 80u);
    Request longer(snmp::kGetRequest);
    longer.add({7, 1, 0});
    thresholdMessageGet(longer.record, messageGroup(), 0, longer.end());
    EXPECT_EQ(longer.binds[0].valueWord, 80u);
    EXPECT_EQ(textOf(longer.binds[0]), full.substr(0, 80));

    Request other(snmp::kGetRequest);
    other.add({7, 2, 0});
    EXPECT_EQ(thresholdMessageGet(other.record, messageGroup(), 0, other.end()), snmp::kNoSuchName);
}

// ---- Event action table (.7.2.1) ----

TEST_F(EventActionTable, WalkGives11RowsOf4ColumnsThenNoSuchName) {
    config::agentSettings.events[4].program.set("run.exe");
    config::agentSettings.events[9].pager.set("555-0100");
    Request r(snmp::kGetNextRequest);
    // As the pipeline hands over a name that sorts before the group: its first column.
    VarBind& b = r.add({7, 2, 1, 1});
    std::vector<std::vector<std::uint32_t>> names;
    for (int guard = 0; guard < 60 && r.record.errorStatus == 0; ++guard) {
        eventActionGet(r.record, eventTable(), 0, r.end());
        if (r.record.errorStatus != 0) break;
        const std::vector<std::uint32_t> name = below(b);
        ASSERT_EQ(name.size(), 5u);
        const std::uint32_t column = name[3];
        const std::uint32_t row = name[4];
        const config::EventEntry& entry = config::agentSettings.events.at(row);
        switch (column) {
        case 1:
            EXPECT_EQ(b.valueWord, row + 1);
            break;
        case 2:
            EXPECT_EQ(b.valueWord, static_cast<std::uint32_t>(entry.action.load()));
            break;
        case 3:
            EXPECT_EQ(textOf(b), entry.program.get());
            break;
        case 4:
            EXPECT_EQ(textOf(b), entry.pager.get());
            break;
        default:
            ADD_FAILURE() << "column " << column;
        }
        if (!names.empty()) {
            EXPECT_LT(names.back(), name);
        }
        names.push_back(name);
    }
    ASSERT_EQ(names.size(), 44u);
    EXPECT_EQ(names.front(), (std::vector<std::uint32_t>{7, 2, 1, 1, 0}));
    EXPECT_EQ(names.back(), (std::vector<std::uint32_t>{7, 2, 1, 4, 10}));
    EXPECT_EQ(r.record.errorStatus, snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 1u);
}

TEST_F(EventActionTable, SetThenGetShowsTheNewValues) {
    Request set(snmp::kSetRequest);
    set.addInteger({7, 2, 1, 2, 3}, 0x00020006);
    set.addText({7, 2, 1, 3, 0}, "C:\\bin\\page.exe");
    set.addText({7, 2, 1, 4, 10}, std::string(39, '9'));
    set.addText({7, 2, 1, 3, 1}, std::string(80, 'p'));
    EXPECT_EQ(eventActionSet(set.record, eventTable(), 0, set.end()), 0u);
    EXPECT_EQ(config::configChanged.load(), 1u);

    Request get(snmp::kGetRequest);
    get.add({7, 2, 1, 2, 3});
    get.add({7, 2, 1, 3, 0});
    get.add({7, 2, 1, 4, 10});
    get.add({7, 2, 1, 3, 1});
    EXPECT_EQ(eventActionGet(get.record, eventTable(), 0, get.end()), 0u);
    EXPECT_EQ(get.binds[0].valueWord, 0x00020006u);
    EXPECT_EQ(textOf(get.binds[1]), "C:\\bin\\page.exe");
    EXPECT_EQ(textOf(get.binds[2]), std::string(39, '9'));
    EXPECT_EQ(textOf(get.binds[3]), std::string(80, 'p'));
}

TEST_F(EventActionTable, OverlongTextAnswersBadValueAndChangesNothing) {
    config::agentSettings.events[0].program.set("old.exe");
    config::agentSettings.events[0].pager.set("old");
    Request r(snmp::kSetRequest);
    r.addText({7, 2, 1, 4, 0}, std::string(40, 'x'));
    VarBind& program = r.addText({7, 2, 1, 3, 0}, std::string(80, 'y'));
    program.valueWord = 120; // as long as the field with no room for its terminator
    r.addInteger({7, 2, 1, 2, 0}, 77);
    EXPECT_EQ(eventActionSet(r.record, eventTable(), 0, r.end()), snmp::kBadValue);
    EXPECT_EQ(r.record.errorIndex, 1u);
    EXPECT_EQ(config::agentSettings.events[0].pager.get(), "old");
    EXPECT_EQ(config::agentSettings.events[0].program.get(), "old.exe");
    EXPECT_EQ(config::agentSettings.events[0].action.load(), 77);
    EXPECT_EQ(config::configChanged.load(), 1u);
}

TEST_F(EventActionTable, WrongTypeOrColumnIsReportedAndNotStored) {
    Request r(snmp::kSetRequest);
    r.addText({7, 2, 1, 2, 5}, "1234");
    r.addInteger({7, 2, 1, 3, 5}, 3);
    r.addInteger({7, 2, 1, 1, 5}, 50);
    r.addText({7, 2, 1, 4, 5}, "pager");
    EXPECT_EQ(eventActionSet(r.record, eventTable(), 0, r.end()), snmp::kGenErr);
    EXPECT_EQ(r.record.errorIndex, 1u);
    const config::EventEntry& entry = config::agentSettings.events[5];
    EXPECT_EQ(entry.action.load(), 0x00010006);
    EXPECT_EQ(entry.program.get(), "");
    EXPECT_EQ(entry.number, 6u);
    EXPECT_EQ(entry.pager.get(), "pager");

    Request column(snmp::kSetRequest);
    column.addInteger({7, 2, 1, 5, 0}, 1);
    EXPECT_EQ(eventActionSet(column.record, eventTable(), 0, column.end()), snmp::kNoSuchName);
    EXPECT_EQ(column.record.errorIndex, 1u);
}

TEST_F(EventActionTable, MissingRowEndsTheSetAtOnce) {
    Request r(snmp::kSetRequest);
    r.addInteger({7, 2, 1, 5, 0}, 1); // noSuchName first ...
    r.addInteger({7, 2, 1, 2, 0}, 100);
    r.addInteger({7, 2, 1, 2, 11}, 200); // ... but a missing row ends the run with its own
    r.addInteger({7, 2, 1, 2, 1}, 300);
    EXPECT_EQ(eventActionSet(r.record, eventTable(), 0, r.end()), snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 3u);
    EXPECT_EQ(config::agentSettings.events[0].action.load(), 100);
    EXPECT_EQ(config::agentSettings.events[1].action.load(), 0x00030006);
    EXPECT_EQ(config::configChanged.load(), 0u);
}

} // namespace
} // namespace farlink::adapters
