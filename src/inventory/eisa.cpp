#include "inventory/eisa.h"

#include "inventory/driver_answer.h"

#include <algorithm>
#include <cstdio>

namespace farlink::inventory {

std::array<EisaSlotRecord, kEisaSlotCount> eisaSlots{};

namespace {

constexpr std::size_t kEisaEntrySize = 92;

} // namespace

void takeEisaSlots(std::span<const std::uint8_t> answer) {
    for (EisaSlotRecord& slot : eisaSlots)
        slot.text.fill('\0');
    // The count says how many entries follow; only the entries the driver actually returned
    // are read.
    const std::size_t present =
        answer.size() > 4 ? (answer.size() - 4) / kEisaEntrySize : std::size_t{0};
    const std::size_t entries = std::min<std::size_t>(answerWord(answer, 0), present);
    for (std::size_t e = 0; e < entries; ++e) {
        const std::size_t at = 4 + e * kEisaEntrySize;
        const std::uint32_t id = answerWord(answer, at);
        const std::uint32_t slotNumber = answerWord(answer, at + 4);
        const std::uint32_t slotType = answerWord(answer, at + 8);
        if (slotNumber < 1 || slotNumber > kEisaSlotCount) continue;
        EisaSlotRecord& slot = eisaSlots[slotNumber - 1];
        if (slotType == kEisaSlotBoard) {
            slot.slotNumber = slotNumber;
            slot.slotType = kEisaSlotBoard;
            if (id != 0)
                std::snprintf(slot.text.data(), slot.text.size(), "Eisa compressed Id : 0x%X\n",
                              static_cast<unsigned>(id));
        } else if (slotType == kEisaSlotEmbedded) {
            slot.slotNumber = slotNumber;
            slot.slotType = kEisaSlotEmbedded;
        }
    }
}

} // namespace farlink::inventory
