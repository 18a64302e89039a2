#include "platform/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace farlink::platform {
namespace {

// Waits (sleeping in short steps) until the condition holds; gives up after a generous number
// of steps so that a fault shows as a failure and not as a hung test.
template <typename Condition> bool eventually(Condition condition) {
    for (int step = 0; step < 20000; ++step) {
        if (condition()) return true;
        sleepMs(1);
    }
    return condition();
}

TEST(Event, AutoResetReleasesOneWaitPerSetAndWakesOneOfTwoWaiters) {
    Event event(false, true);
    EXPECT_TRUE(event.wait(0));
    EXPECT_FALSE(event.wait(0));
    event.set();
    event.set(); // a second set before any wait is not counted twice
    EXPECT_TRUE(event.wait(0));
    EXPECT_FALSE(event.wait(0));
    std::atomic<int> released{0};
    const auto waiter = [&] { released += event.wait(-1) ? 1 : 0; };
    std::thread first(waiter), second(waiter);
    event.set();
    EXPECT_TRUE(eventually([&] { return released.load() >= 1; }));
    sleepMs(50); // room for a wrongly released second waiter to show itself
    EXPECT_EQ(released.load(), 1);
    event.set();
    first.join();
    second.join();
    EXPECT_EQ(released.load(), 2);
}

TEST(StopSignal, WaiterReceivesTheSignalWhicheverThreadItMeets) {
    blockStopSignals();
    ASSERT_EQ(pthread_kill(pthread_self(), SIGINT), 0);
    EXPECT_EQ(waitForStopSignal(), SIGINT);
    // Threads started after the block inherit it, so a signal to the process waits for the
    // waiter instead of ending the process in a thread that does not expect it.
    ASSERT_TRUE(startThread([] { ::kill(::getpid(), SIGTERM); }));
    EXPECT_EQ(waitForStopSignal(), SIGTERM);
}

} // namespace
} // namespace farlink::platform
