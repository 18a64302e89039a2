#include "adapters/nic.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

namespace farlink::adapters {
namespace {

constexpr auto relaxed = std::memory_order_relaxed;

void clearThresholds() {
    for (auto& slots : nicThresholds)
        for (auto& slot : slots)
            slot.store(0, relaxed);
}

TEST(NicState, StartsWithNoAdaptersUnpolledCountersAndTheDefaults) {
    EXPECT_EQ(nicCount.load(), 0);
    EXPECT_EQ(defaultBytes.load(), 12500000u);
    EXPECT_EQ(defaultPackets.load(), 250000u);
    EXPECT_EQ(defaultFaults.load(), 0xFFFFFFFFu);
    for (const NicInfo& info : nicInfo)
        for (const auto& counter : info.lastCounters)
            EXPECT_EQ(counter.load(), 0xFFFFFFFFu);
}

TEST(ApplyDefault, EachKindWritesExactlyItsSlotsOfOneAdapter) {
    clearThresholds();
    applyPacketsDefault(3, 11);
    applyBytesDefault(3, 22);
    applyFaultsDefault(3, 33);
    const std::set<int> packets = {0, 1, 6, 8, 10, 12, 14, 16};
    const std::set<int> bytes = {5, 7, 9, 11, 13, 15};
    for (int k = 0; k < kCounterSlots; ++k) {
        const std::uint32_t want = packets.count(k) ? 11 : bytes.count(k) ? 22 : 33;
        EXPECT_EQ(nicThresholds[3][k].load(), want) << "slot " << k;
        EXPECT_EQ(slotKind(k), packets.count(k) ? SlotKind::Packets
                               : bytes.count(k) ? SlotKind::Bytes
                                                : SlotKind::Faults)
            << "slot " << k;
    }
    for (int a : {0, 2, 4, 7})
        for (int k = 0; k < kCounterSlots; ++k)
            EXPECT_EQ(nicThresholds[a][k].load(), 0u);
}

TEST(ApplyDefault, AdapterOutOfRangeChangesNothing) {
    clearThresholds();
    applyPacketsDefault(-1, 5);
    applyBytesDefault(kMaxAdapters, 5);
    loadAdapterThresholds(kMaxAdapters, "");
    for (const auto& slots : nicThresholds)
        for (const auto& slot : slots)
            EXPECT_EQ(slot.load(), 0u);
}

std::string fields(std::uint32_t base) {
    std::string out;
    for (int k = 0; k < kCounterSlots; ++k) {
        char field[9];
        std::snprintf(field, sizeof field, "%08x", base + static_cast<std::uint32_t>(k));
        out += field;
    }
    return out;
}

TEST(LoadAdapterThresholds, ShortTextGivesTheDefaults) {
    clearThresholds();
    defaultBytes.store(1, relaxed);
    defaultPackets.store(2, relaxed);
    defaultFaults.store(3, relaxed);
    const std::string text = fields(0xA0).substr(0, 231);
    loadAdapterThresholds(1, text);
    EXPECT_EQ(nicThresholds[1][0].load(), 2u);
    EXPECT_EQ(nicThresholds[1][5].load(), 1u);
    EXPECT_EQ(nicThresholds[1][2].load(), 3u);
    EXPECT_EQ(nicThresholds[1][28].load(), 3u);
}

TEST(LoadAdapterThresholds, FullTextSetsAll29Slots) {
    clearThresholds();
    loadAdapterThresholds(2, fields(0xABCDEF00));
    for (int k = 0; k < kCounterSlots; ++k)
        EXPECT_EQ(nicThresholds[2][k].load(), 0xABCDEF00u + k) << k;
    // Characters after the 29 fields are ignored.
    loadAdapterThresholds(2, fields(0x10) + "FFFFFFFF");
    EXPECT_EQ(nicThresholds[2][28].load(), 0x10u + 28);
}

struct FieldCase {
    const char* label;
    std::string field; // 8 characters
    std::uint32_t value;
};

void PrintTo(const FieldCase& c, std::ostream* os) {
    *os << c.label;
}

class ThresholdField : public ::testing::TestWithParam<FieldCase> {};

// The field under test is slot 3; its neighbours are full of digits, so a parse that runs past
// the field's 8 characters shows in the value.
TEST_P(ThresholdField, ParsedAsHexWithinItsEightCharacters) {
    const FieldCase& c = GetParam();
    ASSERT_EQ(c.field.size(), 8u);
    std::string text(29 * 8, '7');
    text.replace(3 * 8, 8, c.field);
    clearThresholds();
    loadAdapterThresholds(0, text);
    EXPECT_EQ(nicThresholds[0][3].load(), c.value);
    EXPECT_EQ(nicThresholds[0][2].load(), 0x77777777u);
    EXPECT_EQ(nicThresholds[0][4].load(), 0x77777777u);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ThresholdField,
    ::testing::Values(FieldCase{"digits", "0000000A", 10},
                      FieldCase{"mixed_case", "aBcDeF01", 0xABCDEF01},
                      FieldCase{"all_ones", "FFFFFFFF", 0xFFFFFFFF},
                      FieldCase{"leading_blanks", "   1F   ", 0x1F},
                      FieldCase{"trailing_blanks_end_the_number", "12      ", 0x12},
                      FieldCase{"tab_before", "\t\t000042", 0x42},
                      FieldCase{"stops_at_non_hex", "12G45678", 0x12},
                      FieldCase{"no_digits", "ZZZZZZZZ", 0}, FieldCase{"all_blank", "        ", 0},
                      FieldCase{"hex_prefix", "0x1F0000", 0x1F0000},
                      FieldCase{"bare_prefix", "0xZZZZZZ", 0}, FieldCase{"plus", "+0000010", 0x10},
                      FieldCase{"minus", "-0000001", 0xFFFFFFFF}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ThresholdMessage, ReportReplacesTheMessage) {
    reportExceeded("OID_GEN_XMIT_OK", 250001, 250000);
    EXPECT_EQ(thresholdMessage(), "Threshold of OID_GEN_XMIT_OK exceeded. Threshold limit is "
                                  "250000, current value is 250001\n");
    // Numbers go out signed, as the message always showed them.
    reportExceeded("OID_802_3_XMIT_HEARTBEAT_FAILURE", 0x80000000, 0xFFFFFFFF);
    EXPECT_EQ(thresholdMessage(),
              "Threshold of OID_802_3_XMIT_HEARTBEAT_FAILURE exceeded. Threshold limit is -1, "
              "current value is -2147483648\n");
}

TEST(ThresholdMessage, OverlongNameIsCutWithinTheBuffer) {
    const std::string name(400, 'N');
    reportExceeded(name, 1, 2);
    const std::string message = thresholdMessage();
    EXPECT_EQ(message.rfind("Threshold of NNNN", 0), 0u);
    EXPECT_LT(message.size(), 400u);
}

} // namespace
} // namespace farlink::adapters
