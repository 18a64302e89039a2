#include "platform/shared_memory.h"

#include "support/test_support.h"

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

TEST_F(SharedMemoryTest, CreatedRegionIsZeroAndSharedWithAnOpenedOne) {
    SharedMapping created;
    ASSERT_TRUE(createSharedMapping(name_, 816, created));
    ASSERT_NE(created.base, nullptr);
    EXPECT_EQ(created.size, 816u);
    for (std::size_t i = 0; i < created.size; ++i)
        ASSERT_EQ(created.base[i], 0) << "byte " << i;

    SharedMapping opened;
    ASSERT_TRUE(openSharedMapping(name_, opened));
    EXPECT_EQ(opened.size, 816u) << "the whole region is mapped";
    EXPECT_NE(opened.base, created.base);

    created.base[0] = 'A';
    created.base[815] = 0x5A;
    EXPECT_EQ(opened.base[0], 'A');
    EXPECT_EQ(opened.base[815], 0x5A);
    opened.base[700] = 0x11;
    EXPECT_EQ(created.base[700], 0x11);

    closeSharedMapping(opened);
    EXPECT_EQ(opened.base, nullptr);
    EXPECT_EQ(opened.size, 0u);
    closeSharedMapping(created);
}

TEST_F(SharedMemoryTest, CreateGrowsASmallRegionAndKeepsALargerOne) {
    SharedMapping first;
    ASSERT_TRUE(createSharedMapping(name_, 100, first));
    first.base[99] = 7;
    closeSharedMapping(first);

    SharedMapping grown;
    ASSERT_TRUE(createSharedMapping(name_, 816, grown));
    EXPECT_EQ(grown.size, 816u);
    EXPECT_EQ(grown.base[99], 7) << "existing content stays";
    EXPECT_EQ(grown.base[100], 0) << "the added part reads as zero";
    EXPECT_EQ(grown.base[815], 0);
    closeSharedMapping(grown);

    SharedMapping again;
    ASSERT_TRUE(createSharedMapping(name_, 50, again));
    EXPECT_EQ(again.size, 816u) << "a smaller request neither shrinks nor maps less";
    EXPECT_EQ(again.base[99], 7);
    closeSharedMapping(again);
}

TEST_F(SharedMemoryTest, RemovedNameIsGoneButMappingsStayValid) {
    SharedMapping created;
    ASSERT_TRUE(createSharedMapping(name_, 816, created));
    SharedMapping opened;
    ASSERT_TRUE(openSharedMapping(name_, opened));
    ASSERT_TRUE(removeSharedMapping(name_));

    SharedMapping after;
    errno = 0;
    EXPECT_FALSE(openSharedMapping(name_, after));
    EXPECT_EQ(errno, 2);
    EXPECT_EQ(after.base, nullptr);

    created.base[40] = 'x';
    EXPECT_EQ(opened.base[40], 'x');
    closeSharedMapping(opened);
    closeSharedMapping(created);
    EXPECT_FALSE(removeSharedMapping(name_)) << "a second removal finds nothing";
}

TEST_F(SharedMemoryTest, AbsentRegionFailsWithNotFound) {
    SharedMapping mapping;
    mapping.size = 99; // stale values from the caller must not survive a failure
    errno = 0;
    EXPECT_FALSE(openSharedMapping(name_, mapping));
    EXPECT_EQ(errno, 2);
    EXPECT_EQ(mapping.base, nullptr);
    EXPECT_EQ(mapping.size, 0u);
}

TEST(SharedBlockName, ComesFromTheEnvironmentElseTheInBandAgentsName) {
    {
        testing::ScopedEnv unset("FARLINK_SHM_NAME", "");
        EXPECT_EQ(sharedBlockName(), "KoruFileMappingObject");
    }
    testing::ScopedEnv chosen("FARLINK_SHM_NAME", "farlink-demo-block");
    EXPECT_EQ(sharedBlockName(), "farlink-demo-block");
}

} // namespace
} // namespace farlink::platform
