#include "system/item_list.h"

#include <algorithm>
#include <cstring>

namespace farlink::system {

namespace {

constexpr std::size_t kFirstOffset = 1;
constexpr std::size_t kWord = 4;

// A whole little-endian word inside the answer, or nothing.
bool wordAt(std::span<const std::uint8_t> answer, std::size_t at, std::uint32_t& word) {
    if (at > answer.size() || answer.size() - at < kWord) return false;
    word = 0;
    for (std::size_t i = 0; i < kWord; ++i)
        word |= static_cast<std::uint32_t>(answer[at + i]) << (8 * i);
    return true;
}

} // namespace

ItemRow readItemRow(std::span<const std::uint8_t> answer, std::uint32_t row,
                    std::size_t valueCount) {
    ItemRow item;
    std::uint32_t offset = 0;
    const std::size_t slot = kFirstOffset + kWord * static_cast<std::size_t>(row);
    if (row > answer.size() || !wordAt(answer, slot, offset) || offset >= answer.size())
        return item;
    const char* name = reinterpret_cast<const char*>(answer.data() + offset);
    const std::size_t length = strnlen(name, answer.size() - offset);
    item.name = std::string_view(name, std::min(length, kItemNameLimit));
    // The values follow the whole name, not the part that is served.
    std::size_t at = static_cast<std::size_t>(offset) + length + 1;
    for (std::size_t v = 0; v < std::min(valueCount, kItemValuesMost); ++v, at += kWord)
        if (!wordAt(answer, at, item.values[v])) break;
    return item;
}

} // namespace farlink::system
