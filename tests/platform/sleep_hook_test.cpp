#include "platform/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace farlink::platform {
namespace {

std::atomic<std::uint32_t> askedTotal{0};
std::atomic<int> askedCount{0};

void countSleep(std::uint32_t milliseconds) {
    askedTotal += milliseconds;
    ++askedCount;
}

TEST(SleepHook, ReplacesTheSleepOnEveryThreadUntilRemoved) {
    setSleepHook(countSleep);
    // 22 retries of 2 s would take 44 s if the hook did not stand in for the clock.
    for (int retry = 0; retry < 22; ++retry)
        sleepMs(2000);
    std::thread other([] { sleepMs(5); });
    other.join();
    EXPECT_EQ(askedCount.load(), 23);
    EXPECT_EQ(askedTotal.load(), 22u * 2000u + 5u);

    setSleepHook(nullptr);
    sleepMs(1);
    EXPECT_EQ(askedCount.load(), 23) << "the real sleep is back";
}

} // namespace
} // namespace farlink::platform
