#include "snmp/ber.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace farlink::snmp {
namespace {

using farlink::testing::hexBytes;
using farlink::testing::hexText;

template <class Write> std::vector<std::uint8_t> written(Write&& write) {
    std::vector<std::uint8_t> buffer(1024, 0xEE);
    std::uint8_t* cur = buffer.data();
    write(cur);
    buffer.resize(static_cast<std::size_t>(cur - buffer.data()));
    return buffer;
}

// What a reader returns, how far it moves, and whether it failed: for the integer reader ok = 0,
// for the others a cursor marked overrun because the bytes ran out.
enum Reader { Tag, PduTag, Length, Integer };

struct ReadCase {
    Reader reader;
    const char* bytes;
    std::uint32_t expected;
    std::size_t consumed;
    bool failed;
};

class ReaderTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReaderTest, ReadsWithinTheBytes) {
    const ReadCase& c = GetParam();
    const auto bytes = hexBytes(c.bytes);
    Cursor cur = makeCursor(bytes);
    int ok = 1;
    const std::uint32_t value = c.reader == Tag      ? readTag(cur)
                                : c.reader == PduTag ? readPduTag(cur)
                                : c.reader == Length ? readLength(cur)
                                                     : readInteger(cur, ok);
    EXPECT_EQ(value, c.expected);
    EXPECT_EQ(c.reader == Integer ? ok == 0 : cur.overrun, c.failed);
    EXPECT_EQ(bytes.size() - cur.remaining(), c.consumed);
    EXPECT_LE(cur.pos, cur.end);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Vectors, ReaderTest, ::testing::ValuesIn(std::vector<ReadCase>{
    // The type-tag reader knows exactly five tags.
    {Tag, "06", 0x06, 1, false}, {Tag, "41", 0xFF, 1, false},
    // Readers at the end of their bytes, and a PDU tag whose length is missing.
    {Tag, "", 0xFF, 0, true}, {PduTag, "", 0xFF, 0, true}, {Length, "", 0, 0, true},
    {PduTag, "A0", 0xA0, 1, true},
    {Length, "81 80", 128, 2, false}, {Length, "82 01 00", 256, 3, false},
    // More than four octets shift the early ones out.
    {Length, "85 01 00 00 00 02", 2, 6, false},
    // Long forms cut short.
    {Length, "82 01", 0, 2, true}, {Length, "FF 01 02", 0, 3, true},
    // Integers are 32-bit words: signed content is sign-extended, five bytes only for an
    // unsigned word, and nothing that would be cut (2^32 is not 0) or is empty.
    {Integer, "02 01 FF", 0xFFFFFFFF, 3, false}, {Integer, "02 01 7F", 127, 3, false},
    {Integer, "02 05 00 FF FF FF FE", 0xFFFFFFFE, 7, false}, {Integer, "02 00", 0, 2, true},
    {Integer, "02 05 01 00 00 00 00", 0, 7, true},
    {Integer, "02 02 01", 0, 2, true}, {Integer, "02 84 FF FF FF FF 00", 0, 6, true}}));
// clang-format on

TEST(BerReaders, OctetStringLongerThanItsDestinationIsCutButConsumedWhole) {
    std::vector<std::uint8_t> bytes = {0x04, 0x81, 0x96};
    for (int i = 0; i < 150; ++i)
        bytes.push_back(static_cast<std::uint8_t>(i));
    bytes.push_back(0x05);
    bytes.push_back(0x00);
    // The destination sits in a larger block whose tail must stay untouched.
    std::array<std::uint8_t, 96> block{};
    block.fill(0xEE);
    Cursor cur = makeCursor(bytes);
    std::uint16_t length = 0;
    ASSERT_EQ(readOctetString(cur, std::span<std::uint8_t>(block.data(), 80), length), 0);
    EXPECT_EQ(length, 150);
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(block[79], 79);
    for (std::size_t i = 80; i < block.size(); ++i)
        EXPECT_EQ(block[i], 0xEE) << i;
    EXPECT_EQ(readTag(cur), kTagNull);
}

TEST(BerReaders, OctetStringRejectsWrongTagAndContentPastTheEnd) {
    std::array<std::uint8_t, 8> dest{};
    std::uint16_t length = 0;
    for (const char* text : {"02 01 00", "04 04 41 42 43", "04 82 00", "04", ""}) {
        const auto bytes = hexBytes(text);
        Cursor cur = makeCursor(bytes);
        EXPECT_EQ(readOctetString(cur, dest, length), -1) << text;
        EXPECT_LE(cur.pos, cur.end);
    }
}

TEST(BerOid, ContentIsReadNoFurtherThanItGoes) {
    Oid oid;
    // A last byte with its high bit set begins a sub-identifier that never ends.
    const auto content = hexBytes("2B 06 81");
    Cursor b = makeCursor(content);
    ASSERT_EQ(readOid(b, 3, oid), 0);
    EXPECT_EQ(oid.count, 3);
    EXPECT_EQ(oid.sub[2], 6u);
    EXPECT_EQ(oid.sub[3], 0u);

    Cursor c = makeCursor(content);
    EXPECT_EQ(readOid(c, 4, oid), -1);
    EXPECT_LE(c.pos, c.end);

    Cursor empty = makeCursor(content);
    oid.sub[4] = 9;
    oid.count = 5;
    ASSERT_EQ(readOid(empty, 0, oid), 0);
    EXPECT_EQ(oid.count, 0);
    EXPECT_EQ(empty.remaining(), 3u);
}

struct WriteCase {
    std::uint32_t value;
    const char* bytes;
};

class WriteIntegerTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriteIntegerTest, WritesShortestFormAndSizesIt) {
    const auto out = written([&](std::uint8_t*& c) { writeInteger(c, GetParam().value); });
    EXPECT_EQ(hexText(out), hexText(hexBytes(GetParam().bytes)));
    EXPECT_EQ(integerFieldSize(GetParam().value), out.size());

    Cursor cur = makeCursor(out);
    int ok = 0;
    EXPECT_EQ(readInteger(cur, ok), GetParam().value);
    EXPECT_EQ(ok, 1);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Integers, WriteIntegerTest, ::testing::ValuesIn(std::vector<WriteCase>{
    {0, "02 01 00"}, {127, "02 01 7F"}, {128, "02 02 00 80"}, {0x8000, "02 03 00 80 00"},
    {1u << 23, "02 04 00 80 00 00"}, {1u << 24, "02 04 01 00 00 00"},
    {1u << 31, "02 04 80 00 00 00"}, {0xFFFFFFFF, "02 04 FF FF FF FF"}}));
// clang-format on

} // namespace
} // namespace farlink::snmp
