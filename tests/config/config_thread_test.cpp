#include "config/config_thread.h"

#include "config/agent_settings.h"
#include "platform/profile.h"
#include "platform/shared_memory.h"
#include "platform/threads.h"
#include "service/shared_block.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>

namespace farlink::config {
namespace {

using farlink::testing::ScopedEnv;
using farlink::testing::TempProfileDir;

constexpr auto relaxed = std::memory_order_relaxed;

// Generous: only a thread that never gets there fails the test; nothing here measures speed.
constexpr auto kPatience = std::chrono::seconds(20);

template <class Condition> bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// A shared agent block of its own for each case, as the in-band agent would create it.
class TestBlock {
  public:
    TestBlock()
        : name_("farlink-writeback-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name()),
          env_("FARLINK_SHM_NAME", name_) {
        if (platform::createSharedMapping(platform::sharedBlockName(), service::kSharedBlockSize,
                                          mapping_))
            service::attachSharedBlock({mapping_.base, mapping_.size});
    }
    ~TestBlock() {
        service::attachSharedBlock({});
        platform::closeSharedMapping(mapping_);
        platform::removeSharedMapping(name_);
    }

  private:
    std::string name_;
    ScopedEnv env_;
    platform::SharedMapping mapping_;
};

constexpr const char* kContactTexts[7] = {"Ada Keller",
                                          "+41 44 555 01 02",
                                          "Bahnhofstrasse 1, 8001 Zurich",
                                          "+41 44 555 09 08",
                                          "Seeweg 7, 8700 Kusnacht",
                                          "pager 7731",
                                          "ada.keller@example.net"};

void fillBlock() {
    for (int c = 0; c < 7; ++c)
        service::writeText(service::kContactFields[c].field, kContactTexts[c]);
    service::writeNumber(service::kIoBusThreshold, 0xFFFFFFFF); // -1, a signed threshold
    service::writeNumber(service::kMemoryThreshold, 4096);
    service::writeNumber(service::kVolumeUsageThreshold, 85);
    for (std::size_t k = 1; k <= 26; ++k)
        service::writeNumber(service::kUsedVolumeThresholds + 4 * (k - 1),
                             static_cast<std::uint32_t>(60 + k));
}

std::string readKey(const char* section, const std::string& key) {
    char buffer[200];
    platform::getProfileString(section, key, "<missing>", buffer, sizeof buffer, "TESSEL.INI");
    return buffer;
}

// Every written key holds the value the block gave it.
void expectWrittenFromBlock() {
    for (int c = 0; c < 7; ++c)
        EXPECT_EQ(readKey("manager.1", service::kContactFields[c].key), kContactTexts[c]) << c;
    EXPECT_EQ(readKey("threshold", "I/O BUS"), "-1");
    EXPECT_EQ(readKey("threshold", "MEMORY"), "4096");
    EXPECT_EQ(readKey("threshold", "Volume Usage"), "85");
    for (int k = 1; k <= 26; ++k)
        EXPECT_EQ(readKey("threshold", "UsedVol" + std::to_string(k)), std::to_string(60 + k));
}

constexpr const char* kOriginalFile = "; FARLINK settings, kept by hand\n"
                                      "[environment]\n"
                                      "Polling Interval=3\n"
                                      "\n"
                                      "; the contact of the night shift\n"
                                      "[manager.1]\n"
                                      "name=Old Name\n"
                                      "\n"
                                      "[threshold]\n"
                                      "temp1=540 ; degrees times ten\n"
                                      "MEMORY=1\n"
                                      "\n"
                                      "[Serial Port Parameters.1]\n"
                                      "PortNumber=COM1\n";

class WriteBack : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(service::sharedBlockAttached());
        dir_.write("TESSEL.INI", kOriginalFile);
        writesBefore_ = configurationWriteCount();
        configChanged.store(0, relaxed);
        agentSettings.contactRowCount.store(0, relaxed);
    }
    void TearDown() override {
        if (thread_.joinable()) stopThread();
        platform::setSleepHook(nullptr);
    }

    void startThread() {
        thread_ = std::thread([this] { configurationThreadUntil(quit_); });
        // The settings are read first; once they are, the thread is at (or on its way to) its
        // wait.
        ASSERT_TRUE(eventually([] { return agentSettings.contactRowCount.load() == 1; }));
    }
    void stopThread() {
        quit_.store(true);
        wakeConfigurationThread();
        thread_.join();
    }
    // Write-backs since this case began (the count is process-wide).
    std::uint32_t writes() const { return configurationWriteCount() - writesBefore_; }
    std::string file() const { return dir_.read("TESSEL.INI"); }
    std::filesystem::file_time_type fileTime() const {
        return std::filesystem::last_write_time(dir_.path() + "/TESSEL.INI");
    }

    TempProfileDir dir_;
    TestBlock block_;
    std::atomic<bool> quit_{false};
    std::thread thread_;
    std::uint32_t writesBefore_ = 0;
};

TEST_F(WriteBack, WritesEveryKeyInOrderAndKeepsTheRestOfTheFile) {
    fillBlock();
    writeConfiguration();
    expectWrittenFromBlock();

    std::string expected = "; FARLINK settings, kept by hand\n"
                           "[environment]\n"
                           "Polling Interval=3\n"
                           "\n"
                           "; the contact of the night shift\n"
                           "[manager.1]\n"
                           "name=Ada Keller\n"
                           "OfficePhone=+41 44 555 01 02\n"
                           "OfficeAddr=Bahnhofstrasse 1, 8001 Zurich\n"
                           "HomePhone=+41 44 555 09 08\n"
                           "HomeAddr=Seeweg 7, 8700 Kusnacht\n"
                           "Pager=pager 7731\n"
                           "EMail=ada.keller@example.net\n"
                           "\n"
                           "[threshold]\n"
                           "temp1=540 ; degrees times ten\n"
                           "MEMORY=4096\n"
                           "I/O BUS=-1\n"
                           "Volume Usage=85\n";
    for (int k = 1; k <= 26; ++k)
        expected += "UsedVol" + std::to_string(k) + "=" + std::to_string(60 + k) + "\n";
    expected += "\n"
                "[Serial Port Parameters.1]\n"
                "PortNumber=COM1\n";
    EXPECT_EQ(file(), expected);
}

TEST_F(WriteBack, TextsAreWrittenUpToTheirTerminatorAndCutToTheField) {
    // A full e-mail field of 60 bytes without a terminator: 59 characters reach the file.
    service::writeText(service::kEmail, std::string(59, 'e'));
    service::writeText(service::kPager, "short");
    writeConfiguration();
    EXPECT_EQ(readKey("manager.1", "EMail"), std::string(59, 'e'));
    EXPECT_EQ(readKey("manager.1", "Pager"), "short");
    EXPECT_EQ(readKey("manager.1", "HomeAddr"), "");
    EXPECT_EQ(readKey("threshold", "UsedVol26"), "0");
}

TEST_F(WriteBack, OneMarkReachesTheFileOnce) {
    fillBlock();
    startThread();
    markConfigChanged();
    // The last key of the write-back appears in the file.
    ASSERT_TRUE(eventually([] { return readKey("threshold", "UsedVol26") == "86"; }));
    stopThread();

    expectWrittenFromBlock();
    EXPECT_EQ(writes(), 1u);
    EXPECT_EQ(configChanged.load(), 0u);
}

std::atomic<int> sleepsAsked{0};
std::atomic<std::uint32_t> lastSleepMs{0};

void countSleep(std::uint32_t milliseconds) {
    sleepsAsked.fetch_add(1);
    lastSleepMs.store(milliseconds);
}

TEST_F(WriteBack, IdleThreadNeitherWakesNorWrites) {
    const std::string before = file();
    const auto beforeTime = fileTime();
    sleepsAsked.store(0);
    platform::setSleepHook(countSleep);

    startThread();
    // Time enough for a polling thread to have woken many times over.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    stopThread();

    EXPECT_EQ(sleepsAsked.load(), 0);
    EXPECT_EQ(writes(), 0u);
    EXPECT_EQ(file(), before);
    EXPECT_EQ(fileTime(), beforeTime);
}

// Holds the thread inside its coalescing pause until the test lets it go on.
platform::Event pauseEntered(false);
platform::Event pauseReleased(true);

void holdSleep(std::uint32_t milliseconds) {
    countSleep(milliseconds);
    pauseEntered.set();
    pauseReleased.wait(-1);
}

TEST_F(WriteBack, MarksWithinThePauseGiveOneWrite) {
    fillBlock();
    sleepsAsked.store(0);
    pauseEntered.reset();
    pauseReleased.reset();
    platform::setSleepHook(holdSleep);
    startThread();

    markConfigChanged();
    ASSERT_TRUE(pauseEntered.wait(20000));
    EXPECT_EQ(lastSleepMs.load(), 5u);
    markConfigChanged(); // a second SET while the first one's pause runs
    pauseReleased.set();
    ASSERT_TRUE(eventually([this] { return writes() == 1; }));

    // A change after the write is a write of its own.
    service::writeText(service::kPager, "pager 9000");
    markConfigChanged();
    ASSERT_TRUE(eventually([this] { return writes() == 2; }));
    stopThread();

    EXPECT_EQ(writes(), 2u);
    EXPECT_EQ(readKey("manager.1", "Pager"), "pager 9000");
}

TEST_F(WriteBack, FailedWriteIsDroppedUntilTheNextChange) {
    fillBlock();
    // A directory in the file's place: nothing can be written there.
    const std::string path = dir_.path() + "/TESSEL.INI";
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    startThread();
    markConfigChanged();
    ASSERT_TRUE(eventually([this] { return writes() == 1; }));
    EXPECT_TRUE(eventually([] { return configChanged.load() == 0; }));

    // The file is back; the values wait for the next change and then all of them go out.
    std::filesystem::remove(path);
    dir_.write("TESSEL.INI", kOriginalFile);
    markConfigChanged();
    ASSERT_TRUE(eventually([] { return readKey("threshold", "UsedVol26") == "86"; }));
    stopThread();
    expectWrittenFromBlock();
    EXPECT_EQ(writes(), 2u);
}

} // namespace
} // namespace farlink::config
