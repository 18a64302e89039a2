#include "platform/device_io.h"

#include "platform/temp_machine.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace farlink::platform {
namespace {

using farlink::testing::hexBytes;
using farlink::testing::ScopedEnv;
using farlink::testing::TempMachine;

constexpr const char* kKoru = "\\\\.\\KORU";

// An open KORU device of a fresh image; closed at the end.
class KoruImage : public ::testing::Test {
  protected:
    void SetUp() override {
        image.makeFolder("devices/KORU");
        device = openDevice(kKoru, kDeviceRead);
        ASSERT_NE(device, nullptr);
    }
    void TearDown() override { closeDevice(device); }

    TempMachine image;
    DeviceHandle device = nullptr;
};

struct AnswerCase {
    std::size_t answerSize;
    std::size_t outputSize;
    bool succeeds;
    std::uint32_t returned;
    int error; // the last error after a failure
};

class AnswerSizes : public KoruImage, public ::testing::WithParamInterface<AnswerCase> {};

// The answer is the code's file; whatever does not fit fills the output and fails as more data.
TEST_P(AnswerSizes, CopyAsMuchAsFitsAndSayWhetherItWasAll) {
    const AnswerCase& c = GetParam();
    std::vector<std::uint8_t> answer(c.answerSize);
    for (std::size_t i = 0; i < answer.size(); ++i)
        answer[i] = static_cast<std::uint8_t>(i * 7 + 1);
    image.write("devices/KORU/80002010.bin", answer);

    std::vector<std::uint8_t> output(c.outputSize + 4, 0xEE); // guard bytes past the span
    std::uint32_t returned = 999;
    errno = 0;
    const bool ok =
        deviceIoControl(device, 0x80002010, {}, std::span(output.data(), c.outputSize), returned);
    EXPECT_EQ(ok, c.succeeds);
    EXPECT_EQ(returned, c.returned);
    if (!ok) {
        EXPECT_EQ(errno, c.error);
    }
    for (std::size_t i = 0; i < c.returned; ++i)
        ASSERT_EQ(output[i], answer[i]) << "byte " << i;
    for (std::size_t i = c.outputSize; i < output.size(); ++i)
        ASSERT_EQ(output[i], 0xEE) << "written past the output at " << i;
}

INSTANTIATE_TEST_SUITE_P(
    DeviceIo, AnswerSizes,
    ::testing::Values(AnswerCase{4, 200, true, 4, 0}, AnswerCase{200, 200, true, 200, 0},
                      AnswerCase{0, 16, true, 0, 0}, AnswerCase{201, 200, false, 200, 234},
                      AnswerCase{16000, 10, false, 10, 234}, AnswerCase{3, 0, false, 0, 234}));

TEST_F(KoruImage, CodeWithoutAnswerFileFailsWithError1) {
    std::vector<std::uint8_t> output(8);
    std::uint32_t returned = 5;
    errno = 0;
    EXPECT_FALSE(deviceIoControl(device, 0x8000201C, {}, output, returned));
    EXPECT_EQ(errno, 1);
    EXPECT_EQ(returned, 0u);
}

TEST_F(KoruImage, RequestsWithInputOrWithoutOutputAreRecordedInOrder) {
    image.write("devices/KORU/80002050.bin", "");
    image.write("devices/KORU/8000205c.bin", "");
    image.write("devices/KORU/80002080.bin", hexBytes("02 03 00 01"));
    image.write("devices/KORU/80002058.bin", hexBytes("aa bb"));
    std::uint32_t returned = 0;
    std::vector<std::uint8_t> counts(200);

    const auto limit = hexBytes("2c 01");
    EXPECT_TRUE(deviceIoControl(device, 0x80002050, limit, {}, returned));
    EXPECT_TRUE(deviceIoControl(device, 0x80002080, {}, counts, returned))
        << "a plain query is served";
    EXPECT_TRUE(deviceIoControl(device, 0x8000205C, {}, {}, returned));
    errno = 0;
    EXPECT_FALSE(deviceIoControl(device, 0x800020D0, {}, {}, returned))
        << "a refused order is still seen by the driver";
    EXPECT_EQ(errno, 1);

    // A request with both input and an answer gets its answer as well.
    std::vector<std::uint8_t> echo(4);
    EXPECT_TRUE(deviceIoControl(device, 0x80002058, hexBytes("00 01 fe ff"), echo, returned));
    EXPECT_EQ(returned, 2u);
    EXPECT_EQ(echo[0], 0xaa);
    EXPECT_EQ(echo[1], 0xbb);

    EXPECT_EQ(image.lines(),
              (std::vector<std::string>{"KORU 0x80002050 2c01", "KORU 0x8000205c",
                                        "KORU 0x800020d0", "KORU 0x80002058 0001feff"}));
}

TEST(DeviceIo, RecordFileDefaultsToRequestsLogInTheImage) {
    TempMachine image;
    ScopedEnv noRecord("FARLINK_MACHINE_RECORD", "");
    image.write("devices/KORU/8000205c.bin", "");
    DeviceHandle device = openDevice("KORU", kDeviceRead | kDeviceWrite);
    ASSERT_NE(device, nullptr) << "the prefix may be left out";
    std::uint32_t returned = 0;
    EXPECT_TRUE(deviceIoControl(device, 0x8000205C, {}, {}, returned));
    closeDevice(device);
    EXPECT_EQ(image.lines("requests.log"), std::vector<std::string>{"KORU 0x8000205c"});
    EXPECT_TRUE(image.lines().empty());
}

TEST(DeviceIo, LinesOfConcurrentRequestsStayWhole) {
    TempMachine image;
    image.write("devices/KORU/80002058.bin", "");
    DeviceHandle device = openDevice(kKoru, kDeviceRead);
    ASSERT_NE(device, nullptr);
    constexpr int kThreads = 4;
    constexpr int kEach = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([device, t] {
            for (int i = 0; i < kEach; ++i) {
                const std::uint8_t value[4] = {static_cast<std::uint8_t>(t),
                                               static_cast<std::uint8_t>(i), 0x55, 0xAA};
                std::uint32_t returned = 0;
                deviceIoControl(device, 0x80002058, value, {}, returned);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    closeDevice(device);

    const std::vector<std::string> lines = image.lines();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kEach));
    std::set<std::string> distinct(lines.begin(), lines.end());
    EXPECT_EQ(distinct.size(), lines.size());
    for (const std::string& line : lines) {
        ASSERT_EQ(line.size(), std::string("KORU 0x80002058 000055aa").size()) << line;
        ASSERT_EQ(line.substr(0, 16), "KORU 0x80002058 ") << line;
        ASSERT_EQ(line.substr(20), "55aa") << line;
    }
}

TEST(DeviceIo, DevicesMissingFromTheImageOrOutsideItAreAbsent) {
    TempMachine image;
    image.makeFolder("devices/KORU");
    image.write("elsewhere/80002010.bin", "x");
    for (const char* name : {"\\\\.\\PhysicalDrive0", "", "\\\\.\\", "..", "../elsewhere",
                             "KORU/../../elsewhere", "\\\\.\\KORU\\x"}) {
        errno = 0;
        EXPECT_EQ(openDevice(name, kDeviceRead), nullptr) << name;
        EXPECT_EQ(errno, 2) << name;
    }
}

TEST(DeviceIo, HostHasNoKoruDriver) {
    ScopedEnv host("FARLINK_MACHINE", "");
    errno = 0;
    EXPECT_EQ(openDevice(kKoru, kDeviceRead | kDeviceWrite), nullptr);
    EXPECT_EQ(errno, 2);
}

} // namespace
} // namespace farlink::platform
