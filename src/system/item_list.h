// The KORU driver's item lists: byte 0 unused, from byte 1 one 32-bit little-endian offset per
// row, and at each offset the row's name (zero-terminated) followed directly by its 32-bit
// little-endian values. Offsets are unaligned and come from the driver, so every one is checked
// against the bytes the driver actually returned before it is followed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace farlink::system {

// The answer buffer of one item-list request.
inline constexpr std::size_t kItemListSize = 400;
// A row name goes out in one binding's value area.
inline constexpr std::size_t kItemNameLimit = 80;
inline constexpr std::size_t kItemValuesMost = 4;

struct ItemRow {
    std::string_view name; // into the answer, at most kItemNameLimit bytes
    std::array<std::uint32_t, kItemValuesMost> values{};
};

// Row `row` of an answer (only the bytes returned), with `valueCount` values (at most 4). A row
// whose offset word or offset lies outside the answer has an empty name; a value that lies
// wholly or partly outside reads 0; a name without terminator ends with the answer.
ItemRow readItemRow(std::span<const std::uint8_t> answer, std::uint32_t row,
                    std::size_t valueCount);

} // namespace farlink::system
