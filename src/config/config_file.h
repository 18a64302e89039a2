// The agent's configuration file and the keyword-guarded decoding of SET values.
#pragma once

#include "snmp/message.h"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace farlink::config {

inline constexpr std::string_view kConfigFile = "TESSEL.INI";
inline constexpr std::string_view kModelFile = "MODEL.KORU";

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

// 1 and the number, or 0 when the value is refused.
int decodeSetNumber(const snmp::VarBind& binding, std::uint32_t& number);
// 1 and the terminated text, or 0 when refused (also when it does not fit `text`).
int decodeSetText(const snmp::VarBind& binding, std::span<char> text);

} // namespace farlink::config
