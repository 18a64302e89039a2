#include "config/config_thread.h"

#include "platform/event_log.h"

#include "platform/threads.h"
#include "runtime/agent_settings.h"
#include "runtime/shared_block.h"
#include "support/test_data.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace farlink::config {
namespace {

using namespace farlink::runtime;

// A file kept by hand, and the same once the block's values are written back: every key once,
// the rest left as it was, the pager's text where PAGER stands.
std::string originalFile() {
    return farlink::testing::dataText("config/TESSEL.INI");
}

std::string expectedFile(const std::string& pager) {
    std::string text = farlink::testing::dataText("config/TESSEL.INI.written");
    return text.replace(text.find("PAGER"), 5, pager);
}

std::atomic<std::uint32_t> lastSleepMs{0};
// Each pause of the thread is held until the test lets that one pause go on, so that the test
// knows where the thread stands.
platform::Event pauseEntered(false);
platform::Event pauseReleased(false);

void holdSleep(std::uint32_t milliseconds) {
    lastSleepMs.store(milliseconds);
    pauseEntered.set();
    pauseReleased.wait(-1);
}

// A shared agent block of its own, filled as a manager's SETs would leave it, and the
// configuration thread running on it.
class WriteBack : public ::testing::Test {
  protected:
    void SetUp() override {
        // An empty field and one filled to its last character reach the file as they are.
        const std::string texts[7] = {"Ada Keller", "555 0102",   "Main Street 1",     "555 0908",
                                      "",           "pager 7731", std::string(59, 'e')};
        for (int c = 0; c < 7; ++c)
            runtime::writeText(runtime::kContactFields[c].field, texts[c]);
        runtime::writeNumber(runtime::kIoBusThreshold, 0xFFFFFFFF); // -1, a signed threshold
        runtime::writeNumber(runtime::kMemoryThreshold, 4096);
        runtime::writeNumber(runtime::kVolumeUsageThreshold, 85);
        for (std::uint32_t k = 1; k <= 26; ++k)
            runtime::writeNumber(runtime::kUsedVolumeThresholds + 4 * (k - 1), 60 + k);
        dir_.write("TESSEL.INI", originalFile());
        writesBefore_ = configurationWriteCount();
        configChanged.store(0);
        agentSettings.contactRowCount.store(0);
    }
    void TearDown() override {
        if (thread_.joinable()) stop();
        platform::setSleepHook(nullptr);
    }
    void stop() {
        quit_.store(true);
        pauseReleased.set();
        wakeConfigurationThread();
        thread_.join();
    }
    // Write-backs since this case began (the count is process-wide).
    std::uint32_t writes() const { return configurationWriteCount() - writesBefore_; }
    std::string file() const { return dir_.read("TESSEL.INI"); }

    farlink::testing::ScopedSharedBlock block_;
    farlink::testing::TempProfileDir dir_;
    std::atomic<bool> quit_{false};
    std::thread thread_;
    std::uint32_t writesBefore_ = 0;
};

TEST_F(WriteBack, EachChangeIsWrittenOnceAndOnlyAChangeIsWritten) {
    const std::string path = dir_.path() + "/TESSEL.INI";
    pauseEntered.reset();
    pauseReleased.reset();
    platform::setSleepHook(holdSleep);
    loadConfiguration();
    EXPECT_EQ(agentSettings.contactRowCount.load(), 1u);
    thread_ = std::thread([this] { configurationThreadUntil(quit_); });

    markConfigChanged();
    ASSERT_TRUE(pauseEntered.wait(20000));
    EXPECT_EQ(lastSleepMs.load(), 5u);
    markConfigChanged(); // a second SET while the first one's pause runs
    pauseReleased.set();
    // The second mark is taken in by that one write; it only wakes the thread once more.
    ASSERT_TRUE(pauseEntered.wait(20000));
    EXPECT_EQ(writes(), 1u);
    EXPECT_EQ(file(), expectedFile("pager 7731"));

    // A write that fails (a directory in the file's place) is reported with the path and the
    // reason, and stays pending...
    platform::useMemoryEventLog();
    platform::clearLoggedEvents();
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    runtime::writeText(runtime::kPager, "pager 9000");
    markConfigChanged();
    pauseReleased.set();
    ASSERT_TRUE(pauseEntered.wait(20000));
    EXPECT_EQ(writes(), 2u);
    EXPECT_EQ(configChanged.load(), 1u);
    const auto events = platform::loggedEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].id, 0x40060003u);
    EXPECT_EQ(events[0].strings[0].rfind("Failed to write " + path + ": Is a directory", 0), 0u)
        << events[0].strings[0];
    std::filesystem::remove(path);
    dir_.write("TESSEL.INI", originalFile());

    // ...so the next turn of the thread writes it, even without another change.
    pauseReleased.set();
    wakeConfigurationThread();
    ASSERT_TRUE(pauseEntered.wait(20000));
    EXPECT_EQ(writes(), 3u);
    EXPECT_EQ(file(), expectedFile("pager 9000"));
    EXPECT_EQ(configChanged.load(), 0u);

    // What a SET left pending when the agent ends is written then.
    runtime::writeText(runtime::kPager, "pager 1234");
    configChanged.store(1);
    writePendingConfiguration();
    EXPECT_EQ(file(), expectedFile("pager 1234"));
    writePendingConfiguration();
    EXPECT_EQ(writes(), 4u) << "nothing pending, nothing written";
    stop();
    EXPECT_EQ(writes(), 4u);
}

// The file as a rename leaves it: a rewrite always makes a new one.
std::uint64_t inodeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

TEST_F(WriteBack, ASetThatChangesNoKeyDoesNoFileWork) {
    const std::string path = dir_.path() + "/TESSEL.INI";
    auto writePending = [] {
        configChanged.store(1);
        writePendingConfiguration();
    };
    // The file already holds every value of the block: read and compared, not rewritten.
    dir_.write("TESSEL.INI", expectedFile("pager 7731"));
    const std::uint64_t inode = inodeOf(path);
    writePending();
    EXPECT_EQ(inodeOf(path), inode);
    EXPECT_EQ(writes(), 1u);
    // Nothing changed since: not even read again.
    writePending();
    EXPECT_EQ(writes(), 1u);
    EXPECT_EQ(file(), expectedFile("pager 7731"));

    runtime::writeText(runtime::kPager, "pager 5");
    writePending();
    EXPECT_EQ(writes(), 2u);
    EXPECT_EQ(file(), expectedFile("pager 5"));
    EXPECT_NE(inodeOf(path), inode);

    // A block cut short under the agent has no values to give: the file keeps its own (no empty
    // texts and zeros over the administrator's settings) and the change stays pending.
    platform::useMemoryEventLog();
    platform::clearLoggedEvents();
    runtime::writeText(runtime::kPager, "pager 6");
    std::filesystem::resize_file("/dev/shm/" + block_.name(), 100);
    writePending();
    EXPECT_EQ(file(), expectedFile("pager 5"));
    EXPECT_EQ(configChanged.load(), 1u);
    ASSERT_FALSE(platform::loggedEvents().empty());
    EXPECT_NE(platform::loggedEvents().back().strings[0].find("No data available"),
              std::string::npos);
}

} // namespace
} // namespace farlink::config
