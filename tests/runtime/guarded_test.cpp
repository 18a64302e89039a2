// Guard damage is reported once per damaged byte and the block is released all the same.
#include "runtime/guarded.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace farlink::runtime {
namespace {

using farlink::testing::countLines;

const std::string kBanner = "!!!!!!!!!!!!!!!!CCCCCCCCCCCCRRRRRRRRRIIIIIIIIIIIIBBBBBBBB";

TEST(GuardedBlocks, IntactBlocksOfAnySizeCheckAndFreeSilently) {
    for (std::size_t size : {0u, 7u}) {
        auto* p = static_cast<std::uint8_t*>(guardedAlloc(size));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignof(std::max_align_t), 0u);
        std::memset(p, 0xAB, size);
        ::testing::internal::CaptureStdout();
        guardedCheck(p);
        guardedFree(p);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << size;
    }
    EXPECT_EQ(guardedLiveBlocks(), 0u);
}

TEST(GuardedBlocks, OverrunPastTheEndIsReportedOncePerByteUnderrunAndNothingByTheirTexts) {
    for (int damaged : {1, 3}) {
        auto* p = static_cast<std::uint8_t*>(guardedAlloc(16));
        std::memset(p, 0, 16 + damaged);
        ::testing::internal::CaptureStdout();
        guardedFree(p);
        const std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(countLines(out, kBanner + ":tail\n"), damaged);
        EXPECT_EQ(countLines(out, ":head"), 0);
    }
    EXPECT_EQ(guardedLiveBlocks(), 0u) << "a damaged block is released all the same";

    // Underrun and a null block have texts of their own.
    auto* p = static_cast<std::uint8_t*>(guardedAlloc(8));
    p[-1] = 0;
    ::testing::internal::CaptureStdout();
    guardedCheck(p);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), kBanner + " text:head\n");
    ::testing::internal::CaptureStdout();
    guardedFree(p);
    guardedFree(nullptr);
    guardedCheck(nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              kBanner + ":head\n" + kBanner + ": ptr\n" + kBanner + " text: ptr\n");
}

} // namespace
} // namespace farlink::runtime
