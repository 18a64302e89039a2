// Resource lists in the published CM_RESOURCE_LIST layout, built byte by byte for the tests of
// the code that reads them, and their text in a .reg file.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace farlink::testing {

using Bytes = std::vector<std::uint8_t>;
using Full = std::vector<Bytes>;

inline void put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A partial descriptor: type, share disposition, flags, then the 12 bytes of its union.
inline Bytes partial(std::uint8_t type, std::uint64_t ab, std::uint32_t c = 0) {
    Bytes d = {type, 1, 0, 0};
    put32(d, static_cast<std::uint32_t>(ab));
    put32(d, static_cast<std::uint32_t>(ab >> 32));
    put32(d, c);
    return d;
}
inline Bytes port(std::uint64_t start, std::uint32_t length) {
    return partial(1, start, length);
}
inline Bytes memory(std::uint64_t start, std::uint32_t length) {
    return partial(3, start, length);
}
inline Bytes irq(std::uint32_t level) {
    return partial(2, level);
}
inline Bytes dma(std::uint32_t channel) {
    return partial(4, channel);
}
// Device-specific data made of bytes that would read as port descriptors.
inline Bytes deviceSpecific(std::uint32_t size) {
    Bytes d = partial(5, size);
    d.insert(d.end(), size, 0x01);
    return d;
}

// A CM_RESOURCE_LIST of full descriptors, each a list of partial descriptors.
inline Bytes resourceList(std::initializer_list<Full> fulls) {
    Bytes list;
    put32(list, static_cast<std::uint32_t>(fulls.size()));
    for (const Full& full : fulls) {
        put32(list, 5);                        // PCI
        put32(list, 0);                        // bus 0
        list.insert(list.end(), {1, 0, 1, 0}); // version, revision
        put32(list, static_cast<std::uint32_t>(full.size()));
        for (const Bytes& d : full)
            list.insert(list.end(), d.begin(), d.end());
    }
    return list;
}

// The bytes as a .reg file writes them after "hex(8):".
inline std::string hexList(const Bytes& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) text += ',';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0xF];
    }
    return text;
}

} // namespace farlink::testing
