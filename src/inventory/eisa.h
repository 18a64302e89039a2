// The EISA slots as the KORU driver describes them.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace farlink::inventory {

inline constexpr int kEisaSlotCount = 16;
inline constexpr std::uint32_t kEisaSlotBoard = 1;
inline constexpr std::uint32_t kEisaSlotEmbedded = 5;
inline constexpr std::size_t kEisaAnswerSize = 9216;

struct EisaSlotRecord {
    std::uint32_t slotNumber = 0;
    std::uint32_t slotType = 0;
    std::array<char, 84> text{};
};
// Record k - 1 describes slot k.
extern std::array<EisaSlotRecord, kEisaSlotCount> eisaSlots;

// Fills the slot records from the driver's answer (a count, then 92-byte entries), reading only
// the entries the answer holds.
void takeEisaSlots(std::span<const std::uint8_t> answer);

} // namespace farlink::inventory
