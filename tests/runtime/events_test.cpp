// Repeated event reports: the first of a kind, then at most one a minute carrying the count of
// those held back. The clock is the fake one, so a minute passes without waiting.
#include "runtime/events.h"

#include "platform/event_log.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace farlink::runtime {
namespace {

constexpr std::uint32_t kAt210310 = 21 * 3600 + 3 * 60 + 10; // 21:03:10 local time

class LimitedEventTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::useMemoryEventLog();
        platform::clearLoggedEvents();
        resetEventLimits();
        platform::useFakeClock(5'000'000, kAt210310);
    }
    void TearDown() override { platform::useRealClock(); }

    // The texts logged since the last call.
    static std::vector<std::string> taken() {
        std::vector<std::string> texts;
        for (const auto& e : platform::loggedEvents()) {
            EXPECT_EQ(e.id, kEventWarning);
            EXPECT_EQ(e.strings.size(), 1u);
            texts.push_back(e.strings.empty() ? "" : e.strings[0]);
        }
        platform::clearLoggedEvents();
        return texts;
    }
};

using Texts = std::vector<std::string>;

TEST_F(LimitedEventTest, FirstIsKeptThenOneAMinuteWithTheCountHeldBack) {
    const auto report = [] {
        reportLimitedEvent(EventKind::WrongCommunity, kEventWarning,
                           "Failed to decode: wrong community");
    };
    report();
    EXPECT_EQ(taken(), Texts{"Failed to decode: wrong community"});

    for (int i = 0; i < 311; ++i) {
        platform::advanceFakeClock(100);
        report();
    }
    platform::advanceFakeClock(59'999 - 311 * 100);
    report(); // the 312th, a millisecond short of the minute
    EXPECT_EQ(taken(), Texts{});

    platform::advanceFakeClock(1);
    report();
    EXPECT_EQ(taken(), Texts{"Failed to decode: wrong community (312 more since 21:03:10)"});

    // The minute counts from that report, and so does the time the next one names.
    platform::advanceFakeClock(30'000);
    report();
    platform::advanceFakeClock(30'000);
    report();
    EXPECT_EQ(taken(), Texts{"Failed to decode: wrong community (1 more since 21:04:10)"});
}

TEST_F(LimitedEventTest, EachKindIsSpacedAndCountedOnItsOwn) {
    reportLimitedEvent(EventKind::FrameTooLong, kEventWarning, "long");
    reportLimitedEvent(EventKind::FrameTooLong, kEventWarning, "long");
    reportLimitedEvent(EventKind::BadUdpChecksum, kEventWarning, "udp");
    platform::advanceFakeClock(10'000);
    reportLimitedEvent(EventKind::MalformedMessage, kEventWarning, "malformed");
    reportLimitedEvent(EventKind::BadUdpChecksum, kEventWarning, "udp");
    reportLimitedEvent(EventKind::BadUdpChecksum, kEventWarning, "udp");
    EXPECT_EQ(taken(), (Texts{"long", "udp", "malformed"}));

    platform::advanceFakeClock(50'000);
    reportLimitedEvent(EventKind::BadUdpChecksum, kEventWarning, "udp");
    reportLimitedEvent(EventKind::MalformedMessage, kEventWarning, "malformed");
    reportLimitedEvent(EventKind::FrameTooLong, kEventWarning, "long");
    EXPECT_EQ(taken(), (Texts{"udp (2 more since 21:03:10)", "long (1 more since 21:03:10)"}));
}

TEST_F(LimitedEventTest, PortThreadsReportingAtOnceLoseNoCount) {
    constexpr int kThreads = 4;
    constexpr int kEach = 2000;
    std::vector<std::thread> ports;
    for (int t = 0; t < kThreads; ++t) {
        ports.emplace_back([] {
            for (int i = 0; i < kEach; ++i)
                reportLimitedEvent(EventKind::DatagramTooShort, kEventWarning, "short");
        });
    }
    for (auto& port : ports)
        port.join();
    EXPECT_EQ(taken(), Texts{"short"});
    platform::advanceFakeClock(kEventSpacingMs);
    reportLimitedEvent(EventKind::DatagramTooShort, kEventWarning, "short");
    EXPECT_EQ(taken(),
              Texts{"short (" + std::to_string(kThreads * kEach - 1) + " more since 21:03:10)"});
}

} // namespace
} // namespace farlink::runtime
