// The EISA slot records taken from the driver's answer: a count, then 92-byte entries.
#include "inventory/eisa.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace farlink::inventory {
namespace {

using Bytes = std::vector<std::uint8_t>;

void putWord(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Entries of identifier, slot number and slot type; the rest of each entry is filler the
// reader must pass over.
Bytes eisaAnswer(std::uint32_t count, const std::vector<std::array<std::uint32_t, 3>>& entries) {
    Bytes a(4, 0);
    putWord(a, 0, count);
    for (const auto& [id, slot, type] : entries) {
        Bytes e(92, 0xEE);
        putWord(e, 0, id);
        putWord(e, 4, slot);
        putWord(e, 8, type);
        a.insert(a.end(), e.begin(), e.end());
    }
    return a;
}

class EisaSlots : public ::testing::Test {
  protected:
    void SetUp() override { eisaSlots = {}; }
};

TEST_F(EisaSlots, BoardsAndEmbeddedDevicesOfSlotsOneToSixteenAreTaken) {
    const Bytes a = eisaAnswer(7, {{0x0E11A010, 1, kEisaSlotBoard},
                                   {0, 2, kEisaSlotBoard},
                                   {0x1234, 3, kEisaSlotEmbedded},
                                   {0x7777, 4, 7}, // neither a board nor an embedded device
                                   {0x0E11B016, 16, kEisaSlotBoard},
                                   {0x5555, 17, kEisaSlotBoard},
                                   {0x6666, 0, kEisaSlotBoard}});
    takeEisaSlots(a);
    EXPECT_STREQ(eisaSlots[0].text.data(), "Eisa compressed Id : 0xE11A010\n");
    EXPECT_STREQ(eisaSlots[1].text.data(), "") << "a board without identifier has no text";
    EXPECT_EQ(eisaSlots[2].slotType, kEisaSlotEmbedded);
    EXPECT_EQ(eisaSlots[15].slotNumber, 16u) << "the last slot is a slot";
    for (int k = 4; k <= 15; ++k)
        EXPECT_EQ(eisaSlots[k - 1].slotType, 0u) << "slot " << k;
}

TEST_F(EisaSlots, OnlyTheEntriesBothCountedAndPresentAreRead) {
    // A count beyond the entries returned: the start of a further entry for slot 5, cut off by
    // the end of the answer, is not an entry.
    Bytes a = eisaAnswer(1000, {{0x11, 1, kEisaSlotBoard}});
    const Bytes cut = {0x22, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0, 0, 0, 0};
    a.insert(a.end(), cut.begin(), cut.end());
    takeEisaSlots(a);
    EXPECT_EQ(eisaSlots[0].slotType, kEisaSlotBoard);
    EXPECT_EQ(eisaSlots[4].slotType, 0u);

    // A count below the entries returned: the entries past it are not read.
    eisaSlots = {};
    takeEisaSlots(eisaAnswer(1, {{0x11, 1, kEisaSlotBoard}, {0x33, 6, kEisaSlotBoard}}));
    EXPECT_EQ(eisaSlots[0].slotType, kEisaSlotBoard);
    EXPECT_EQ(eisaSlots[5].slotType, 0u);
}

} // namespace
} // namespace farlink::inventory
