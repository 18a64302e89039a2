#include "system/temperature_limits.h"

#include "platform/device_io.h"
#include "runtime/agent_settings.h"
#include "runtime/koru.h"

#include <array>
#include <atomic>

namespace farlink::system {

namespace {

// The value's low 2 bytes, as the driver reads them.
bool sendLimit(std::uint32_t code, std::int32_t value) {
    const auto word = static_cast<std::uint32_t>(value);
    const std::array<std::uint8_t, 2> input = {static_cast<std::uint8_t>(word),
                                               static_cast<std::uint8_t>(word >> 8)};
    std::uint32_t returned = 0;
    return platform::deviceIoControl(runtime::koruHandle, code, input, {}, returned);
}

} // namespace

bool fitsTemperatureLimit(std::int32_t value) {
    return value >= -32768 && value <= 32767;
}

bool setTemperatureLimits(std::int32_t low, std::int32_t high) {
    if (high < low || !fitsTemperatureLimit(low) || !fitsTemperatureLimit(high)) return false;
    runtime::AgentSettings& settings = runtime::agentSettings;
    const bool lowFirst = settings.temp2.load(std::memory_order_relaxed) >= low;
    auto sendLow = [&] {
        if (!sendLimit(runtime::kIoctlLowerTemperature, low)) return false;
        settings.temp1.store(low, std::memory_order_relaxed);
        return true;
    };
    auto sendHigh = [&] {
        if (!sendLimit(runtime::kIoctlUpperTemperature, high)) return false;
        settings.temp2.store(high, std::memory_order_relaxed);
        return true;
    };
    return lowFirst ? sendLow() && sendHigh() : sendHigh() && sendLow();
}

} // namespace farlink::system
