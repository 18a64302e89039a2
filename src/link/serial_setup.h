// Serial port set-up: the out-of-band thread turns the port sections of the configuration into
// configured ports, each with its own reader.
#pragma once

#include "config/port_settings.h"
#include "platform/serial.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace farlink::link {

inline constexpr int kPortCount = 4;

// A port section's settings, the open port and whether it is in use.
struct PortRecord : config::PortSettings {
    platform::PortHandle port = nullptr;
    char use = 'N';
};

struct PortTable {
    std::array<PortRecord, kPortCount> ports{};
    int count = 0;
};

extern PortTable portTable;

void fillPortTable();
platform::PortHandle openComPort(std::string_view portName);
// 1 when the port is ready; 0 with the port closed and, in `reason`, the key and value at fault
// and what is allowed, or the device and what the system said.
int configurePort(PortRecord& record, std::string& reason);
// The thread body: returns its exit code (0 with readers running, 1 when no port came up).
int outOfBandThread();

} // namespace farlink::link
