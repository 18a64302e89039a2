#include "platform/message_box.h"

#include <gtest/gtest.h>

namespace farlink::platform {
namespace {

TEST(MessageBox, CaptionAndTextGoToStandardErrorAsOneMessage) {
    ::testing::internal::CaptureStderr();
    messageBox("Couldn't start the in-band agent.\nThe out-of-band agent stops.", "FARLINK",
               kMessageOk);
    messageBox("", "FARLINK", kMessageQuestion);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "FARLINK: Couldn't start the in-band agent.\nThe out-of-band agent stops.\n"
              "FARLINK: \n");
}

} // namespace
} // namespace farlink::platform
