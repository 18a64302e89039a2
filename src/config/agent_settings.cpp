// The agent settings: built-in values, then the configuration file once at the start of the
// configuration thread.
#include "config/agent_settings.h"

#include "adapters/nic.h"
#include "config/config_file.h"
#include "config/config_thread.h"
#include "platform/console.h"
#include "platform/profile.h"

#include <algorithm>
#include <cctype>

namespace farlink::config {

namespace {

using platform::getProfileInt;
using platform::getProfileString;

// The built-in action of each event entry, used until the file or a manager says otherwise.
constexpr std::array<std::int32_t, kEventEntries> kBuiltInActions = {
    0x00010006, 0x00030006, 0x00010006, 0x00050006, 0x00010006, 0x00010006,
    0x00000006, 0x00000006, 0x00000006, 0x00010006, 0x00000006,
};

// A text key read into a buffer of N characters (terminator included), as the setting's field
// is sized.
template <std::size_t N>
std::string readText(std::string_view section, std::string_view key, std::string_view fallback) {
    std::array<char, N> buffer{};
    const std::uint32_t n = getProfileString(section, key, fallback, buffer.data(), N, kConfigFile);
    return std::string(buffer.data(), std::min<std::size_t>(n, N - 1));
}

} // namespace

AgentSettings::AgentSettings() {
    for (std::size_t i = 0; i < kEventEntries; ++i) {
        events[i].number = static_cast<std::uint32_t>(i + 1);
        events[i].action.store(kBuiltInActions[i], std::memory_order_relaxed);
    }
}

AgentSettings agentSettings;

std::atomic<std::uint32_t> configChanged{0};

void markConfigChanged() {
    configChanged.store(1, std::memory_order_relaxed);
    wakeConfigurationThread();
}

void readAgentSettings() {
    constexpr auto relaxed = std::memory_order_relaxed;
    AgentSettings& s = agentSettings;

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

    for (std::size_t i = 0; i < kEventEntries; ++i) {
        EventEntry& entry = s.events[i];
        const std::string section = platform::formatText("Event.%d", static_cast<int>(i + 1));
        entry.action.store(
            getProfileInt(section, "Action", entry.action.load(relaxed), kConfigFile), relaxed);
        entry.program.set(readText<120>(section, "Program", ""));
        entry.pager.set(readText<40>(section, "Pager", ""));
    }
}

} // namespace farlink::config
