// Builds DMI structure tables for the parser and group tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace farlink::testing {

class DmiBuilder {
  public:
    // One structure: header, the formatted bytes after it, then the string set (two NULs when
    // there are no texts).
    DmiBuilder& add(std::uint8_t type, std::vector<std::uint8_t> formatted,
                    std::vector<std::string> texts = {}) {
        header(type, formatted);
        if (texts.empty()) {
            bytes.insert(bytes.end(), {0, 0});
            return *this;
        }
        for (const std::string& t : texts) {
            bytes.insert(bytes.end(), t.begin(), t.end());
            bytes.push_back(0);
        }
        bytes.push_back(0);
        return *this;
    }

    // A memory controller: no string set follows.
    DmiBuilder& controller(std::vector<std::uint8_t> formatted) {
        header(5, formatted);
        return *this;
    }

    DmiBuilder& end() {
        bytes.insert(bytes.end(), {255, 4, 0, 0, 0, 0});
        return *this;
    }

    DmiBuilder& bios(std::uint32_t characteristics, std::vector<std::string> texts) {
        return add(0,
                   {1, 2, 0x00, 0xE0, 3, 7, le8(characteristics), le8(characteristics >> 8),
                    le8(characteristics >> 16), le8(characteristics >> 24), 0x11, 0x22, 0x33, 0x44},
                   texts);
    }

    DmiBuilder& processor(std::uint8_t processorType, std::uint8_t family, std::uint16_t speed,
                          std::uint8_t firstIdByte) {
        std::vector<std::uint8_t> f = {
            1, processorType, family, 2, firstIdByte, 6, 0, 0, 0, 0, 0, 0, 0, 0x94};
        const std::uint16_t clocks[3] = {66, 500, speed};
        for (std::uint16_t c : clocks) {
            f.push_back(le8(c));
            f.push_back(le8(c >> 8u));
        }
        f.insert(f.end(), {0x41, 0x08});
        return add(4, f, {"Socket", "Maker"});
    }

    DmiBuilder& module(std::uint8_t bankConnections, std::uint8_t enabledSize) {
        return add(6, {1, bankConnections, 60, 0x00, 0x05, 6, enabledSize, 0}, {"DIMM"});
    }

    DmiBuilder& cache(std::uint16_t configuration, std::uint16_t installed) {
        return add(7,
                   {1, le8(configuration), le8(configuration >> 8u), 0, 2, le8(installed),
                    le8(installed >> 8u), 0x20, 0, 0x20, 0},
                   {"Cache"});
    }

    DmiBuilder& port(std::uint8_t externalConnector, std::uint8_t portType) {
        return add(8, {1, 0, 2, externalConnector, portType}, {"J1", "Ext"});
    }

    std::vector<std::uint8_t> bytes;

  private:
    static std::uint8_t le8(std::uint32_t v) { return static_cast<std::uint8_t>(v & 0xFF); }

    void header(std::uint8_t type, const std::vector<std::uint8_t>& formatted) {
        bytes.insert(bytes.end(),
                     {type, static_cast<std::uint8_t>(4 + formatted.size()), 0x34, 0x12});
        bytes.insert(bytes.end(), formatted.begin(), formatted.end());
    }
};

} // namespace farlink::testing
