#include "adapters/nic.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>

namespace farlink::adapters {
namespace {

constexpr auto relaxed = std::memory_order_relaxed;

void clearThresholds() {
    for (auto& slots : nicThresholds)
        for (auto& slot : slots)
            slot.store(0, relaxed);
}

TEST(LoadAdapterThresholds, AdapterOutOfRangeChangesNothing) {
    clearThresholds();
    applyPacketsDefault(-1, 5);
    applyBytesDefault(kMaxAdapters, 5);
    loadAdapterThresholds(kMaxAdapters, "");
    for (const auto& slots : nicThresholds)
        for (const auto& slot : slots)
            EXPECT_EQ(slot.load(), 0u);
}

// 231 characters are one short of 29 fields of 8: the adapter takes the three defaults. From
// 232 on every field is read, and what follows the 29 fields is ignored.
TEST(LoadAdapterThresholds, TextOf232CharactersSetsAll29SlotsAShorterOneTheDefaults) {
    std::string text;
    for (int k = 0; k < kCounterSlots; ++k) {
        char field[9];
        std::snprintf(field, sizeof field, "%08x", 0xABCDEF00u + static_cast<std::uint32_t>(k));
        text += field;
    }
    clearThresholds();
    defaultBytes.store(1, relaxed);
    defaultPackets.store(2, relaxed);
    defaultFaults.store(3, relaxed);
    loadAdapterThresholds(1, text.substr(0, 231));
    EXPECT_EQ(nicThresholds[1][0].load(), 2u);
    EXPECT_EQ(nicThresholds[1][5].load(), 1u);
    EXPECT_EQ(nicThresholds[1][2].load(), 3u);
    EXPECT_EQ(nicThresholds[1][28].load(), 3u);

    loadAdapterThresholds(2, text);
    for (int k = 0; k < kCounterSlots; ++k)
        EXPECT_EQ(nicThresholds[2][k].load(), 0xABCDEF00u + k) << k;
    loadAdapterThresholds(3, text + "FFFFFFFF");
    EXPECT_EQ(nicThresholds[3][28].load(), 0xABCDEF00u + 28);
}

// Each field is read as hexadecimal within its own 8 characters: the field under test is slot 3
// and its neighbours are full of digits, so a parse that runs past the field shows in the value.
TEST(LoadAdapterThresholds, FieldIsParsedAsHexWithinItsEightCharacters) {
    const std::pair<const char*, std::uint32_t> cases[] = {
        {"aBcDeF01", 0xABCDEF01}, {" \t 1F   ", 0x1F}, {"12G45678", 0x12},      {"        ", 0},
        {"0x1F0000", 0x1F0000},   {"+0000010", 0x10},  {"-0000001", 0xFFFFFFFF}};
    for (const auto& [field, value] : cases) {
        std::string text(29 * 8, '7');
        text.replace(3 * 8, 8, field);
        clearThresholds();
        loadAdapterThresholds(0, text);
        EXPECT_EQ(nicThresholds[0][3].load(), value) << field;
        EXPECT_EQ(nicThresholds[0][2].load(), 0x77777777u) << field;
        EXPECT_EQ(nicThresholds[0][4].load(), 0x77777777u) << field;
    }
}

TEST(ThresholdMessage, OverlongNameIsCutWithinTheBuffer) {
    reportExceeded(std::string(400, 'N'), 1, 2);
    const std::string message = thresholdMessage();
    EXPECT_EQ(message.rfind("Threshold of NNNN", 0), 0u);
    EXPECT_LT(message.size(), 400u);
}

} // namespace
} // namespace farlink::adapters
