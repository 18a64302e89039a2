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

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The file backend's state is process-wide; each case leaves it closed for the next.
class EventLogFile : public ::testing::Test {
  protected:
    void TearDown() override { closeEventSource(); }
};

TEST_F(EventLogFile, OneLinePerEntryWithTheIdInHex) {
    TempProfileDir dir;
    ScopedEnv log("FARLINK_EVENTLOG", dir.path() + "/events.log");
    dir.write("events.log", "earlier entry\n");
    ASSERT_TRUE(openEventSource("FARLINK"));
    EXPECT_TRUE(eventSourceOpen());
    EXPECT_TRUE(writeEventEntry(0x40060001, " Failed to configure COM PORT 2"));
    EXPECT_TRUE(writeEventEntry(0x40060004, "Failed to decode: "));
    EXPECT_TRUE(writeEventEntry(0x1, "two\nlines"));
    EXPECT_EQ(dir.read("events.log"), "earlier entry\n"
                                      "0x40060001  Failed to configure COM PORT 2\n"
                                      "0x40060004 Failed to decode: \n"
                                      "0x00000001 two lines\n");
}

TEST_F(EventLogFile, EntriesBeforeOpenOrAfterCloseAreLost) {
    TempProfileDir dir;
    ScopedEnv log("FARLINK_EVENTLOG", dir.path() + "/events.log");
    EXPECT_FALSE(eventSourceOpen());
    EXPECT_FALSE(writeEventEntry(0x40060001, "too early"));
    ASSERT_TRUE(openEventSource("FARLINK"));
    EXPECT_TRUE(writeEventEntry(0x40060003, "kept"));
    closeEventSource();
    EXPECT_FALSE(eventSourceOpen());
    EXPECT_FALSE(writeEventEntry(0x40060001, "too late"));
    EXPECT_EQ(dir.read("events.log"), "0x40060003 kept\n");
}

TEST_F(EventLogFile, UnreachableFileFailsTheOpen) {
    TempProfileDir dir;
    ScopedEnv log("FARLINK_EVENTLOG", dir.path() + "/no-such-directory/events.log");
    EXPECT_FALSE(openEventSource("FARLINK"));
    EXPECT_FALSE(eventSourceOpen());
}

TEST_F(EventLogFile, ThreadsWriteWholeLines) {
    TempProfileDir dir;
    ScopedEnv log("FARLINK_EVENTLOG", dir.path() + "/events.log");
    ASSERT_TRUE(openEventSource("FARLINK"));
    constexpr int kThreads = 4;
    constexpr int kEach = 100;
    const std::string text(200, 'x');
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&] {
            for (int i = 0; i < kEach; ++i)
                writeEventEntry(0x40060004, text);
        });
    }
    for (auto& writer : writers)
        writer.join();
    const std::vector<std::string> lines = linesOf(dir.read("events.log"));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kEach));
    for (const std::string& line : lines)
        ASSERT_EQ(line, "0x40060004 " + text);
}

TEST(EventLogMemory, EntriesCarryOneStringOfErrorTypeAndCategoryZero) {
    useMemoryEventLog();
    EXPECT_TRUE(eventSourceOpen()) << "the in-memory log needs no registration";
    EXPECT_TRUE(writeEventEntry(0x40060004, "Configuration file does not exist: 2"));
    closeEventSource();
    EXPECT_TRUE(writeEventEntry(0x40060001, "MapViewOf File Failure"));
    const std::vector<LoggedEvent> events = loggedEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].id, 0x40060004u);
    EXPECT_EQ(events[0].type, 1);
    EXPECT_EQ(events[0].category, 0);
    EXPECT_EQ(events[0].strings, std::vector<std::string>{"Configuration file does not exist: 2"});
    EXPECT_EQ(events[1].id, 0x40060001u);
    EXPECT_EQ(events[1].strings, std::vector<std::string>{"MapViewOf File Failure"});
    clearLoggedEvents();
    EXPECT_TRUE(loggedEvents().empty());
}

} // namespace
} // namespace farlink::platform
