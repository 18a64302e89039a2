// The configuration thread and the write-back of the shared agent block's settings.
#include "config/config_thread.h"

#include "config/settings_reader.h"
#include "platform/console.h"
#include "platform/profile.h"
#include "platform/threads.h"
#include "runtime/agent_settings.h"
#include "runtime/events.h"
#include "runtime/shared_block.h"

#include <cerrno>
#include <mutex>
#include <vector>

namespace farlink::config {

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

// Changes arriving this close together are written once: a manager that sets several fields in
// quick succession gets one rewrite of the file, not one per field.
constexpr std::uint32_t kCoalesceMs = 5;

// A write that failed (a read-only directory, a full disk) is tried again with the next change,
// and at the latest after this long.
constexpr int kRetryMs = 60'000;

std::atomic<std::uint32_t> writeCount{0};

// The block's words are signed thresholds: -1 is written as "-1", not as 4294967295.
platform::ProfileEntry threshold(const runtime::BlockCopy& block, std::string key,
                                 std::size_t offset) {
    const auto value = static_cast<std::int32_t>(block.number(offset));
    return {"threshold", std::move(key), platform::formatText("%d", value)};
}

// The operator learns where and why; the values stay pending.
void reportWriteFailure() {
    const int error = platform::lastError();
    runtime::reportEvent(runtime::kEventWriteThread,
                         platform::formatText("Failed to write %s: %s (error %d); the changed "
                                              "settings are kept and written again later",
                                              platform::profilePath(runtime::kConfigFile).c_str(),
                                              platform::errorText(error).c_str(), error));
    runtime::configChanged.store(1, relaxed);
}

// The thread's turn and the write at the agent's end must not overlap: a write the thread has
// taken the flag for must be finished before the process may end on the strength of finding the
// flag clear. Cleared before the write, so that a SET landing during the write marks the file for
// another write instead of being cleared away unwritten; a failed write marks it again.
void writeIfChanged() {
    static std::mutex turn;
    std::lock_guard lock(turn);
    if (runtime::configChanged.exchange(0, relaxed) != 0 && !writeConfiguration())
        reportWriteFailure();
}

} // namespace

void wakeConfigurationThread() {
    runtime::wakeConfigWriter();
}

bool writeConfiguration() {
    // All 36 keys go into the file in one rewrite, from one copy of the block.
    runtime::BlockCopy block;
    if (!runtime::copySharedBlock(block)) {
        // Without the block's values (none attached, or cut short under the agent) the file
        // keeps its own rather than taking empty texts and zeros; the change stays pending.
        platform::setLastError(ENODATA);
        return false;
    }
    std::vector<platform::ProfileEntry> entries;
    const std::string section = platform::formatText("%s.%d", "manager", 1);
    for (const runtime::ContactField& contact : runtime::kContactFields)
        entries.push_back({section, contact.key, block.text(contact.field)});
    entries.push_back(threshold(block, "I/O BUS", runtime::kIoBusThreshold));
    entries.push_back(threshold(block, "MEMORY", runtime::kMemoryThreshold));
    entries.push_back(threshold(block, "Volume Usage", runtime::kVolumeUsageThreshold));
    for (int k = 1; k <= runtime::kVolumeEntries; ++k)
        entries.push_back(
            threshold(block, platform::formatText("UsedVol%d", k),
                      runtime::kUsedVolumeThresholds + 4 * static_cast<std::size_t>(k - 1)));

    // A SET that leaves every key as this agent last wrote or found it (an event action, which
    // the file never holds, or a value set to what it was) costs no file work at all, as long as
    // nobody else has changed the file since.
    static std::mutex lastMutex;
    static std::vector<platform::ProfileEntry> lastEntries;
    static std::string lastPath;
    static std::uint64_t lastVersion = 0;
    std::lock_guard lock(lastMutex);
    const std::string path = platform::profilePath(runtime::kConfigFile);
    if (lastVersion != 0 && path == lastPath && lastVersion == platform::fileVersion(path) &&
        entries == lastEntries)
        return true;
    writeCount.fetch_add(1, relaxed);
    const bool written = platform::writeProfileStrings(entries, runtime::kConfigFile);
    lastPath = path;
    lastVersion = written ? platform::fileVersion(path) : 0;
    lastEntries = written ? std::move(entries) : std::vector<platform::ProfileEntry>{};
    return written;
}

void writePendingConfiguration() {
    writeIfChanged();
}

void loadConfiguration() {
    // A rewrite cut short by a kill leaves its temporary copy (with the password in it) beside
    // the file; nothing writes it yet, so whatever is left now is stale.
    platform::removeStaleRewrites(runtime::kConfigFile);
    // A wake-up left over from before the start means nothing. Cleared here and not when the
    // thread gets going: by then a port may already have taken a SET whose change must be written.
    runtime::waitForConfigChange(0);
    runtime::configChanged.store(0, relaxed);
    readAgentSettings();
}

void configurationThreadUntil(const std::atomic<bool>& quit) {
    while (!quit.load(relaxed)) {
        // Idle until a change, unless a failed write waits to be tried again.
        const bool pending = runtime::configChanged.load(relaxed) != 0;
        const bool woken = runtime::waitForConfigChange(pending ? kRetryMs : -1);
        if (quit.load(relaxed)) break;
        if (woken) platform::sleepMs(kCoalesceMs);
        if (quit.load(relaxed)) break;
        writeIfChanged();
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
