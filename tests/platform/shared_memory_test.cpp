#include "platform/shared_memory.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <unistd.h>

namespace farlink::platform {
namespace {

// A region name of this test process alone, removed at the end whatever the test did.
class SharedMemoryTest : public ::testing::Test {
  protected:
    void TearDown() override { removeSharedMapping(name_); }
    const std::string name_ = "farlink-test-" + std::to_string(::getpid()) + "-" +
                              ::testing::UnitTest::GetInstance()->current_test_info()->name();
};

TEST_F(SharedMemoryTest, RegionIsZeroGrownToSizeSharedWholeAndOutlivesItsName) {
    SharedMapping opened;
    opened.size = 99; // stale values from the caller must not survive a failure
    errno = 0;
    EXPECT_FALSE(openSharedMapping(name_, opened));
    EXPECT_EQ(errno, 2);
    EXPECT_EQ(opened.base, nullptr);
    EXPECT_EQ(opened.size, 0u);

    SharedMapping created;
    ASSERT_TRUE(createSharedMapping(name_, 100, created));
    created.base[99] = 7;
    closeSharedMapping(created);
    ASSERT_TRUE(createSharedMapping(name_, 816, created));
    ASSERT_EQ(created.size, 816u);
    for (std::size_t i = 0; i < created.size; ++i)
        ASSERT_EQ(created.base[i], i == 99 ? 7 : 0) << "existing content stays, the rest is zero";

    ASSERT_TRUE(openSharedMapping(name_, opened));
    EXPECT_EQ(opened.size, 816u) << "the whole region is mapped";
    ASSERT_TRUE(removeSharedMapping(name_));
    SharedMapping absent;
    EXPECT_FALSE(openSharedMapping(name_, absent));
    // Mappings made before the removal still share the region.
    created.base[815] = 0x5A;
    EXPECT_EQ(opened.base[815], 0x5A);
    closeSharedMapping(opened);
    EXPECT_EQ(opened.base, nullptr);
    EXPECT_EQ(opened.size, 0u);
    closeSharedMapping(created);
}

} // namespace
} // namespace farlink::platform
