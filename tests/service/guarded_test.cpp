// Guard damage is reported once per damaged byte and the block is released all the same.
#include "service/guarded.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace farlink::service {
namespace {

int countLines(const std::string& text, const std::string& line) {
    int n = 0;
    for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
        ++n;
    return n;
}

const std::string kBanner = "!!!!!!!!!!!!!!!!CCCCCCCCCCCCRRRRRRRRRIIIIIIIIIIIIBBBBBBBB";

TEST(GuardedBlocks, IntactBlocksOfAnySizeCheckAndFreeSilently) {
    for (std::size_t size : {0u, 1u, 7u, 512u}) {
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

TEST(GuardedBlocks, GuardsSitRightAroundTheCallersBytes) {
    auto* p = static_cast<std::uint8_t*>(guardedAlloc(5));
    for (int i = 1; i <= 10; ++i) EXPECT_EQ(p[-i], kGuardValue);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(p[5 + i], kGuardValue);
    std::uint32_t size;
    std::memcpy(&size, p - 14, 4);
    EXPECT_EQ(size, 5u);
    guardedFree(p);
}

TEST(GuardedBlocks, OverrunPastTheEndIsReportedOncePerByte) {
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
}

TEST(GuardedBlocks, UnderrunAndCheckUseTheirOwnTexts) {
    auto* p = static_cast<std::uint8_t*>(guardedAlloc(8));
    p[-1] = 0;
    ::testing::internal::CaptureStdout();
    guardedCheck(p);
    const std::string checked = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(checked, kBanner + " text:head\n");
    ::testing::internal::CaptureStdout();
    guardedFree(p);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), kBanner + ":head\n");
}

TEST(GuardedBlocks, ReleasingNothingOnlySaysSo) {
    ::testing::internal::CaptureStdout();
    guardedFree(nullptr);
    guardedCheck(nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              kBanner + ": ptr\n" + kBanner + " text: ptr\n");
}

TEST(GuardedNew, GivesAZeroedRecordAndCountsIt) {
    struct Record {
        std::uint32_t a;
        void* b;
        std::uint8_t c[40];
    };
    const std::size_t before = guardedLiveBlocks();
    auto* r = guardedNew<Record>();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->a, 0u);
    EXPECT_EQ(r->b, nullptr);
    EXPECT_EQ(guardedLiveBlocks(), before + 1);
    guardedFree(r);
    EXPECT_EQ(guardedLiveBlocks(), before);
}

} // namespace
} // namespace farlink::service
