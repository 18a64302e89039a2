#include "platform/console.h"
#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace farlink::platform {
namespace {

TEST(Heap, ChosenAllocationFailsOnceWithEnomem) {
    failHeapAllocationAfter(2);
    void* first = heapAlloc(16);
    void* second = heapAlloc(0);
    errno = 0;
    void* third = heapAlloc(16);
    const int error = errno;
    void* fourth = heapAlloc(16);
    EXPECT_NE(first, nullptr);
    EXPECT_NE(second, nullptr) << "a block of size 0 is still a block";
    EXPECT_EQ(third, nullptr);
    EXPECT_EQ(error, ENOMEM);
    EXPECT_NE(fourth, nullptr) << "only the one allocation fails";
    heapFree(first);
    heapFree(second);
    heapFree(fourth);
    failHeapAllocationAfter(0);
    failHeapAllocationAfter(-1);
    void* fifth = heapAlloc(8);
    EXPECT_NE(fifth, nullptr) << "the hook can be withdrawn";
    heapFree(fifth);
}

TEST(Console, FormatsTextsOfAnyLength) {
    EXPECT_EQ(formatText("%s: baud=%d parity=%d", "COM2", 9600, 0), "COM2: baud=9600 parity=0");
    EXPECT_EQ(formatText("%s", ""), "");
    const std::string longText(5000, 'z');
    EXPECT_EQ(formatText("<%s>", longText.c_str()), "<" + longText + ">");
}

// Standard input is not a terminal here, so the pause must not wait for a character.
TEST(Console, PauseWithoutTerminalDoesNotBlockAndQuietSilences) {
    const int nullInput = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(nullInput, 0);
    ASSERT_EQ(::dup2(nullInput, STDIN_FILENO), STDIN_FILENO);
    ::close(nullInput);
    ::testing::internal::CaptureStdout();
    printText("no line end");
    printLineAndPause("!!guard:tail");
    setConsoleQuiet(true);
    printText("hidden");
    printLineAndPause("hidden");
    setConsoleQuiet(false);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "no line end!!guard:tail\n");
}

} // namespace
} // namespace farlink::platform
