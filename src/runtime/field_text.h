// The text of a fixed, zero-terminated field: up to its terminator, never past the field.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace farlink::runtime {

template <std::size_t N> std::string_view fieldText(const std::array<char, N>& field) {
    return {field.data(), strnlen(field.data(), N)};
}

} // namespace farlink::runtime
