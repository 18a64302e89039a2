// Serial port set-up: the out-of-band thread turns the port sections of the configuration into
// configured ports, each with its own reader.
#pragma once

#include "platform/serial.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace farlink::link {

inline constexpr int kPortCount = 4;

struct PortRecord {
    platform::PortHandle port = nullptr;
    std::array<char, 6> name{};
    std::int32_t baud = 0;
    std::int32_t dataBits = 0;
    std::int32_t stopBits = 0;
    std::array<char, 6> parity{};
    std::array<char, 2> modem{};
    std::array<char, 40> initString{};
    char use = 'N';
};

struct PortTable {
    std::array<PortRecord, kPortCount> ports{};
    int count = 0;
};

extern PortTable portTable;

void fillPortTable();
platform::PortHandle openComPort(std::string_view portName);
int configurePort(PortRecord& record);
// The thread body: returns its exit code (0 with readers running, 1 when no port came up).
int outOfBandThread();

} // namespace farlink::link
