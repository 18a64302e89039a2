// The agent settings from the configuration file, read once at the start of the configuration
// thread.
#include "config/settings_reader.h"

#include "adapters/nic.h"
#include "platform/console.h"
#include "platform/profile.h"
#include "runtime/agent_settings.h"

#include <algorithm>
#include <cctype>

namespace farlink::config {

namespace {

using platform::getProfileInt;
using platform::getProfileString;
using runtime::kConfigFile;

// A text key read into a buffer of N characters (terminator included), as the setting's field
// is sized.
template <std::size_t N>
std::string readText(std::string_view section, std::string_view key, std::string_view fallback) {
    std::array<char, N> buffer{};
    const std::uint32_t n = getProfileString(section, key, fallback, buffer.data(), N, kConfigFile);
    return std::string(buffer.data(), std::min<std::size_t>(n, N - 1));
}

} // namespace

void readAgentSettings() {
    constexpr auto relaxed = std::memory_order_relaxed;
    runtime::AgentSettings& s = runtime::agentSettings;

    s.password.set(readText<32>("environment", "password", ""));
    s.pollingInterval.store(getProfileInt("environment", "Polling Interval", 1, kConfigFile),
                            relaxed);
    s.contactRowCount.store(1, relaxed);

    s.temp1.store(getProfileInt("threshold", "temp1", 530, kConfigFile), relaxed);
    s.temp2.store(getProfileInt("threshold", "temp2", 650, kConfigFile), relaxed);
    const std::string shutDown = readText<2>("threshold", "enableShutDown", "N");
    if (!shutDown.empty() && std::toupper(static_cast<unsigned char>(shutDown[0])) == 'Y') {
        platform::printText("shut down enabled in cofig.c!!!!!!!!!!\n");
        s.shutDownEnabled.store(1, relaxed);
    }
    s.cpuThreshold.store(getProfileInt("threshold", "CPU", 100, kConfigFile), relaxed);

    // The defaults come first: a short "NIC.n" text below falls back on them.
    adapters::defaultBytes.store(
        static_cast<std::uint32_t>(getProfileInt("NIC Threshold", "Bytes", 12500000, kConfigFile)),
        relaxed);
    adapters::defaultPackets.store(
        static_cast<std::uint32_t>(getProfileInt("NIC Threshold", "Packets", 250000, kConfigFile)),
        relaxed);
    adapters::defaultFaults.store(
        static_cast<std::uint32_t>(getProfileInt("NIC Threshold", "Faults", -1, kConfigFile)),
        relaxed);
    const int adapterCount = std::min(adapters::nicCount.load(relaxed), adapters::kMaxAdapters);
    for (int i = 1; i <= adapterCount; ++i) {
        const std::string key = platform::formatText("NIC.%d", i);
        adapters::loadAdapterThresholds(i - 1, readText<512>("NIC Threshold", key, ""));
    }

    for (std::size_t i = 0; i < runtime::kEventEntries; ++i) {
        runtime::EventEntry& entry = s.events[i];
        const std::string section = platform::formatText("Event.%d", static_cast<int>(i + 1));
        entry.action.store(
            getProfileInt(section, "Action", entry.action.load(relaxed), kConfigFile), relaxed);
        entry.program.set(readText<120>(section, "Program", ""));
        entry.pager.set(readText<40>(section, "Pager", ""));
    }
}

} // namespace farlink::config
