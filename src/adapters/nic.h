// The network adapters as the MIB groups and the pollers see them, and their thresholds.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace farlink::adapters {

inline constexpr int kMaxAdapters = 8;
inline constexpr int kCounterSlots = 29;
// The supported list is read into 400 bytes: at most 100 OIDs can be polled.
inline constexpr std::size_t kMaxPolledOids = 100;

inline constexpr std::uint32_t kMediaNotSupported = 0;
inline constexpr std::uint32_t kMedia8023 = 1;
inline constexpr std::uint32_t kMedia8025 = 2;

enum class SlotKind { Packets, Bytes, Faults };

struct NicInfo {
    std::uint32_t index = 0;
    std::array<char, 24> mediaName{};
    std::uint32_t ioPortBase = 0;
    std::uint32_t interruptLevel = 0;
    std::uint32_t memoryBase = 0;
    std::uint32_t dmaChannel = 0;
    std::uint32_t mediaCode = 0; // 0 not supported, 1 802.3, 2 802.5
    std::array<std::uint8_t, 6> permanentAddress{};
    std::array<char, 82> vendorDescription{};
    std::array<std::atomic<std::uint32_t>, kCounterSlots> lastCounters{};
    std::array<char, 80> title{};
};

// The statistics OIDs a poller queries, in the order the adapter's driver lists them.
struct PolledOidList {
    std::uint32_t count = 0;
    std::array<std::uint32_t, kMaxPolledOids> oids{};
};

// Written during start-up only (the counters by the pollers).
extern std::atomic<std::int32_t> nicCount;
extern std::array<NicInfo, kMaxAdapters> nicInfo;
extern std::array<std::array<std::atomic<std::uint32_t>, kCounterSlots>, kMaxAdapters>
    nicThresholds;
extern std::array<std::array<std::atomic<std::uint8_t>, kCounterSlots>, kMaxAdapters> exceededLatch;
extern std::array<PolledOidList, kMaxAdapters> polledOids;

// The defaults of section "NIC Threshold".
extern std::atomic<std::uint32_t> defaultBytes;
extern std::atomic<std::uint32_t> defaultPackets;
extern std::atomic<std::uint32_t> defaultFaults;

SlotKind slotKind(int slot);

// Write the value into every slot of that kind of the adapter's thresholds.
void applyPacketsDefault(int adapter, std::uint32_t value);
void applyBytesDefault(int adapter, std::uint32_t value);
void applyFaultsDefault(int adapter, std::uint32_t value);

// Thresholds of one adapter from its "NIC.n" text: 29 fields of 8 hexadecimal characters, or the
// three defaults when the text is shorter than 232 characters.
void loadAdapterThresholds(int adapter, std::string_view text);

// Replaces the threshold message with the report of one exceeded counter.
void reportExceeded(std::string_view oidName, std::uint32_t delta, std::uint32_t threshold);
std::string thresholdMessage();
// Empties the threshold message, as it is before the first report.
void clearThresholdMessage();

} // namespace farlink::adapters
