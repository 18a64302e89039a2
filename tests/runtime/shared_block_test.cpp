// The accessors of the shared agent block that the contact table and the write-back read through.
#include "runtime/shared_block.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace farlink::runtime {
namespace {

class SharedBlockAccess : public ::testing::Test {
  protected:
    void SetUp() override { attachSharedBlock(bytes_); }
    void TearDown() override { attachSharedBlock({}); }

    std::vector<std::uint8_t> bytes_ = std::vector<std::uint8_t>(kSharedBlockSize, 0xAA);
};

TEST_F(SharedBlockAccess, TextIsCutToItsFieldWithTerminatorAndLeavesTheNextFieldAlone) {
    ASSERT_TRUE(writeText(kAdministratorName, std::string(50, 'n')));
    EXPECT_EQ(readText(kAdministratorName), std::string(39, 'n'));
    EXPECT_EQ(bytes_[39], 0);
    EXPECT_EQ(bytes_[40], 0xAA); // office phone untouched

    ASSERT_TRUE(writeText(kOfficePhone, "555"));
    EXPECT_EQ(readText(kOfficePhone), "555");
    EXPECT_EQ(bytes_[44], 0xAA); // the rest of the field keeps what it held
}

TEST_F(SharedBlockAccess, TextWithoutTerminatorIsReadToItsFieldOnly) {
    // The in-band agent may leave a field full; the reader stops short of the next field.
    EXPECT_EQ(readText(kHomePhone), std::string(39, '\xAA'));
    EXPECT_EQ(readText(kOfficeAddress, 80), std::string(80, '\xAA'));
    EXPECT_EQ(readText(kEmail, 80), std::string(59, '\xAA'));
}

TEST_F(SharedBlockAccess, TheLastWordIsServedAndFieldsPastTheBlockAreRefused) {
    ASSERT_TRUE(writeNumber(kUsedVolumeThresholds + 4 * 25, 0x2A)); // the 26th volume
    EXPECT_EQ(bytes_[812], 0x2A);                                   // little-endian
    EXPECT_EQ(readNumber(kUsedVolumeThresholds + 4 * 25), 42u);
    const std::vector<std::uint8_t> before = bytes_;
    EXPECT_EQ(readNumber(kSharedBlockSize - 2), 0u);
    EXPECT_FALSE(writeNumber(kSharedBlockSize - 3, 7));
    EXPECT_FALSE(writeNumber(SIZE_MAX - 1, 7));
    EXPECT_FALSE(writeText({kSharedBlockSize - 10, 20}, "x"));
    EXPECT_EQ(readText({kSharedBlockSize, 4}), "");
    EXPECT_EQ(bytes_, before);
}

TEST(SharedBlockDetached, EverythingIsEmptyAndNothingIsWritten) {
    attachSharedBlock({});
    EXPECT_FALSE(sharedBlockAttached());
    EXPECT_EQ(readText(kAdministratorName), "");
    EXPECT_FALSE(writeText(kAdministratorName, "x"));
    EXPECT_EQ(readNumber(kMemoryThreshold), 0u);
    EXPECT_FALSE(writeNumber(kMemoryThreshold, 1));

    // A region smaller than the agent's fields is not taken.
    std::vector<std::uint8_t> small(kSharedBlockSize - 1, 0);
    attachSharedBlock(small);
    EXPECT_FALSE(sharedBlockAttached());
    EXPECT_FALSE(writeNumber(kMemoryThreshold, 1));
    EXPECT_EQ(small[700], 0);
}

} // namespace
} // namespace farlink::runtime
