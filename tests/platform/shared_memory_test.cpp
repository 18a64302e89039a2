#include "platform/shared_memory.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace farlink::platform {
namespace {

// A region name of this test process alone, removed at the end whatever the test did.
class SharedMemoryTest : public ::testing::Test {
  protected:
    void TearDown() override {
        closeSharedRegion(region_);
        removeSharedRegion(name_);
    }
    std::string path() const { return "/dev/shm/" + name_; }
    void chmodRegion(mode_t mode) const { ASSERT_EQ(::chmod(path().c_str(), mode), 0); }
    std::string refusalOfOpen(std::size_t minimumSize = 816) {
        SharedRegion opened;
        std::string refusal;
        EXPECT_FALSE(openSharedRegion(name_, minimumSize, opened, refusal));
        EXPECT_EQ(opened.fd, -1);
        return refusal;
    }

    const std::string name_ = "farlink-test-" + std::to_string(::getpid()) + "-" +
                              ::testing::UnitTest::GetInstance()->current_test_info()->name();
    SharedRegion region_;
    std::string refusal_;
};

TEST_F(SharedMemoryTest, MadeForItsOwnerOnlyZeroFilledAndTakenAgainGrown) {
    SharedRegion absent;
    errno = 0;
    EXPECT_FALSE(openSharedRegion(name_, 0, absent, refusal_));
    EXPECT_EQ(errno, 2);
    EXPECT_EQ(refusal_, "") << "an absent region is not a refused one";

    ASSERT_TRUE(createSharedRegion(name_, 100, region_, refusal_)) << refusal_;
    struct stat info {};
    ASSERT_EQ(::stat(path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "whatever the umask and the old default of 0660";
    const std::vector<std::uint8_t> seven{7};
    ASSERT_TRUE(writeSharedRegion(region_, 99, seven));
    closeSharedRegion(region_);

    // Another start takes the existing region, keeps its bytes and grows it with zeros.
    ASSERT_TRUE(createSharedRegion(name_, 816, region_, refusal_)) << refusal_;
    ASSERT_EQ(sharedRegionSize(region_), 816u);
    std::vector<std::uint8_t> bytes(816, 0xEE);
    ASSERT_TRUE(readSharedRegion(region_, 0, bytes));
    for (std::size_t i = 0; i < bytes.size(); ++i)
        ASSERT_EQ(bytes[i], i == 99 ? 7 : 0) << i;
}

TEST_F(SharedMemoryTest, ReadsAndWritesStayWithinWhatTheRegionHoldsNow) {
    ASSERT_TRUE(createSharedRegion(name_, 816, region_, refusal_));
    std::vector<std::uint8_t> four(4, 1);
    EXPECT_FALSE(writeSharedRegion(region_, 813, four));
    EXPECT_FALSE(writeSharedRegion(region_, SIZE_MAX - 1, four));
    EXPECT_EQ(sharedRegionSize(region_), 816u) << "a write never grows the region";
    EXPECT_FALSE(readSharedRegion(region_, 813, four));

    // Another process cuts the region: no fault, only refused reads and writes past its end.
    std::filesystem::resize_file(path(), 10);
    EXPECT_FALSE(readSharedRegion(region_, 700, four));
    EXPECT_FALSE(writeSharedRegion(region_, 700, four));
    EXPECT_EQ(sharedRegionSize(region_), 10u);
    EXPECT_TRUE(readSharedRegion(region_, 6, four));
    EXPECT_EQ(refusalOfOpen(), "it holds 10 bytes, fewer than 816");
}

} // namespace
} // namespace farlink::platform
