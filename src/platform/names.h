// Names of the system's objects (profile sections and keys, services, fields) compare without
// regard to the case of ASCII letters, whatever the locale.
#pragma once

#include <cstddef>
#include <string_view>

namespace farlink::platform {

constexpr char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

} // namespace farlink::platform
