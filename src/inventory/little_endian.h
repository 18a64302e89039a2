// Little-endian fields of the bytes the driver and the registry hand over, read only as far as
// the bytes go: a field that lies wholly or partly beyond them reads as zero bytes there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace farlink::inventory {

inline std::uint8_t answerByte(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return offset < bytes.size() ? bytes[offset] : 0;
}

inline std::uint32_t answerWord(std::span<const std::uint8_t> bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(answerByte(bytes, offset + i)) << (8 * i);
    return value;
}

} // namespace farlink::inventory
