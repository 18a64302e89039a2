// The agent settings as they stand while the agent serves, with their built-in values.
#include "runtime/agent_settings.h"

#include "platform/threads.h"

namespace farlink::runtime {

namespace {

// The built-in action of each event entry, used until the file or a manager says otherwise.
constexpr std::array<std::int32_t, kEventEntries> kBuiltInActions = {
    0x00010006, 0x00030006, 0x00010006, 0x00050006, 0x00010006, 0x00010006,
    0x00000006, 0x00000006, 0x00000006, 0x00010006, 0x00000006,
};

// Auto-reset: a mark made while the writer is busy is kept and seen at its next wait, and an
// idle writer sleeps until there is something to do.
platform::Event& changeSignal() {
    static platform::Event signal(false);
    return signal;
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
    wakeConfigWriter();
}

void wakeConfigWriter() {
    changeSignal().set();
}

bool waitForConfigChange(int timeoutMs) {
    return changeSignal().wait(timeoutMs);
}

} // namespace farlink::runtime
