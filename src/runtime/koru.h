// The KORU driver: its device name and control codes.
#pragma once

#include "platform/device_io.h"

#include <cstdint>

namespace farlink::runtime {

inline constexpr const char* kKoruDevice = "\\\\.\\KORU";

inline constexpr std::uint32_t kIoctlRowCounts = 0x80002080;      // up to 200 bytes
inline constexpr std::uint32_t kIoctlConfiguration = 0x80002010;  // up to 16000 bytes
inline constexpr std::uint32_t kIoctlSetVoltageP55C = 0x800020D0; // no data
inline constexpr std::uint32_t kIoctlEisaSlots = 0x80002018;      // up to 9216 bytes
inline constexpr std::uint32_t kIoctlProcessorReadings16 = 0x8000201C;
inline constexpr std::uint32_t kIoctlProcessorReadings32 = 0x80002064;
inline constexpr std::uint32_t kIoctlItemTable11 = 0x8000208C;
inline constexpr std::uint32_t kIoctlItemTable12 = 0x80002084;
inline constexpr std::uint32_t kIoctlItemTable13 = 0x80002088;
inline constexpr std::uint32_t kIoctlItemTable14 = 0x80002090;
inline constexpr std::uint32_t kIoctlLowerTemperature = 0x80002050;
inline constexpr std::uint32_t kIoctlUpperTemperature = 0x80002054;
inline constexpr std::uint32_t kIoctlIoBus = 0x80002058;
inline constexpr std::uint32_t kIoctlShutdown = 0x8000205C;

inline constexpr std::size_t kConfigurationAnswerSize = 16000;

// The handle the start-up worker opened for reading and keeps for the process's life; nullptr
// when there is no driver.
extern platform::DeviceHandle koruHandle;

// Tells the driver that the system is shutting down; an absent driver or a refused request is
// reported as an event.
void sendShutdownRequest();

} // namespace farlink::runtime
