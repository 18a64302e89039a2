// The statistics pollers in simulated time: one poll at a time against counters the test sets,
// and the thread's schedule with a sleep that only moves a fake clock.
#include "adapters/poller.h"

#include "adapters/adapter_groups.h"
#include "adapters/adapter_image.h"
#include "adapters/discovery.h"
#include "adapters/nic.h"
#include "platform/event_log.h"
#include "platform/threads.h"
#include "runtime/agent_settings.h"
#include "runtime/stop_flag.h"
#include "support/group_request.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

namespace farlink::adapters {
namespace {

using testing::AdapterImage;

constexpr auto relaxed = std::memory_order_relaxed;

constexpr std::uint32_t kXmitOk = 0x00020101;         // slot 0, packets
constexpr std::uint32_t kRcvOk = 0x00020102;          // slot 1, packets
constexpr std::uint32_t kLateCollisions = 0x01020207; // slot 28 on 802.3
constexpr std::uint32_t kTokenErrors = 0x02020206;    // slot 28 on 802.5

// One Ethernet adapter "Eth" and one Token Ring adapter "Tok" whose counters the test sets,
// found and filled as at start-up but without their threads.
class Poller : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* service : {"Eth", "Tok"}) {
            image.card(service == std::string("Eth") ? "1" : "2", service, service,
                       "[1] " + std::string(service));
            image.resources(service, service, {});
        }
        image.identity("Eth", 0, "ethernet");
        image.identity("Tok", 1, "token ring");
        image.supported("Eth", {kXmitOk, kRcvOk, kLateCollisions, 0x00010102});
        image.supported("Tok", {kRcvOk, kTokenErrors});
        image.commit();
        ASSERT_EQ(discoverAdapters(), 2);
        for (int a = 0; a < 2; ++a)
            ASSERT_TRUE(buildPolledOidList(a) && fillAdapterRecord(a));
        runtime::agentSettings.pollingInterval.store(1, relaxed);
        platform::useMemoryEventLog();
        platform::clearLoggedEvents();
        platform::useFakeClock(1'000'000, 0);
        clearThresholdMessage();
    }
    void TearDown() override {
        platform::useRealClock();
        platform::setSleepHook(nullptr);
        runtime::stopFlag.store(0, relaxed);
    }

    // Sets the Ethernet adapter's counters and polls it once.
    void pollEth(std::uint64_t xmit, std::uint64_t rcv, std::uint64_t late) {
        image.counter("Eth", kXmitOk, xmit);
        image.counter("Eth", kRcvOk, rcv);
        image.counter("Eth", kLateCollisions, late);
        pollAdapter(0, eth);
    }

    AdapterImage image;
    PollerState eth;
};

// The first poll takes baselines only. Then counters are taken modulo 2^32: one that passed
// 0xFFFFFFFF grew by the difference, and the upper half of a 64-bit answer plays no part.
TEST_F(Poller, FirstPollTakesBaselinesThenDeltasAreTakenModulo2To32) {
    nicThresholds[0][1].store(0, relaxed);
    pollEth(0xFFFFFFF0, 0x1'FFFF'FFF0, 3);
    EXPECT_EQ(thresholdMessage(), "");
    EXPECT_EQ(exceededLatch[0][1].load(), 0);
    EXPECT_FALSE(eth.firstPoll);
    EXPECT_EQ(nicInfo[0].lastCounters[0].load(), 0xFFFFFFF0u);
    EXPECT_EQ(nicInfo[0].lastCounters[28].load(), 3u);
    EXPECT_EQ(nicInfo[0].lastCounters[2].load(), 0xFFFFFFFFu) << "a slot the adapter lacks";
    pollEth(0x10, 0x2'0000'0010, 3);
    EXPECT_EQ(eth.deltas[0], 0x20u);
    EXPECT_EQ(eth.deltas[1], 0x20u);
    EXPECT_EQ(nicInfo[0].lastCounters[1].load(), 0x10u);
}

TEST_F(Poller, GeneralCounterIsComparedWithThresholdTimesInterval) {
    applyPacketsDefault(0, 250'000);
    applyFaultsDefault(0, 0xFFFFFFFF);
    pollEth(0, 0, 0);
    pollEth(250'000, 250'001, 0);
    EXPECT_EQ(thresholdMessage(), "Threshold of OID_GEN_RCV_OK exceeded. Threshold limit is "
                                  "250000, current value is 250001\n");
    EXPECT_EQ(exceededLatch[0][0].load(), 0);
    EXPECT_EQ(exceededLatch[0][1].load(), 1);
}

// A lasting excess is reported, then the slot rests a poll, then it is reported again; the event
// log hears of it once within the minute.
TEST_F(Poller, LatchAlternatesAndTheEventLogIsSpaced) {
    applyPacketsDefault(0, 100);
    std::uint64_t rcv = 0;
    pollEth(0, rcv, 0);
    std::vector<std::uint8_t> latches;
    for (int poll = 0; poll < 5; ++poll) {
        clearThresholdMessage();
        rcv += 1000;
        pollEth(0, rcv, 0);
        latches.push_back(exceededLatch[0][1].load());
        EXPECT_EQ(thresholdMessage().empty(), poll % 2 == 1) << poll;
    }
    EXPECT_EQ(latches, (std::vector<std::uint8_t>{1, 0, 1, 0, 1}));
    ASSERT_EQ(platform::loggedEvents().size(), 1u);
    EXPECT_EQ(platform::loggedEvents()[0].id, 0x40060004u);
}

// threshold x interval saturates instead of wrapping round to a small limit (the 802.x slots
// take no interval); an interval of 0 or less counts as one second.
TEST_F(Poller, LimitSaturatesAndAnIntervalBelowOneCountsAsOne) {
    EXPECT_EQ(pollLimit(1, 0x8000'0000, 2), 0xFFFFFFFFu);
    EXPECT_EQ(pollLimit(1, 250'000, 4), 1'000'000u);
    EXPECT_EQ(pollLimit(28, 0x8000'0000, 2), 0x8000'0000u);
    for (std::int32_t configured : {0, -5, INT32_MIN}) {
        runtime::agentSettings.pollingInterval.store(configured, relaxed);
        EXPECT_EQ(pollingIntervalSeconds(), 1u) << configured;
    }
}

// A failed or short answer skips the counter for this poll and leaves its value and latch.
TEST_F(Poller, FailedOrShortAnswerSkipsTheCounter) {
    applyPacketsDefault(0, 100);
    pollEth(5, 5, 0);
    image.answer("Eth", kRcvOk, {1, 2});
    std::filesystem::remove(image.dir.path() + "/devices/Eth/00170002/01020207.bin");
    image.counter("Eth", kXmitOk, 6);
    pollAdapter(0, eth);
    EXPECT_EQ(nicInfo[0].lastCounters[0].load(), 6u);
    EXPECT_EQ(nicInfo[0].lastCounters[1].load(), 5u);
    EXPECT_EQ(nicInfo[0].lastCounters[28].load(), 0u);
}

// The thread in simulated time: 60 s, then one poll per interval, until the stop flag.
std::vector<std::uint32_t> sleeps;
int stopAfterSleeps = 0;

TEST_F(Poller, ThreadWaitsAMinuteThenPollsEveryIntervalUntilStopped) {
    sleeps.clear();
    runtime::agentSettings.pollingInterval.store(2, relaxed);
    image.counter("Eth", kXmitOk, 1);
    image.counter("Eth", kRcvOk, 1);
    image.counter("Eth", kLateCollisions, 1);
    stopAfterSleeps = 60 + 2 * 3;
    platform::setSleepHook([](std::uint32_t ms) {
        sleeps.push_back(ms);
        platform::advanceFakeClock(ms);
        if (static_cast<int>(sleeps.size()) == stopAfterSleeps) runtime::stopFlag.store(1);
    });
    adapterPoller(0);
    EXPECT_EQ(sleeps.size(), 66u);
    for (std::uint32_t ms : sleeps)
        EXPECT_EQ(ms, 1000u);
    // Three polls ran (after 60, 62 and 64 simulated seconds); the fourth was stopped.
    EXPECT_EQ(nicInfo[0].lastCounters[0].load(), 1u);

    // Stopped while waiting for the first poll: no poll at all.
    sleeps.clear();
    runtime::stopFlag.store(0);
    stopAfterSleeps = 10;
    adapterPoller(1);
    EXPECT_EQ(sleeps.size(), 10u);
    EXPECT_EQ(nicInfo[1].lastCounters[1].load(), 0xFFFFFFFFu);
}

// Eight pollers at full speed while requests read every adapter table and SETs change
// thresholds and defaults: the pollers end with the stop flag, and ThreadSanitizer has its say.
TEST(PollerThreads, EightPollersBesideReadsAndSets) {
    AdapterImage image;
    for (int i = 1; i <= 8; ++i) {
        const std::string service = "N" + std::to_string(i);
        image.card(std::to_string(i), service, service, "[x] " + service);
        image.resources(service, service, {});
        image.identity(service, i % 2, service);
        image.supported(service, {kXmitOk, kRcvOk, kLateCollisions, kTokenErrors});
        image.counter(service, kXmitOk, 1);
        image.counter(service, kRcvOk, 2);
    }
    image.commit();
    platform::useMemoryEventLog();
    platform::setSleepHook([](std::uint32_t) { std::this_thread::yield(); });
    const int before = platform::runningThreads();
    ASSERT_EQ(initNic(), 1);
    ASSERT_EQ(nicCount.load(), 8);
    EXPECT_EQ(platform::runningThreads(), before + 8);
    auto allPolled = [] {
        for (int a = 0; a < 8; ++a)
            if (nicInfo[a].lastCounters[1].load() != 2u) return false;
        return true;
    };
    for (int round = 0; round < 200 || !allPolled(); ++round) {
        testing::GroupRequest get(snmp::kGetNextRequest);
        get.add({2, 5, 1, 1, 2, 3});
        get.run(generalStatisticsGet, {2, 5, 1, 1});
        testing::GroupRequest set(snmp::kSetRequest);
        set.addInteger({2, 5, 2, 1, 2, static_cast<std::uint32_t>(round % 8)}, 1);
        set.run(generalThresholdsSet, {2, 5, 2, 1});
        testing::GroupRequest message(snmp::kGetRequest);
        message.add({7, 1, 0});
        message.run(thresholdMessageGet, {7});
    }
    runtime::stopFlag.store(1);
    while (platform::runningThreads() != before)
        std::this_thread::yield();
    runtime::stopFlag.store(0);
    platform::setSleepHook(nullptr);
    for (int a = 0; a < 8; ++a)
        EXPECT_EQ(nicInfo[a].lastCounters[1].load(), 2u) << a;
}

} // namespace
} // namespace farlink::adapters
