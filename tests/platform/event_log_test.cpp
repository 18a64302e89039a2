#include "platform/event_log.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>
#include <vector>

namespace farlink::platform {
namespace {

using farlink::testing::ScopedEnv;
using farlink::testing::TempProfileDir;

// The file backend's state is process-wide; each case leaves it closed for the next.
class EventLogFile : public ::testing::Test {
  protected:
    void TearDown() override { closeEventSource(); }

    TempProfileDir dir;
    ScopedEnv log{"FARLINK_EVENTLOG", dir.path() + "/events.log"};
};

TEST_F(EventLogFile, EntriesAreKeptOnlyWhileTheSourceIsOpenOneLineEach) {
    {
        ScopedEnv unreachable("FARLINK_EVENTLOG", dir.path() + "/no-such-directory/events.log");
        EXPECT_FALSE(openEventSource("FARLINK"));
    }
    dir.write("events.log", "earlier entry\n");
    EXPECT_FALSE(writeEventEntry(0x40060001, "too early"));
    ASSERT_TRUE(openEventSource("FARLINK"));
    EXPECT_TRUE(writeEventEntry(0x1, "two\nlines"));
    closeEventSource();
    EXPECT_FALSE(writeEventEntry(0x40060001, "too late"));
    EXPECT_EQ(dir.read("events.log"), "earlier entry\n0x00000001 two lines\n");
}

TEST_F(EventLogFile, ThreadsWriteWholeLines) {
    ASSERT_TRUE(openEventSource("FARLINK"));
    const std::string text(200, 'x');
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&] {
            for (int i = 0; i < 100; ++i)
                writeEventEntry(0x40060004, text);
        });
    }
    for (auto& writer : writers)
        writer.join();
    std::istringstream in(dir.read("events.log"));
    int count = 0;
    for (std::string line; std::getline(in, line); ++count)
        ASSERT_EQ(line, "0x40060004 " + text);
    EXPECT_EQ(count, 400);
}

} // namespace
} // namespace farlink::platform
