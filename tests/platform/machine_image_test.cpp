// The KORU device of a machine image under FARLINK_MACHINE, with the requests the image records
// in FARLINK_MACHINE_RECORD.
#include "platform/device_io.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

namespace farlink::platform {
namespace {

using farlink::testing::ScopedEnv;
using farlink::testing::TempProfileDir;

constexpr const char* kKoru = "\\\\.\\KORU";

// A fresh image with an open KORU device; closed at the end.
class MachineImage : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* folder : {"devices/KORU", "elsewhere"})
            std::filesystem::create_directories(dir.path() + "/" + folder);
        device = openDevice(kKoru, kDeviceRead);
        ASSERT_NE(device, nullptr);
    }
    void TearDown() override { closeDevice(device); }

    TempProfileDir dir;
    ScopedEnv machine{"FARLINK_MACHINE", dir.path()};
    ScopedEnv record{"FARLINK_MACHINE_RECORD", dir.path() + "/record.log"};
    DeviceHandle device = nullptr;
};

// The answer is the code's file; whatever does not fit fills the output and fails as more data.
TEST_F(MachineImage, AnswersCopyAsMuchAsFitsAndSayWhetherItWasAll) {
    const struct {
        std::size_t answerSize, outputSize;
        bool succeeds;
        std::uint32_t returned;
    } cases[] = {{200, 200, true, 200}, {0, 16, true, 0}, {201, 200, false, 200}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answerSize);
        std::string answer(c.answerSize, '\0');
        for (std::size_t i = 0; i < answer.size(); ++i)
            answer[i] = static_cast<char>(i * 7 + 1);
        dir.write("devices/KORU/80002010.bin", answer);
        std::vector<std::uint8_t> output(c.outputSize + 4, 0xEE); // guard bytes past the span
        std::uint32_t returned = 999;
        errno = 0;
        EXPECT_EQ(deviceIoControl(device, 0x80002010, {}, std::span(output.data(), c.outputSize),
                                  returned),
                  c.succeeds);
        EXPECT_EQ(returned, c.returned);
        if (!c.succeeds) {
            EXPECT_EQ(errno, 234);
        }
        EXPECT_EQ(std::string(output.begin(), output.begin() + c.returned),
                  answer.substr(0, c.returned));
        EXPECT_EQ(std::vector<std::uint8_t>(output.begin() + c.outputSize, output.end()),
                  std::vector<std::uint8_t>(4, 0xEE))
            << "written past the output";
    }
}

// A request with input is recorded (test_system_group.py reads such a line) and still gets its
// answer; a code without an answer file fails, a refused order even when it has input.
TEST_F(MachineImage, RequestsWithInputAreRecordedAndCodesWithoutAnswerFail) {
    dir.write("devices/KORU/80002058.bin", "\xaa\xbb");
    std::uint32_t returned = 5;
    std::vector<std::uint8_t> output(8);
    errno = 0;
    EXPECT_FALSE(deviceIoControl(device, 0x8000201C, {}, output, returned));
    EXPECT_EQ(errno, 1);
    EXPECT_EQ(returned, 0u);
    const std::uint8_t value[] = {0x00, 0x01, 0xfe, 0xff};
    EXPECT_FALSE(deviceIoControl(device, 0x800020D0, value, {}, returned));
    EXPECT_TRUE(deviceIoControl(device, 0x80002058, value, output, returned));
    EXPECT_EQ(returned, 2u);
    EXPECT_EQ(output[0], 0xaa);
    EXPECT_EQ(dir.read("record.log"), "KORU 0x800020d0 0001feff\nKORU 0x80002058 0001feff\n");
}

TEST_F(MachineImage, DevicesMissingFromTheImageOrOutsideItOrOnTheHostAreAbsent) {
    dir.write("elsewhere/80002010.bin", "x");
    for (const char* name : {"\\\\.\\PhysicalDrive0", "", "\\\\.\\", "..", "../elsewhere",
                             "KORU/../../elsewhere", "\\\\.\\KORU\\x"}) {
        errno = 0;
        EXPECT_EQ(openDevice(name, kDeviceRead), nullptr) << name;
        EXPECT_EQ(errno, 2) << name;
    }
    ScopedEnv host("FARLINK_MACHINE", "");
    errno = 0;
    EXPECT_EQ(openDevice(kKoru, kDeviceRead | kDeviceWrite), nullptr) << "no KORU driver here";
    EXPECT_EQ(errno, 2);
}

} // namespace
} // namespace farlink::platform
