// Devices reached by name with device I/O control requests ("\\.\KORU" and the like).
//
// On a Linux host there is no KORU driver: opening it fails with error 2 and the agent goes on
// without driver data, unless FARLINK_KORU=host has the firmware's tables and the hardware
// monitors answer for it (host_koru.h); PhysicalDriveN are the disks, and a network interface's
// name opens the adapter that answers NDIS queries (host_network.h). With
// FARLINK_MACHINE=<directory> the devices of a simulated machine are served from its image: device
// NAME exists when <directory>/devices/NAME/ does, and the answer to control code C is the file
// <directory>/devices/NAME/<C as 8 lower-case hex digits>.bin (a request whose file is missing
// fails with error 1). When <C> is a folder instead, the input selects the answer: <C>/<input>.bin,
// or <C>/<input>.rate for a counter that grows with time, where <input> is a 4-byte input's
// little-endian word in 8 hex digits (an NDIS OID) or else the input's bytes in hex. Every other
// request that carries input or expects no output is recorded as one line
// "NAME 0x<CODE> <input as hex>" in the file named by FARLINK_MACHINE_RECORD, else
// <directory>/requests.log.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace farlink::platform {

class Device;
using DeviceHandle = Device*;

inline constexpr std::uint32_t kDeviceRead = 0x80000000;  // GENERIC_READ
inline constexpr std::uint32_t kDeviceWrite = 0x40000000; // GENERIC_WRITE

// Opens "\\.\NAME" (the prefix may be left out); nullptr with the last error set when absent.
DeviceHandle openDevice(std::string_view name, std::uint32_t access);
void closeDevice(DeviceHandle device);

// Sends one request; true on success with bytesReturned set. An answer longer than `output`
// fills it and fails with error 234 (more data).
bool deviceIoControl(DeviceHandle device, std::uint32_t code, std::span<const std::uint8_t> input,
                     std::span<std::uint8_t> output, std::uint32_t& bytesReturned);

// The names of the devices that can be opened, as the system lists them (QueryDosDevice): for an
// image the directories below devices/; on a host the disks as PhysicalDrive0.. in the order the
// storage view of the key trees reaches them.
std::vector<std::string> deviceNames();

} // namespace farlink::platform
