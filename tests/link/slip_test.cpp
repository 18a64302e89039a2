#include "link/slip.h"
#include "platform/memory_port.h"
#include "support/station.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <ostream>
#include <vector>

namespace farlink::link {
namespace {

using testing::hexBytes;
using testing::hexText;

struct DecodeCase {
    const char* name;
    const char* frame;
    const char* datagram; // empty: the frame yields nothing
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
    *os << c.frame;
}

class SlipDecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(SlipDecodeTest, YieldsTheDatagram) {
    const auto frame = hexBytes(GetParam().frame);
    const auto expected = hexBytes(GetParam().datagram);
    std::vector<std::uint8_t> out(64, 0xAA);
    const std::size_t n = slipDecode(frame, out);
    EXPECT_EQ(n, expected.size());
    out.resize(n);
    EXPECT_EQ(hexText(out), hexText(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, SlipDecodeTest,
    ::testing::Values(DecodeCase{"BothEscapes", "C0 01 DB DC 02 DB DD C0", "01 C0 02 DB"},
                      DecodeCase{"EscapeOfAnotherByteYieldsIt", "C0 DB 41 DB C0 C0", "41 C0"},
                      DecodeCase{"SeveralOpeningEnds", "C0 C0 C0 05 06 C0", "05 06"},
                      DecodeCase{"NoOpeningEnd", "05 06 C0", "05 06"},
                      DecodeCase{"StopsAtTheFirstClosingEnd", "C0 01 C0 02 C0", "01"},
                      DecodeCase{"NoClosingEnd", "C0 01 02 03", ""},
                      DecodeCase{"CutInsideAnEscape", "C0 01 DB", ""},
                      DecodeCase{"EscapedEndIsNotAClosingEnd", "C0 01 DB DC", ""},
                      DecodeCase{"OnlyEnds", "C0 C0 C0", ""}, DecodeCase{"Empty", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct EncodeCase {
    const char* name;
    const char* datagram;
    const char* frame;
};

void PrintTo(const EncodeCase& c, std::ostream* os) {
    *os << c.datagram;
}

class SlipEncodeTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(SlipEncodeTest, WritesTheFrame) {
    const auto datagram = hexBytes(GetParam().datagram);
    const auto expected = hexBytes(GetParam().frame);
    std::vector<std::uint8_t> out(slipEncodedMax(datagram.size()), 0xAA);
    const std::size_t n = slipEncode(datagram, out);
    EXPECT_EQ(n, expected.size());
    out.resize(n);
    EXPECT_EQ(hexText(out), hexText(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, SlipEncodeTest,
    ::testing::Values(EncodeCase{"BothEscapes", "C0 41 DB", "C0 DB DC 41 DB DD C0"},
                      EncodeCase{"Empty", "", "C0 C0"},
                      EncodeCase{"EscapeCodesAloneArePlain", "DC DD 00 FF", "C0 DC DD 00 FF C0"},
                      EncodeCase{"AllEnds", "C0 C0", "C0 DB DC DB DC C0"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SlipRoundTrip, EveryByteValueSurvives) {
    std::vector<std::uint8_t> datagram;
    for (int round = 0; round < 2; ++round)
        for (int v = 0; v < 256; ++v)
            datagram.push_back(static_cast<std::uint8_t>(v));
    std::vector<std::uint8_t> frame(slipEncodedMax(datagram.size()));
    const std::size_t encoded = slipEncode(datagram, frame);
    // Two bytes need escaping in each round, plus the two ENDs.
    ASSERT_EQ(encoded, datagram.size() + 2 + 4);
    frame.resize(encoded);
    std::vector<std::uint8_t> back(datagram.size());
    ASSERT_EQ(slipDecode(frame, back), datagram.size());
    EXPECT_EQ(back, datagram);
}

TEST(SlipBounds, EncodeRefusesAnOutputBelowTheWorstCase) {
    const auto datagram = hexBytes("01 02 03");
    // Room for this datagram as escaped, but not for the worst case of three bytes.
    std::vector<std::uint8_t> out(slipEncodedMax(datagram.size()) - 1, 0xAA);
    EXPECT_EQ(slipEncode(datagram, out), 0u);
    EXPECT_EQ(out, std::vector<std::uint8_t>(out.size(), 0xAA));
}

TEST(SlipBounds, DecodeRefusesADatagramLongerThanItsOutput) {
    const auto frame = hexBytes("C0 01 02 03 DB DC C0");
    std::vector<std::uint8_t> block(8, 0xAA);
    // Only the first three bytes of the block are the output; nothing lands past them.
    EXPECT_EQ(slipDecode(frame, std::span(block).first(3)), 0u);
    for (std::size_t i = 3; i < block.size(); ++i)
        EXPECT_EQ(block[i], 0xAA) << i;
    // Exactly enough room is enough.
    EXPECT_EQ(slipDecode(frame, std::span(block).first(4)), 4u);
    EXPECT_EQ(hexText(block.data(), 4), "01 02 03 C0");
}

TEST(SlipBounds, DecodeReadsOnlyTheBytesItIsGiven) {
    // The closing END lies just beyond the frame's length: it must not be seen.
    const auto bytes = hexBytes("C0 01 02 C0");
    std::vector<std::uint8_t> out(8);
    EXPECT_EQ(slipDecode(std::span(bytes).first(3), out), 0u);
    EXPECT_EQ(slipDecode(bytes, out), 2u);
}

// A port whose reads and writes always fail, as a line that has gone away does.
class FailingPort final : public testing::DiscardingPort {
  public:
    bool read(std::uint8_t*, std::size_t, std::size_t& n) override {
        n = 0;
        return false;
    }
    bool write(const std::uint8_t*, std::size_t, std::size_t& n) override {
        ++writes;
        n = 0;
        errno = EIO;
        return false;
    }
    std::string deviceName() const override { return "failing"; }
    int writes = 0;
};

TEST(WritePort, HandsTheBytesToThePortWhole) {
    platform::MemoryPort port;
    const auto bytes = hexBytes("C0 01 02 03 C0");
    EXPECT_EQ(writePort(&port, bytes.data(), bytes.size()), bytes.size());
    EXPECT_EQ(port.takeWritten(), bytes);
}

TEST(WritePort, AFailedWriteCountsNothing) {
    FailingPort port;
    const auto bytes = hexBytes("C0 01 C0");
    EXPECT_EQ(writePort(&port, bytes.data(), bytes.size()), 0u);
    EXPECT_EQ(port.writes, 1);
    EXPECT_EQ(writePort(nullptr, bytes.data(), bytes.size()), 0u);
}

} // namespace
} // namespace farlink::link
