// SLIP byte coding and the port write.
#include "link/slip.h"

#include "support/station.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <utility>

namespace farlink::link {
namespace {

using namespace farlink::testing;

// A frame, and the datagram it yields (empty: none).
class SlipDecodeTest : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(SlipDecodeTest, YieldsTheDatagramOrNothing) {
    Bytes out(64, 0xAA);
    out.resize(slipDecode(hexBytes(GetParam().first), out));
    EXPECT_EQ(hexText(out), hexText(hexBytes(GetParam().second)));
}

INSTANTIATE_TEST_SUITE_P(Vectors, SlipDecodeTest,
                         ::testing::Values(std::pair{"C0 01 DB DC 02 DB DD C0", "01 C0 02 DB"},
                                           // An escape of any other byte yields that byte.
                                           std::pair{"C0 DB 41 DB C0 C0", "41 C0"},
                                           std::pair{"C0 C0 C0 05 06 C0", "05 06"},
                                           std::pair{"C0 01 02 03", ""},
                                           // Cut inside an escape, and an escaped END.
                                           std::pair{"C0 01 DB", ""},
                                           std::pair{"C0 01 DB DC", ""}));

TEST(SlipEncode, EscapesEndAndEscAndEveryByteValueSurvives) {
    EXPECT_EQ(hexText(frame(hexBytes("C0 41 DB"))), "C0 DB DC 41 DB DD C0");
    EXPECT_EQ(hexText(frame({})), "C0 C0");
    Bytes datagram;
    for (int v = 0; v < 512; ++v)
        datagram.push_back(static_cast<std::uint8_t>(v));
    const Bytes f = frame(datagram);
    // Two bytes need escaping in each round of 256, plus the two ENDs.
    ASSERT_EQ(f.size(), datagram.size() + 2 + 4);
    Bytes back(datagram.size());
    ASSERT_EQ(slipDecode(f, back), datagram.size());
    EXPECT_EQ(back, datagram);
}

TEST(SlipBounds, NothingIsWrittenPastTheOutputNorReadPastTheFrame) {
    // Room for this datagram as escaped, but not for the worst case of three bytes: refused.
    Bytes out(slipEncodedMax(3) - 1, 0xAA);
    EXPECT_EQ(slipEncode(hexBytes("01 02 03"), out), 0u);
    EXPECT_EQ(out, Bytes(out.size(), 0xAA));

    // A datagram longer than its output is refused; exactly enough room is enough.
    const Bytes f = hexBytes("C0 01 02 03 DB DC C0");
    Bytes block(8, 0xAA);
    EXPECT_EQ(slipDecode(f, std::span(block).first(3)), 0u);
    EXPECT_EQ(hexText(block.data() + 3, 5), "AA AA AA AA AA");
    EXPECT_EQ(slipDecode(f, std::span(block).first(4)), 4u);
    EXPECT_EQ(hexText(block.data(), 4), "01 02 03 C0");

    // The closing END lies just beyond the frame's length: it must not be seen.
    const Bytes bytes = hexBytes("C0 01 02 C0");
    EXPECT_EQ(slipDecode(std::span(bytes).first(3), block), 0u);
    EXPECT_EQ(slipDecode(bytes, block), 2u);
}

// A line that has gone away: every write fails.
struct FailingPort final : DiscardingPort {
    bool write(const std::uint8_t*, std::size_t, std::size_t& n) override {
        ++writes;
        n = 0;
        errno = EIO;
        return false;
    }
    int writes = 0;
};

TEST(WritePort, AFailedWriteOrNoPortCountsNothing) {
    FailingPort port;
    const Bytes bytes = hexBytes("C0 01 C0");
    EXPECT_EQ(writePort(&port, bytes.data(), bytes.size()), 0u);
    EXPECT_EQ(port.writes, 1);
    EXPECT_EQ(writePort(nullptr, bytes.data(), bytes.size()), 0u);
}

} // namespace
} // namespace farlink::link
