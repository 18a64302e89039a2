#include "snmp/ber.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace farlink::snmp {
namespace {

using farlink::testing::hexBytes;
using farlink::testing::hexText;

// Runs a writer into a roomy buffer and returns what it wrote.
template <class Write> std::vector<std::uint8_t> written(Write&& write) {
    std::vector<std::uint8_t> buffer(1024, 0xEE);
    std::uint8_t* cur = buffer.data();
    write(cur);
    buffer.resize(static_cast<std::size_t>(cur - buffer.data()));
    return buffer;
}

// ---- readTag ----

struct TagCase {
    std::uint8_t byte;
    std::uint8_t expected;
};

class ReadTagTest : public ::testing::TestWithParam<TagCase> {};

TEST_P(ReadTagTest, KnowsExactlyTheFiveTypeTags) {
    const std::array<std::uint8_t, 2> bytes = {GetParam().byte, 0x00};
    Cursor cur = makeCursor(bytes);
    EXPECT_EQ(readTag(cur), GetParam().expected);
    EXPECT_EQ(cur.remaining(), 1u);
    EXPECT_FALSE(cur.overrun);
}

INSTANTIATE_TEST_SUITE_P(Tags, ReadTagTest,
                         ::testing::Values(TagCase{0x02, 0x02}, TagCase{0x04, 0x04},
                                           TagCase{0x05, 0x05}, TagCase{0x06, 0x06},
                                           TagCase{0x30, 0x30}, TagCase{0x03, 0xFF},
                                           TagCase{0x40, 0xFF}, TagCase{0x41, 0xFF},
                                           TagCase{0x42, 0xFF}, TagCase{0x43, 0xFF},
                                           TagCase{0xA0, 0xFF}, TagCase{0x00, 0xFF}));

TEST(BerReaders, ReadersAtTheEndMarkTheCursorOverrun) {
    const std::vector<std::uint8_t> none;
    Cursor a = makeCursor(none);
    EXPECT_EQ(readTag(a), 0xFF);
    EXPECT_TRUE(a.overrun);

    Cursor b = makeCursor(none);
    EXPECT_EQ(readLength(b), 0u);
    EXPECT_TRUE(b.overrun);

    Cursor c = makeCursor(none);
    EXPECT_EQ(readPduTag(c), 0xFF);
    EXPECT_TRUE(c.overrun);

    // A PDU tag whose length is missing.
    const auto tagOnly = hexBytes("A0");
    Cursor d = makeCursor(tagOnly);
    EXPECT_EQ(readPduTag(d), 0xA0);
    EXPECT_TRUE(d.overrun);
}

TEST(BerReaders, PduTagConsumesTheLengthOnlyForRequests) {
    const auto request = hexBytes("A1 81 90 02");
    Cursor a = makeCursor(request);
    EXPECT_EQ(readPduTag(a), 0xA1);
    EXPECT_EQ(a.remaining(), 1u);

    const auto response = hexBytes("A2 05 02");
    Cursor b = makeCursor(response);
    EXPECT_EQ(readPduTag(b), 0xA2);
    EXPECT_EQ(b.remaining(), 2u);
    EXPECT_FALSE(b.overrun);
}

// ---- readLength ----

struct LengthCase {
    const char* bytes;
    std::uint32_t expected;
    std::size_t consumed;
    bool overrun;
};

class ReadLengthTest : public ::testing::TestWithParam<LengthCase> {};

TEST_P(ReadLengthTest, ReadsShortAndLongForms) {
    const auto bytes = hexBytes(GetParam().bytes);
    Cursor cur = makeCursor(bytes);
    EXPECT_EQ(readLength(cur), GetParam().expected);
    EXPECT_EQ(bytes.size() - cur.remaining(), GetParam().consumed);
    EXPECT_EQ(cur.overrun, GetParam().overrun);
    EXPECT_LE(cur.pos, cur.end);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, ReadLengthTest,
    ::testing::Values(LengthCase{"05", 5, 1, false}, LengthCase{"7F", 127, 1, false},
                      LengthCase{"81 80", 128, 2, false}, LengthCase{"82 01 00", 256, 3, false},
                      LengthCase{"80", 0, 1, false}, LengthCase{"84 00 00 01 00", 256, 5, false},
                      // More than four octets shift the early ones out.
                      LengthCase{"85 01 00 00 00 02", 2, 6, false},
                      // Long forms cut short.
                      LengthCase{"82 01", 0, 2, true}, LengthCase{"81", 0, 1, true},
                      LengthCase{"FF 01 02", 0, 3, true}));

// ---- readInteger ----

struct IntegerCase {
    const char* bytes;
    std::uint32_t expected;
    int ok;
};

class ReadIntegerTest : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(ReadIntegerTest, ReadsUnsignedWords) {
    const auto bytes = hexBytes(GetParam().bytes);
    Cursor cur = makeCursor(bytes);
    int ok = -7;
    EXPECT_EQ(readInteger(cur, ok), GetParam().expected);
    EXPECT_EQ(ok, GetParam().ok);
    if (ok == 1) {
        EXPECT_EQ(cur.remaining(), 0u);
    }
    EXPECT_LE(cur.pos, cur.end);
}

INSTANTIATE_TEST_SUITE_P(
    Integers, ReadIntegerTest,
    ::testing::Values(IntegerCase{"02 01 FF", 255, 1}, IntegerCase{"02 00", 0, 1},
                      IntegerCase{"02 05 01 02 03 04 05", 0x02030405, 1},
                      IntegerCase{"02 04 FF FF FF FF", 0xFFFFFFFF, 1},
                      IntegerCase{"02 02 00 80", 128, 1}, IntegerCase{"02 81 01 2A", 42, 1},
                      IntegerCase{"04 01 05", 0, 0}, IntegerCase{"41 01 05", 0, 0},
                      IntegerCase{"02 02 01", 0, 0}, IntegerCase{"02", 0, 0},
                      IntegerCase{"02 84 FF FF FF FF 00", 0, 0}, IntegerCase{"", 0, 0}));

// ---- readOctetString and readSequenceHeader ----

TEST(BerReaders, OctetStringCopiesContentAndMovesPastIt) {
    const auto bytes = hexBytes("04 03 41 42 43 05 00");
    Cursor cur = makeCursor(bytes);
    std::array<std::uint8_t, 8> dest{};
    std::uint16_t length = 0;
    ASSERT_EQ(readOctetString(cur, dest, length), 0);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(hexText(dest.data(), dest.size()), "41 42 43 00 00 00 00 00");
    EXPECT_EQ(readTag(cur), kTagNull);
}

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

TEST(BerReaders, SequenceHeaderGivesContentLengthOrZero) {
    struct Case {
        const char* bytes;
        std::uint32_t expected;
    };
    for (const Case c : {Case{"30 02 05 00", 2}, Case{"30 00", 0}, Case{"30 03 05 00", 0},
                         Case{"31 02 05 00", 0}, Case{"30 81 02 05 00", 2}, Case{"30", 0}}) {
        const auto bytes = hexBytes(c.bytes);
        Cursor cur = makeCursor(bytes);
        EXPECT_EQ(readSequenceHeader(cur), c.expected) << c.bytes;
    }
}

// ---- object identifiers ----

struct OidCase {
    const char* content; // the content bytes
    std::vector<std::uint32_t> subIds;
};

class OidVectorTest : public ::testing::TestWithParam<OidCase> {};

TEST_P(OidVectorTest, DecodesAndWritesBackTheSameBytes) {
    const auto content = hexBytes(GetParam().content);
    Cursor cur = makeCursor(content);
    Oid oid;
    ASSERT_EQ(readOid(cur, static_cast<std::uint32_t>(content.size()), oid), 0);
    EXPECT_EQ(cur.remaining(), 0u);
    ASSERT_EQ(oid.count, GetParam().subIds.size());
    for (std::size_t i = 0; i < kMaxSubIds; ++i) {
        const std::uint32_t want = i < GetParam().subIds.size() ? GetParam().subIds[i] : 0;
        EXPECT_EQ(oid.sub[i], want) << "slot " << i;
    }

    const auto out = written([&](std::uint8_t*& c) { writeOid(c, oid); });
    ASSERT_EQ(out.size(), content.size() + 2);
    EXPECT_EQ(out[0], kTagOid);
    EXPECT_EQ(out[1], content.size());
    EXPECT_EQ(hexText(out.data() + 2, out.size() - 2), hexText(content));
    EXPECT_EQ(oidFieldSize(oid), out.size());
    EXPECT_EQ(oidContentSize(oid), content.size());
}

INSTANTIATE_TEST_SUITE_P(
    Names, OidVectorTest,
    ::testing::Values(OidCase{"2B 06 01 04 01 81 FD 59 19 05 04 01 00",
                              {1, 3, 6, 1, 4, 1, 32473, 25, 5, 4, 1, 0}},
                      OidCase{"2B", {1, 3}}, OidCase{"2B 7F 81 00", {1, 3, 127, 128}},
                      OidCase{"2B FF 7F 81 80 00", {1, 3, 16383, 16384}},
                      OidCase{"2B FF FF 7F 81 80 80 00", {1, 3, (1u << 21) - 1, 1u << 21}},
                      OidCase{"2B FF FF FF 7F 81 80 80 80 00", {1, 3, (1u << 28) - 1, 1u << 28}},
                      OidCase{"2B 8F FF FF FF 7F", {1, 3, 0xFFFFFFFF}},
                      // 15 content bytes, 15 sub-identifiers: the most a name may have.
                      OidCase{"2B 01 02 03 04 05 06 07 08 09 0A 0B 0C 81 00",
                              {1, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 128}}));

TEST(BerOid, FifteenBytesHoldingSixteenSubIdsAreRejected) {
    // Two arcs from the first byte and fourteen one-byte sub-identifiers.
    const auto content = hexBytes("2B 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E");
    ASSERT_EQ(content.size(), 15u);
    Cursor cur = makeCursor(content);
    Oid oid;
    EXPECT_EQ(readOid(cur, 15, oid), -1);
}

TEST(BerOid, TrailingUnfinishedSubIdIsNotCounted) {
    const auto content = hexBytes("2B 06 81");
    Cursor cur = makeCursor(content);
    Oid oid;
    ASSERT_EQ(readOid(cur, 3, oid), 0);
    EXPECT_EQ(oid.count, 3);
    EXPECT_EQ(oid.sub[2], 6u);
    EXPECT_EQ(oid.sub[3], 0u);
}

TEST(BerOid, ContentPastTheEndIsRejectedAndEmptyContentIsNothing) {
    const auto content = hexBytes("2B 06 01");
    Cursor cur = makeCursor(content);
    Oid oid;
    EXPECT_EQ(readOid(cur, 4, oid), -1);
    EXPECT_LE(cur.pos, cur.end);

    Cursor empty = makeCursor(content);
    oid.sub[4] = 9;
    oid.count = 5;
    ASSERT_EQ(readOid(empty, 0, oid), 0);
    EXPECT_EQ(oid.count, 0);
    EXPECT_EQ(empty.remaining(), 3u);
}

TEST(BerOid, ArcsOfTheFirstByteSplitByForty) {
    const auto content = hexBytes("52 05"); // 82 = 2 * 40 + 2
    Cursor cur = makeCursor(content);
    Oid oid;
    ASSERT_EQ(readOid(cur, 2, oid), 0);
    EXPECT_EQ(oid.sub[0], 2u);
    EXPECT_EQ(oid.sub[1], 2u);
    EXPECT_EQ(oid.sub[2], 5u);
}

// ---- integers written ----

struct WriteIntegerCase {
    std::uint32_t value;
    const char* bytes;
};

class WriteIntegerTest : public ::testing::TestWithParam<WriteIntegerCase> {};

TEST_P(WriteIntegerTest, WritesShortestFormAndSizesIt) {
    const auto out = written([&](std::uint8_t*& c) { writeInteger(c, GetParam().value); });
    EXPECT_EQ(hexText(out), hexText(hexBytes(GetParam().bytes)));
    EXPECT_EQ(integerFieldSize(GetParam().value), out.size());
    EXPECT_EQ(integerContentSize(GetParam().value) + 2, out.size());

    Cursor cur = makeCursor(out);
    int ok = 0;
    EXPECT_EQ(readInteger(cur, ok), GetParam().value);
    EXPECT_EQ(ok, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Integers, WriteIntegerTest,
    ::testing::Values(WriteIntegerCase{0, "02 01 00"}, WriteIntegerCase{127, "02 01 7F"},
                      WriteIntegerCase{128, "02 02 00 80"}, WriteIntegerCase{255, "02 02 00 FF"},
                      WriteIntegerCase{256, "02 02 01 00"}, WriteIntegerCase{0x7FFF, "02 02 7F FF"},
                      WriteIntegerCase{0x8000, "02 03 00 80 00"},
                      WriteIntegerCase{0xFFFFFF, "02 04 00 FF FF FF"},
                      WriteIntegerCase{1u << 23, "02 04 00 80 00 00"},
                      WriteIntegerCase{1u << 24, "02 04 01 00 00 00"},
                      WriteIntegerCase{0x7FFFFFFF, "02 04 7F FF FF FF"},
                      WriteIntegerCase{1u << 31, "02 04 80 00 00 00"},
                      WriteIntegerCase{0xFFFFFFFF, "02 04 FF FF FF FF"}));

// ---- lengths, strings, headers ----

struct WriteLengthCase {
    std::uint32_t value;
    std::uint32_t fieldSize;
    const char* bytes;
};

class WriteLengthTest : public ::testing::TestWithParam<WriteLengthCase> {};

TEST_P(WriteLengthTest, WritesTheFieldItWasSized) {
    const auto& p = GetParam();
    EXPECT_EQ(lengthFieldSize(p.value), p.fieldSize);
    const auto out = written([&](std::uint8_t*& c) { writeLength(c, p.value, p.fieldSize); });
    EXPECT_EQ(hexText(out), hexText(hexBytes(p.bytes)));
    Cursor cur = makeCursor(out);
    EXPECT_EQ(readLength(cur), p.value);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, WriteLengthTest,
    ::testing::Values(WriteLengthCase{0, 1, "00"}, WriteLengthCase{127, 1, "7F"},
                      WriteLengthCase{128, 2, "81 80"}, WriteLengthCase{255, 2, "81 FF"},
                      WriteLengthCase{256, 3, "82 01 00"}, WriteLengthCase{65535, 3, "82 FF FF"},
                      WriteLengthCase{65536, 4, "83 01 00 00"}));

TEST(BerWriters, OctetStringOf200BytesTakesALongLength) {
    std::vector<std::uint8_t> text(200);
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<std::uint8_t>(i + 1);
    const auto out = written([&](std::uint8_t*& c) { writeOctetString(c, text.data(), 200); });
    ASSERT_EQ(out.size(), 203u);
    EXPECT_EQ(hexText(out.data(), 3), "04 81 C8");
    EXPECT_TRUE(std::equal(text.begin(), text.end(), out.begin() + 3));

    const auto shortOut = written([&](std::uint8_t*& c) { writeOctetString(c, text.data(), 3); });
    EXPECT_EQ(hexText(shortOut), "04 03 01 02 03");
    const auto empty = written([&](std::uint8_t*& c) { writeOctetString(c, nullptr, 0); });
    EXPECT_EQ(hexText(empty), "04 00");
}

TEST(BerWriters, NullAndResponseHeader) {
    EXPECT_EQ(hexText(written([](std::uint8_t*& c) { writeNull(c); })), "05 00");
    EXPECT_EQ(hexText(written([](std::uint8_t*& c) { writePduHeader(c, 0x44); })), "A2 44");
    EXPECT_EQ(hexText(written([](std::uint8_t*& c) { writePduHeader(c, 300); })), "A2 82 01 2C");
}

} // namespace
} // namespace farlink::snmp
