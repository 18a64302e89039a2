// The configuration thread and the write-back of the shared agent block's settings.
#include "config/config_thread.h"

#include "config/agent_settings.h"
#include "config/config_file.h"
#include "platform/console.h"
#include "platform/profile.h"
#include "platform/threads.h"
#include "service/shared_block.h"

namespace farlink::config {

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

// Changes arriving this close together are written once: a manager that sets several fields in
// quick succession gets one rewrite of the file, not one per field.
constexpr std::uint32_t kCoalesceMs = 5;

std::atomic<std::uint32_t> writeCount{0};

// Auto-reset: a mark made while the thread is busy writing is kept and seen at its next wait, so
// no change is ever lost, and an idle thread sleeps until there is something to do.
platform::Event& changeSignal() {
    static platform::Event signal(false);
    return signal;
}

// The block's words are signed thresholds: -1 is written as "-1", not as 4294967295.
platform::ProfileEntry threshold(std::string key, std::size_t offset) {
    const auto value = static_cast<std::int32_t>(service::readNumber(offset));
    return {"threshold", std::move(key), platform::formatText("%d", value)};
}

} // namespace

void wakeConfigurationThread() {
    changeSignal().set();
}

void writeConfiguration() {
    writeCount.fetch_add(1, relaxed);
    // All 36 keys go into the file in one rewrite.
    std::vector<platform::ProfileEntry> entries;
    const std::string section = platform::formatText("%s.%d", "manager", 1);
    for (const service::ContactField& contact : service::kContactFields)
        entries.push_back({section, contact.key, service::readText(contact.field)});
    entries.push_back(threshold("I/O BUS", service::kIoBusThreshold));
    entries.push_back(threshold("MEMORY", service::kMemoryThreshold));
    entries.push_back(threshold("Volume Usage", service::kVolumeUsageThreshold));
    for (int k = 1; k <= service::kVolumeEntries; ++k)
        entries.push_back(
            threshold(platform::formatText("UsedVol%d", k),
                      service::kUsedVolumeThresholds + 4 * static_cast<std::size_t>(k - 1)));
    platform::writeProfileStrings(entries, kConfigFile);
}

void configurationThreadUntil(const std::atomic<bool>& quit) {
    // A wake-up left over from before the start means nothing: the flag is cleared here anyway.
    changeSignal().reset();
    configChanged.store(0, relaxed);
    readAgentSettings();

    while (!quit.load(relaxed)) {
        changeSignal().wait(-1);
        if (quit.load(relaxed)) break;
        platform::sleepMs(kCoalesceMs);
        if (quit.load(relaxed)) break;
        // Cleared before the write, so that a SET landing during the write marks the file for
        // another write instead of being cleared away unwritten. A failed write is not retried:
        // the values wait for the next change.
        if (configChanged.exchange(0, relaxed) != 0) writeConfiguration();
    }
}

void configurationThread() {
    static const std::atomic<bool> never{false};
    configurationThreadUntil(never);
}

std::uint32_t configurationWriteCount() {
    return writeCount.load(relaxed);
}

} // namespace farlink::config
