// The KORU driver's answers on a Linux server, opted into with FARLINK_KORU=host: the firmware's
// SMBIOS structures from /sys/firmware/dmi/tables, the legacy port addresses from
// /sys/class/tty and /proc/ioports, and the item tables and processor readings from hwmon and
// cpufreq. Every reader takes the root of the tree it reads ("" for the host itself), so that
// tests and the fuzzer feed fixture trees and bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace farlink::platform {

// One row of an item table: fans (RPM), temperatures (°C), voltages (mV: reading, minimum,
// maximum, alarm flag) or intrusion and alarm flags (0 or 1).
struct HostSensor {
    std::string name;
    std::array<std::uint32_t, 4> values{};
};

inline constexpr std::size_t kHostMeasuredProcessors = 4;

struct HostMonitors {
    // Tables 11 (fans), 12 (temperatures), 13 (voltages), 14 (intrusion and alarms).
    std::array<std::vector<HostSensor>, 4> tables;
    std::array<std::int16_t, kHostMeasuredProcessors> processorCelsius{};
    std::array<std::uint32_t, kHostMeasuredProcessors> processorMhz{};
};

// Values per row of each item table.
inline constexpr std::array<std::size_t, 4> kHostTableValues = {1, 1, 4, 1};

// The structures of an SMBIOS table that the agent's DMI parser reads (types 0-2, 4-11, 13), in
// their order, ended by a type 255 structure, in at most `room` bytes. A memory controller
// (type 5) goes without its string set, as the parser expects. The walk stops at the end-of-table
// structure (127), at a structure that runs past the bytes, or when the next one would not fit.
std::vector<std::uint8_t> agentDmiStructures(std::span<const std::uint8_t> table, std::size_t room);

// The configuration answer: a newer driver whose version byte is the SMBIOS version read from
// the entry point (two decimal digits, at least 2.0 so that structures follow), the driver text
// "Linux hwmon", the serial and parallel port addresses, then the structures from byte 36.
std::vector<std::uint8_t> hostConfigurationAnswer(std::span<const std::uint8_t> entryPoint,
                                                  std::span<const std::uint8_t> table,
                                                  const std::array<std::uint16_t, 3>& ports);

// Serial port 1, serial port 2 and parallel port I/O addresses (0 when absent): a ttyS port
// counts when its UART type is not 0 and /proc/ioports has a "serial" range there (or hides every
// address, as it does from an unprivileged reader); the parallel port is the first "parport"
// range of /proc/ioports.
std::array<std::uint16_t, 3> hostPortAddresses(const std::string& root);

// The hwmon chips below root/sys/class/hwmon and cpufreq below root/sys/devices/system/cpu.
HostMonitors scanHostMonitors(const std::string& root);

// An item list of at most `size` bytes for the rows that fit (names cut to 31 characters);
// `fitted` tells how many did.
std::vector<std::uint8_t> hostItemList(const std::vector<HostSensor>& rows, std::size_t values,
                                       std::size_t size, std::size_t& fitted);

// The provider behind one open handle of "\\.\KORU". Requests may come from several port
// threads; the readings are taken at most once a second and shared.
class HostKoru {
  public:
    explicit HostKoru(std::string root) : root_(std::move(root)) {}
    // False on a machine with neither SMBIOS tables nor hardware monitors: then there is no
    // driver to speak of, and the agent goes on as without one.
    bool present() const;
    bool control(std::uint32_t code, std::span<const std::uint8_t> input,
                 std::span<std::uint8_t> output, std::uint32_t& bytesReturned);

  private:
    const HostMonitors& sample(); // with mutex_ held

    std::string root_;
    std::mutex mutex_;
    bool sampled_ = false;
    std::uint64_t sampledMs_ = 0;
    HostMonitors monitors_;
};

} // namespace farlink::platform
