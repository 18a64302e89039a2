#include "adapters/poller.h"

#include "adapters/discovery.h"
#include "platform/console.h"
#include "platform/event_log.h"
#include "platform/threads.h"
#include "runtime/agent_settings.h"
#include "runtime/events.h"
#include "runtime/stop_flag.h"

#include <algorithm>

namespace farlink::adapters {

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

struct SlotOid {
    std::uint32_t oid;
    int slot;
    std::string_view name;
};

// Every polled statistic with its slot and its name in the threshold message.
constexpr std::array<SlotOid, 39> kSlotOids = {{
    {0x00020101, 0, "OID_GEN_XMIT_OK"},
    {0x00020102, 1, "OID_GEN_RCV_OK"},
    {0x00020103, 2, "OID_GEN_XMIT_ERROR"},
    {0x00020104, 3, "OID_GEN_RCV_ERROR"},
    {0x00020105, 4, "OID_GEN_RCV_NO_BUFFER"},
    {0x00020201, 5, "OID_GEN_DIRECTED_BYTES_XMIT"},
    {0x00020202, 6, "OID_GEN_DIRECTED_FRAMES_XMIT"},
    {0x00020203, 7, "OID_GEN_MULTICAST_BYTES_XMIT"},
    {0x00020204, 8, "OID_GEN_MULTICAST_FRAMES_XMIT"},
    {0x00020205, 9, "OID_GEN_BROADCAST_BYTES_XMIT"},
    {0x00020206, 10, "OID_GEN_BROADCAST_FRAMES_XMIT"},
    {0x00020207, 11, "OID_GEN_DIRECTED_BYTES_RCV"},
    {0x00020208, 12, "OID_GEN_DIRECTED_FRAMES_RCV"},
    {0x00020209, 13, "OID_GEN_MULTICAST_BYTES_RCV"},
    {0x0002020A, 14, "OID_GEN_MULTICAST_FRAMES_RCV"},
    {0x0002020B, 15, "OID_GEN_BROADCAST_BYTES_RCV"},
    {0x0002020C, 16, "OID_GEN_BROADCAST_FRAMES_RCV"},
    {0x0002020D, 17, "OID_GEN_RCV_CRC_ERROR"},
    {0x0002020E, 18, "OID_GEN_TRANSMIT_QUEUE_LENGTH"},
    {0x01020101, 19, "OID_802_3_RCV_ERROR_ALIGNMENT"},
    {0x01020102, 20, "OID_802_3_XMIT_ONE_COLLISION"},
    {0x01020103, 21, "OID_802_3_XMIT_MORE_COLLISIONS"},
    {0x01020201, 22, "OID_802_3_XMIT_DEFERRED"},
    {0x01020202, 23, "OID_802_3_XMIT_MAX_COLLISIONS"},
    {0x01020203, 24, "OID_802_3_RCV_OVERRUN"},
    {0x01020204, 25, "OID_802_3_XMIT_UNDERRUN"},
    {0x01020205, 26, "OID_802_3_XMIT_HEARTBEAT_FAILURE"},
    {0x01020206, 27, "OID_802_3_XMIT_TIMES_CRS_LOST"},
    {0x01020207, 28, "OID_802_3_XMIT_LATE_COLLISIONS"},
    {0x02020202, 19, "OID_802_5_AC_ERRORS"},
    {0x02020203, 20, "OID_802_5_ABORT_DELIMITERS"},
    {0x02020201, 21, "OID_802_5_BURST_ERRORS"},
    {0x02020204, 22, "OID_802_5_FRAME_COPIED_ERRORS"},
    {0x02020205, 23, "OID_802_5_FREQUENCY_ERRORS"},
    {0x02020207, 24, "OID_802_5_INTERNAL_ERRORS"},
    {0x02010106, 25, "OID_802_5_CURRENT_RING_STATUS"},
    {0x02020101, 26, "OID_802_5_LINE_ERRORS"},
    {0x02020102, 27, "OID_802_5_LOST_FRAMES"},
    {0x02020206, 28, "OID_802_5_TOKEN_ERRORS"},
}};

constexpr const SlotOid* findOid(std::uint32_t oid) {
    for (const SlotOid& entry : kSlotOids)
        if (entry.oid == oid) return &entry;
    return nullptr;
}

// The general counters are thresholds per second; the 802.x error counters per poll.
constexpr int kFirstPerPollSlot = 19;

// A counter that stays above its threshold is reported in the message every second poll; the
// event log hears of each counter at most once a minute, so that a busy adapter cannot flood it.
constexpr std::uint64_t kEventSpacingMs = 60'000;
std::array<std::array<std::atomic<std::uint64_t>, kCounterSlots>, kMaxAdapters> lastEventMs{};
std::array<std::array<std::atomic<bool>, kCounterSlots>, kMaxAdapters> eventLogged{};

void logCrossing(int adapter, int slot, std::string_view name, std::uint32_t delta,
                 std::uint32_t threshold) {
    const std::uint64_t now = platform::monotonicMs();
    auto& logged = eventLogged[static_cast<std::size_t>(adapter)][static_cast<std::size_t>(slot)];
    auto& last = lastEventMs[static_cast<std::size_t>(adapter)][static_cast<std::size_t>(slot)];
    if (logged.load(relaxed) && now - last.load(relaxed) < kEventSpacingMs) return;
    logged.store(true, relaxed);
    last.store(now, relaxed);
    runtime::reportEvent(
        runtime::kEventWarning,
        platform::formatText("Adapter %d: threshold of %.*s exceeded. Threshold limit is %u, "
                             "current value is %u",
                             adapter, static_cast<int>(name.size()), name.data(), threshold,
                             delta));
}

// Sleeps in slices of at most a second, so that a stop is seen within one; false once the stop
// flag is set.
bool sleepUnlessStopped(std::uint64_t milliseconds) {
    while (milliseconds > 0) {
        if (runtime::stopRequested()) return false;
        const auto slice = static_cast<std::uint32_t>(std::min<std::uint64_t>(milliseconds, 1000));
        platform::sleepMs(slice);
        milliseconds -= slice;
    }
    return !runtime::stopRequested();
}

} // namespace

int counterSlot(std::uint32_t oid) {
    const SlotOid* entry = findOid(oid);
    return entry != nullptr ? entry->slot : -1;
}

std::string_view counterName(std::uint32_t oid) {
    const SlotOid* entry = findOid(oid);
    return entry != nullptr ? entry->name : std::string_view{};
}

std::uint32_t pollingIntervalSeconds() {
    const std::int32_t configured = runtime::agentSettings.pollingInterval.load(relaxed);
    return configured < 1 ? 1u : static_cast<std::uint32_t>(configured);
}

std::uint32_t pollLimit(int slot, std::uint32_t threshold, std::uint32_t intervalSeconds) {
    if (slot >= kFirstPerPollSlot) return threshold;
    const std::uint64_t limit = std::uint64_t{threshold} * intervalSeconds;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(limit, 0xFFFFFFFF));
}

void pollAdapter(int adapter, PollerState& state) {
    if (adapter < 0 || adapter >= kMaxAdapters) return;
    const auto a = static_cast<std::size_t>(adapter);
    const PolledOidList& list = polledOids[a];
    NicInfo& info = nicInfo[a];
    const std::uint32_t count = std::min<std::uint32_t>(list.count, kMaxPolledOids);
    for (std::uint32_t n = 0; n < count; ++n) {
        const std::uint32_t oid = list.oids[n];
        std::array<std::uint8_t, 8> answer{};
        std::uint32_t returned = 0;
        // A short answer is as good as none: its missing bytes would be taken from nowhere.
        if (!adapterQuery(adapter, oid, answer, returned) || returned < 4) continue;
        const SlotOid* entry = findOid(oid);
        if (entry == nullptr) continue;
        const auto k = static_cast<std::size_t>(entry->slot);
        const std::uint32_t value = std::uint32_t{answer[0]} | std::uint32_t{answer[1]} << 8 |
                                    std::uint32_t{answer[2]} << 16 | std::uint32_t{answer[3]} << 24;
        // Modulo 2^32: a counter that wrapped still grew by the difference.
        state.deltas[k] = value - info.lastCounters[k].load(relaxed);
        info.lastCounters[k].store(value, relaxed);
        if (state.firstPoll) continue;

        const std::uint32_t threshold = nicThresholds[a][k].load(relaxed);
        const std::uint32_t limit = pollLimit(entry->slot, threshold, pollingIntervalSeconds());
        auto& latch = exceededLatch[a][k];
        // After a report the slot rests one poll, so a lasting excess is reported every other.
        if (latch.load(relaxed) == 0 && state.deltas[k] > limit) {
            reportExceeded(entry->name, state.deltas[k], threshold);
            logCrossing(adapter, entry->slot, entry->name, state.deltas[k], threshold);
            latch.store(1, relaxed);
        } else {
            latch.store(0, relaxed);
        }
    }
    state.firstPoll = false;
}

void adapterPoller(int adapter) {
    if (!sleepUnlessStopped(kFirstPollDelayMs)) return;
    PollerState state;
    for (;;) {
        const std::uint64_t start = platform::monotonicMs();
        pollAdapter(adapter, state);
        const std::uint64_t periodMs = std::uint64_t{pollingIntervalSeconds()} * 1000;
        const std::uint64_t elapsed = platform::monotonicMs() - start;
        // A poll that took the whole interval is followed by the next at once.
        const std::uint64_t rest = elapsed < periodMs ? periodMs - elapsed : 0;
        if (!sleepUnlessStopped(rest)) return;
    }
}

void forgetLoggedCrossings() {
    for (auto& slots : eventLogged)
        for (auto& logged : slots)
            logged.store(false, relaxed);
}

bool startPoller(int adapter) {
    return platform::startThread([adapter] { adapterPoller(adapter); });
}

} // namespace farlink::adapters
