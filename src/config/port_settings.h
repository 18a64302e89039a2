// The serial port sections of the configuration file.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace farlink::config {

struct PortSettings {
    std::array<char, 6> name{};
    std::int32_t baud = 0;
    std::int32_t dataBits = 0;
    std::int32_t stopBits = 0;
    std::array<char, 6> parity{};
    std::array<char, 2> modem{};
    std::array<char, 40> initString{};
};

// Reads the four "Serial Port Parameters.n" sections; returns 4, the records examined.
int readPortSettings(std::array<PortSettings, 4>& settings);

// The name of port section n (1 to 4).
std::string portSectionName(int n);

// True when section n sets any of the port keys, so that an operator meant it to describe a
// port even if it names none.
bool portSectionPresent(int n);

} // namespace farlink::config
