// The accessors of the shared agent block that the contact table and the write-back read through.
#include "runtime/shared_block.h"

#include "platform/event_log.h"
#include "runtime/events.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace farlink::runtime {
namespace {

class SharedBlockAccess : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::useMemoryEventLog();
        platform::clearLoggedEvents();
        resetEventLimits();
    }
    std::string path() const { return "/dev/shm/" + block_.name(); }
    std::vector<std::string> eventTexts() const {
        std::vector<std::string> texts;
        for (const auto& event : platform::loggedEvents())
            texts.push_back(event.strings.empty() ? "" : event.strings[0]);
        return texts;
    }

    testing::ScopedSharedBlock block_{kSharedBlockSize, 0xAA};
};

TEST_F(SharedBlockAccess, TextIsCutToItsFieldWithTerminatorAndLeavesTheNextFieldAlone) {
    ASSERT_TRUE(writeText(kAdministratorName, std::string(50, 'n')));
    EXPECT_EQ(readText(kAdministratorName), std::string(39, 'n'));
    std::vector<std::uint8_t> bytes = block_.bytes();
    EXPECT_EQ(bytes[39], 0);
    EXPECT_EQ(bytes[40], 0xAA); // office phone untouched

    ASSERT_TRUE(writeText(kOfficePhone, "555"));
    EXPECT_EQ(readText(kOfficePhone), "555");
    EXPECT_EQ(block_.bytes()[44], 0xAA); // the rest of the field keeps what it held
}

TEST_F(SharedBlockAccess, TextWithoutTerminatorIsReadToItsFieldOnly) {
    // The in-band agent may leave a field full; the reader stops short of the next field.
    EXPECT_EQ(readText(kHomePhone), std::string(39, '\xAA'));
    EXPECT_EQ(readText(kOfficeAddress, 80), std::string(80, '\xAA'));
    EXPECT_EQ(readText(kEmail, 80), std::string(59, '\xAA'));
}

TEST_F(SharedBlockAccess, TheLastWordIsServedAndFieldsPastTheBlockAreRefused) {
    ASSERT_TRUE(writeNumber(kUsedVolumeThresholds + 4 * 25, 0x2A)); // the 26th volume
    EXPECT_EQ(block_.bytes()[812], 0x2A);                           // little-endian
    EXPECT_EQ(readNumber(kUsedVolumeThresholds + 4 * 25), 42u);
    const std::vector<std::uint8_t> before = block_.bytes();
    EXPECT_EQ(readNumber(kSharedBlockSize - 2), 0u);
    EXPECT_FALSE(writeNumber(kSharedBlockSize - 3, 7));
    EXPECT_FALSE(writeNumber(SIZE_MAX - 1, 7));
    EXPECT_FALSE(writeText({kSharedBlockSize - 10, 20}, "x"));
    EXPECT_EQ(readText({kSharedBlockSize, 4}), "");
    EXPECT_EQ(block_.bytes(), before);
}

TEST_F(SharedBlockAccess, ABlockCutByAnotherProcessIsNeverReadPastItsEnd) {
    std::filesystem::resize_file(path(), 100);
    EXPECT_EQ(readText(kAdministratorName), std::string(39, '\xAA')) << "still within the block";
    EXPECT_EQ(readText(kOfficeAddress), "");
    EXPECT_FALSE(writeText(kOfficeAddress, "x"));
    EXPECT_EQ(readNumber(kMemoryThreshold), 0u);
    EXPECT_FALSE(writeNumber(kMemoryThreshold, 1));
    EXPECT_EQ(block_.bytes().size(), 100u) << "a refused write does not grow it back";
    // Told once, however many accesses fail.
    ASSERT_EQ(eventTexts().size(), 1u);
    EXPECT_NE(eventTexts()[0].find("holds only 100 bytes, fewer than the agent's 816"),
              std::string::npos)
        << eventTexts()[0];
}

TEST(SharedBlockDetached, EverythingIsEmptyAndNothingIsWritten) {
    detachSharedBlock();
    EXPECT_FALSE(sharedBlockAttached());
    EXPECT_EQ(readText(kAdministratorName), "");
    EXPECT_FALSE(writeText(kAdministratorName, "x"));
    EXPECT_EQ(readNumber(kMemoryThreshold), 0u);
    EXPECT_FALSE(writeNumber(kMemoryThreshold, 1));
}

} // namespace
} // namespace farlink::runtime
