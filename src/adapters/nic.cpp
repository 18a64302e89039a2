// The adapter records and thresholds shared by discovery, the pollers and the MIB groups, and
// the threshold message the pollers leave for managers.
#include "adapters/nic.h"

#include <cstdio>
#include <mutex>

namespace farlink::adapters {

std::atomic<std::int32_t> nicCount{0};
std::array<NicInfo, kMaxAdapters> nicInfo;
std::array<std::array<std::atomic<std::uint32_t>, kCounterSlots>, kMaxAdapters> nicThresholds{};
std::array<std::array<std::atomic<std::uint8_t>, kCounterSlots>, kMaxAdapters> exceededLatch{};
std::array<PolledOidList, kMaxAdapters> polledOids{};

std::atomic<std::uint32_t> defaultBytes{12500000};
std::atomic<std::uint32_t> defaultPackets{250000};
std::atomic<std::uint32_t> defaultFaults{0xFFFFFFFF};

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

// A counter that has never been polled reads all ones, so managers can tell it from a zero.
[[maybe_unused]] const bool countersUnpolled = [] {
    for (NicInfo& info : nicInfo)
        for (auto& counter : info.lastCounters)
            counter.store(0xFFFFFFFF, relaxed);
    return true;
}();

using enum SlotKind;

// Which configuration default fills each counter slot. Slots 19 to 28 hold the 802.3 or the
// 802.5 error counters, all of them faults.
constexpr std::array<SlotKind, kCounterSlots> kSlotKinds = {
    Packets, Packets, Faults,  Faults, Faults,  Bytes,  Packets, Bytes,  Packets, Bytes,
    Packets, Bytes,   Packets, Bytes,  Packets, Bytes,  Packets, Faults, Faults,  Faults,
    Faults,  Faults,  Faults,  Faults, Faults,  Faults, Faults,  Faults, Faults,
};

bool validAdapter(int adapter) {
    return adapter >= 0 && adapter < kMaxAdapters;
}

void applyDefault(int adapter, SlotKind kind, std::uint32_t value) {
    if (!validAdapter(adapter)) return;
    for (int slot = 0; slot < kCounterSlots; ++slot)
        if (kSlotKinds[slot] == kind) nicThresholds[adapter][slot].store(value, relaxed);
}

bool isBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One threshold field read the way the C runtime reads an unsigned number in base 16 (blanks,
// a sign, an optional 0x, then digits up to the first that is not one; no digits gives 0), but
// never looking past the field's own characters.
std::uint32_t parseField(std::string_view field) {
    std::size_t i = 0;
    while (i < field.size() && isBlank(field[i]))
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
    if (i + 2 < field.size() && field[i] == '0' && (field[i + 1] == 'x' || field[i + 1] == 'X') &&
        hexDigit(field[i + 2]) >= 0)
        i += 2;
    std::uint32_t value = 0;
    for (; i < field.size(); ++i) {
        const int digit = hexDigit(field[i]);
        if (digit < 0) break;
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return negative ? 0u - value : value;
}

// Large enough for the longest counter name and two numbers of eleven characters each.
constexpr std::size_t kMessageSize = 160;

std::mutex messageMutex;
std::array<char, kMessageSize> message{};

} // namespace

SlotKind slotKind(int slot) {
    return slot >= 0 && slot < kCounterSlots ? kSlotKinds[slot] : SlotKind::Faults;
}

void applyPacketsDefault(int adapter, std::uint32_t value) {
    applyDefault(adapter, SlotKind::Packets, value);
}

void applyBytesDefault(int adapter, std::uint32_t value) {
    applyDefault(adapter, SlotKind::Bytes, value);
}

void applyFaultsDefault(int adapter, std::uint32_t value) {
    applyDefault(adapter, SlotKind::Faults, value);
}

void loadAdapterThresholds(int adapter, std::string_view text) {
    if (!validAdapter(adapter)) return;
    // The text ends at its first zero, as the file's reader hands it over.
    text = text.substr(0, text.find('\0'));
    constexpr std::size_t kFieldSize = 8;
    if (text.size() < kCounterSlots * kFieldSize) {
        applyBytesDefault(adapter, defaultBytes.load(relaxed));
        applyPacketsDefault(adapter, defaultPackets.load(relaxed));
        applyFaultsDefault(adapter, defaultFaults.load(relaxed));
        return;
    }
    for (int slot = 0; slot < kCounterSlots; ++slot)
        nicThresholds[adapter][slot].store(
            parseField(text.substr(static_cast<std::size_t>(slot) * kFieldSize, kFieldSize)),
            relaxed);
}

void reportExceeded(std::string_view oidName, std::uint32_t delta, std::uint32_t threshold) {
    std::lock_guard lock(messageMutex);
    std::snprintf(message.data(), message.size(),
                  "Threshold of %.*s exceeded. Threshold limit is %d, current value is %d\n",
                  static_cast<int>(oidName.size()), oidName.data(),
                  static_cast<std::int32_t>(threshold), static_cast<std::int32_t>(delta));
}

void clearThresholdMessage() {
    std::lock_guard lock(messageMutex);
    message[0] = '\0';
}

std::string thresholdMessage() {
    std::lock_guard lock(messageMutex);
    return std::string(message.data());
}

} // namespace farlink::adapters
