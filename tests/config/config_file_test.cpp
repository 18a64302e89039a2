#include "config/config_file.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace farlink::config {
namespace {

using farlink::testing::hexBytes;
using farlink::testing::TempProfileDir;

std::string text(const auto& field) {
    return std::string(field.data());
}

// ---- Port sections ----

TEST(PortSettings, SectionWithOnlyPortNumberTakesTheDefaults) {
    TempProfileDir dir;
    dir.write("TESSEL.INI", "[Serial Port Parameters.2]\nPortNumber=COM2\n");
    std::array<PortSettings, 4> ports;
    EXPECT_EQ(readPortSettings(ports), 4);

    EXPECT_EQ(text(ports[1].name), "COM2");
    EXPECT_EQ(ports[1].baud, 9600);
    EXPECT_EQ(ports[1].dataBits, 8);
    EXPECT_EQ(ports[1].stopBits, 1);
    // No modem and no parity: the port set-up leaves such a port out of use.
    EXPECT_EQ(text(ports[1].modem), "");
    EXPECT_EQ(text(ports[1].parity), "");
    EXPECT_EQ(text(ports[1].initString), "");
    for (int i : {0, 2, 3})
        EXPECT_EQ(text(ports[i].name), "") << i;
}

TEST(PortSettings, FullSectionIsReadAndTextsAreCutToTheirFields) {
    TempProfileDir dir;
    dir.write("TESSEL.INI", "[Serial Port Parameters.1]\n"
                            "PortNumber=COM1\nBaud=19200\ndataBits=7\nstopBits=2\n"
                            "Parity=none\nModem=Y\n"
                            "ModemInitString=AT&F&C1&D2S0=1\n"
                            "[Serial Port Parameters.4]\n"
                            "PortNumber=COM4-EXTRA\nParity=NOPARITY\nModem=yes\n"
                            "ModemInitString=" +
                                std::string(50, 'A') + "\n");
    std::array<PortSettings, 4> ports;
    ASSERT_EQ(readPortSettings(ports), 4);

    EXPECT_EQ(text(ports[0].name), "COM1");
    EXPECT_EQ(ports[0].baud, 19200);
    EXPECT_EQ(ports[0].dataBits, 7);
    EXPECT_EQ(ports[0].stopBits, 2);
    EXPECT_EQ(text(ports[0].parity), "none");
    EXPECT_EQ(text(ports[0].modem), "Y");
    EXPECT_EQ(text(ports[0].initString), "AT&F&C1&D2S0=1");

    EXPECT_EQ(text(ports[3].name), "COM4-");
    EXPECT_EQ(text(ports[3].parity), "NOPAR");
    EXPECT_EQ(text(ports[3].modem), "y"); // lower case: the set-up leaves the port out
    EXPECT_EQ(text(ports[3].initString), std::string(39, 'A'));
}

TEST(PortSettings, SectionWithoutPortNumberIsLeftEmpty) {
    TempProfileDir dir;
    dir.write("TESSEL.INI", "[Serial Port Parameters.3]\nPortNumber=\nBaud=2400\nModem=Y\n"
                            "Parity=even\nModemInitString=ATZ\n");
    std::array<PortSettings, 4> ports;
    // Whatever a record held before, an unnamed port leaves it empty.
    ports[2].baud = 1200;
    ports[2].modem = {'Y', 0};
    ASSERT_EQ(readPortSettings(ports), 4);
    EXPECT_EQ(text(ports[2].name), "");
    EXPECT_EQ(ports[2].baud, 0);
    EXPECT_EQ(text(ports[2].modem), "");
    EXPECT_EQ(text(ports[2].parity), "");
}

// ---- SET value decoding ----

struct DecodeCase {
    const char* label;
    std::string keyword; // "" for none
    std::uint8_t tag;
    std::uint32_t valueWord;
    std::vector<std::uint8_t> bytes;
};

snmp::VarBind makeBinding(const DecodeCase& c) {
    snmp::VarBind b;
    b.valueTag = c.tag;
    b.valueWord = c.valueWord;
    std::copy_n(c.bytes.begin(), std::min(c.bytes.size(), b.valueBytes.size()),
                b.valueBytes.begin());
    return b;
}

void writeKeyword(const TempProfileDir& dir, const std::string& keyword) {
    dir.write("TESSEL.INI", "[environment]\nkeyword=" + keyword + "\n");
}

// 4 value bytes, then the keyword padded with zeros to 16 bytes.
std::vector<std::uint8_t> guardedNumber(std::string_view value, std::string_view word) {
    std::vector<std::uint8_t> out = hexBytes(value);
    out.insert(out.end(), word.begin(), word.end());
    out.resize(out.size() + 16 - word.size(), 0);
    return out;
}

constexpr const char* kLongWord = "Kestrel-Passw0rd"; // 16 characters

struct NumberCase {
    DecodeCase in;
    int result;
    std::uint32_t number;
};

void PrintTo(const NumberCase& c, std::ostream* os) {
    *os << c.in.label;
}

class DecodeSetNumber : public ::testing::TestWithParam<NumberCase> {};

TEST_P(DecodeSetNumber, DecodesOrRefuses) {
    const NumberCase& c = GetParam();
    TempProfileDir dir;
    writeKeyword(dir, c.in.keyword);
    std::uint32_t number = 0xDEADBEEF;
    ASSERT_EQ(decodeSetNumber(makeBinding(c.in), number), c.result);
    if (c.result == 1) {
        EXPECT_EQ(number, c.number);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, DecodeSetNumber,
    ::testing::Values(
        NumberCase{{"plain_integer", "", 0x02, 5, {}}, 1, 5},
        NumberCase{{"plain_octets_little_endian", "", 0x04, 4, hexBytes("05 00 00 00")}, 1, 5},
        NumberCase{
            {"plain_octets_first_four", "", 0x04, 6, hexBytes("01 02 03 04 05 06")}, 1, 0x04030201},
        NumberCase{{"plain_octets_too_short", "", 0x04, 3, hexBytes("05 00 00")}, 0, 0},
        NumberCase{{"plain_null", "", 0x05, 0, {}}, 0, 0},
        NumberCase{{"plain_unsupported_tag", "", 0xFF, 4, hexBytes("05 00 00 00")}, 0, 0},
        NumberCase{
            {"keyword_16", kLongWord, 0x04, 20, guardedNumber("05 00 00 00", kLongWord)}, 1, 5},
        NumberCase{{"keyword_changed_character", kLongWord, 0x04, 20,
                    guardedNumber("05 00 00 00", "Kestrel-Passw0rD")},
                   0,
                   0},
        NumberCase{{"keyword_integer_refused", kLongWord, 0x02, 5, {}}, 0, 0},
        NumberCase{
            {"keyword_length_not_20", kLongWord, 0x04, 21, guardedNumber("05 00 00 00", kLongWord)},
            0,
            0},
        // The file's keyword is cut to 16 characters before it is compared.
        NumberCase{{"keyword_cut_to_16", std::string(kLongWord) + "XYZ", 0x04, 20,
                    guardedNumber("FF FF FF 7F", kLongWord)},
                   1,
                   0x7FFFFFFF},
        NumberCase{
            {"short_keyword_zero_padded", "owl", 0x04, 20, guardedNumber("2A 01 00 00", "owl")},
            1,
            0x12A},
        NumberCase{
            {"short_keyword_case_matters", "owl", 0x04, 20, guardedNumber("2A 00 00 00", "OWL")},
            0,
            0},
        NumberCase{
            {"short_keyword_longer_value", "owl", 0x04, 20, guardedNumber("2A 00 00 00", "owls")},
            0,
            0},
        NumberCase{
            {"short_keyword_shorter_value", "owl", 0x04, 20, guardedNumber("2A 00 00 00", "ow")},
            0,
            0}),
    [](const auto& info) { return std::string(info.param.in.label); });

// The text, its zero byte, then the keyword padded with zeros to 16 bytes.
std::vector<std::uint8_t> guardedText(std::string_view value, std::string_view word) {
    std::vector<std::uint8_t> out(value.begin(), value.end());
    out.push_back(0);
    out.insert(out.end(), word.begin(), word.end());
    out.resize(out.size() + 16 - word.size(), 0);
    return out;
}

std::vector<std::uint8_t> bytesOf(std::string_view s) {
    return {s.begin(), s.end()};
}

struct TextCase {
    DecodeCase in;
    std::size_t bufferSize;
    int result;
    std::string text;
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.in.label;
}

class DecodeSetText : public ::testing::TestWithParam<TextCase> {};

TEST_P(DecodeSetText, DecodesOrRefuses) {
    const TextCase& c = GetParam();
    TempProfileDir dir;
    writeKeyword(dir, c.in.keyword);
    // One byte past the buffer the routine is given, to see that nothing is written there.
    std::vector<char> buffer(c.bufferSize + 1, '#');
    ASSERT_EQ(decodeSetText(makeBinding(c.in), std::span<char>(buffer.data(), c.bufferSize)),
              c.result);
    EXPECT_EQ(buffer[c.bufferSize], '#');
    if (c.result == 1) {
        EXPECT_EQ(std::string(buffer.data()), c.text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, DecodeSetText,
    ::testing::Values(
        TextCase{{"plain", "", 0x04, 5, bytesOf("hello")}, 32, 1, "hello"},
        TextCase{{"plain_empty", "", 0x04, 0, {}}, 1, 1, ""},
        TextCase{{"plain_fills_buffer", "", 0x04, 9, bytesOf("123456789")}, 10, 1, "123456789"},
        TextCase{{"plain_too_long_for_buffer", "", 0x04, 10, bytesOf("1234567890")}, 10, 0, ""},
        TextCase{{"plain_all_80_bytes", "", 0x04, 80, std::vector<std::uint8_t>(80, 'x')},
                 81,
                 1,
                 std::string(80, 'x')},
        TextCase{{"plain_beyond_value_bytes", "", 0x04, 81, std::vector<std::uint8_t>(80, 'x')},
                 200,
                 0,
                 ""},
        TextCase{{"keyword_text", "owl", 0x04, 19, guardedText("hi", "owl")}, 32, 1, "hi"},
        TextCase{{"keyword_empty_text", "owl", 0x04, 17, guardedText("", "owl")}, 32, 1, ""},
        TextCase{{"keyword_16", kLongWord, 0x04, 28, guardedText("Jane Smith!", kLongWord)},
                 32,
                 1,
                 "Jane Smith!"},
        TextCase{{"keyword_wrong", "owl", 0x04, 19, guardedText("hi", "owk")}, 32, 0, ""},
        TextCase{{"keyword_length_mismatch", "owl", 0x04, 20, guardedText("hi", "owl")}, 32, 0, ""},
        TextCase{{"keyword_missing", "owl", 0x04, 2, bytesOf("hi")}, 32, 0, ""},
        TextCase{{"keyword_text_too_long_for_buffer", "owl", 0x04, 21, guardedText("abcd", "owl")},
                 4,
                 0,
                 ""},
        // 80 bytes without a zero: the text would need more bytes than ever arrive.
        TextCase{{"keyword_no_zero_byte", "owl", 0x04, 80, std::vector<std::uint8_t>(80, 'x')},
                 200,
                 0,
                 ""}),
    [](const auto& info) { return std::string(info.param.in.label); });

TEST(DecodeSetValue, KeywordIsReadAgainForEveryValue) {
    TempProfileDir dir;
    snmp::VarBind plain;
    plain.valueTag = snmp::kTagInteger;
    plain.valueWord = 7;
    std::uint32_t number = 0;

    writeKeyword(dir, "");
    EXPECT_EQ(decodeSetNumber(plain, number), 1);
    EXPECT_EQ(number, 7u);

    writeKeyword(dir, "owl");
    EXPECT_EQ(decodeSetNumber(plain, number), 0);
    std::array<char, 8> buffer{};
    plain.valueTag = snmp::kTagOctetString;
    plain.valueWord = 2;
    plain.valueBytes[0] = 'h';
    plain.valueBytes[1] = 'i';
    EXPECT_EQ(decodeSetText(plain, buffer), 0);

    writeKeyword(dir, "");
    EXPECT_EQ(decodeSetText(plain, buffer), 1);
    EXPECT_EQ(std::string(buffer.data()), "hi");
}

} // namespace
} // namespace farlink::config
