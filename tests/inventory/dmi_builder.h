// Builds DMI structure tables for the parser and group tests, and reads and writes the summary
// the parser fills.
#pragma once

#include "inventory/dmi.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace farlink::testing {

inline std::string summaryText(inventory::SummaryField field) {
    const char* p = reinterpret_cast<const char*>(inventory::dmiSummary.data() + field.offset);
    return std::string(p, strnlen(p, field.width));
}
inline std::uint32_t summaryWord(std::size_t offset) {
    std::uint32_t v = 0;
    std::memcpy(&v, inventory::dmiSummary.data() + offset, 4);
    return v;
}
inline void putSummaryWord(std::size_t offset, std::uint32_t value) {
    std::memcpy(inventory::dmiSummary.data() + offset, &value, 4);
}

struct DmiBuilder {
    std::vector<std::uint8_t> bytes;

    // One structure: header, the formatted bytes after it, then the string set (two NULs when
    // there are no texts). A memory controller (type 5) has no string set.
    DmiBuilder& add(std::uint8_t type, std::vector<std::uint8_t> formatted,
                    std::vector<std::string> texts = {}) {
        bytes.insert(bytes.end(), {type, static_cast<std::uint8_t>(4 + formatted.size()), 0, 0});
        bytes.insert(bytes.end(), formatted.begin(), formatted.end());
        if (type == 5) return *this;
        for (const std::string& t : texts)
            bytes.insert(bytes.end(), t.c_str(), t.c_str() + t.size() + 1);
        if (texts.empty()) bytes.push_back(0);
        bytes.push_back(0);
        return *this;
    }

    DmiBuilder& end() { return add(255, {}); }

    DmiBuilder& bios(std::uint32_t bits, std::vector<std::string> texts) {
        return add(0, {1, 2, 0, 0xE0, 3, 7, b(bits), b(bits >> 8), b(bits >> 16), b(bits >> 24)},
                   texts);
    }

    // Clocks: external 66, maximum 500, current `speed`.
    DmiBuilder& processor(std::uint8_t kind, std::uint8_t family, std::uint16_t speed,
                          std::uint8_t firstIdByte) {
        return add(4,
                   {1, kind, family, 2,        firstIdByte,   6,    0,   0, 0, 0, 0, 0, 0, 0x94, 66,
                    0, 0xF4, 1,      b(speed), b(speed >> 8), 0x41, 0x08},
                   {"Socket", "Maker"});
    }

    DmiBuilder& module(std::uint8_t bankConnections, std::uint8_t enabledSize) {
        return add(6, {1, bankConnections, 60, 0, 5, 6, enabledSize, 0}, {"DIMM"});
    }

    DmiBuilder& cache(std::uint16_t configuration, std::uint16_t installed) {
        return add(7,
                   {1, b(configuration), b(configuration >> 8), 0, 2, b(installed),
                    b(installed >> 8), 0x20, 0, 0x20, 0},
                   {"Cache"});
    }

    DmiBuilder& port(std::uint8_t externalConnector, std::uint8_t portType) {
        return add(8, {1, 0, 2, externalConnector, portType}, {"J1", "Ext"});
    }

    static std::uint8_t b(std::uint32_t v) { return static_cast<std::uint8_t>(v & 0xFF); }
};

} // namespace farlink::testing
