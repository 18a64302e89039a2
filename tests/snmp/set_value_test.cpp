#include "snmp/set_value.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace farlink::snmp {
namespace {

using farlink::testing::hexBytes;
using farlink::testing::TempProfileDir;

VarBind makeBinding(std::uint8_t tag, std::uint32_t valueWord,
                    const std::vector<std::uint8_t>& bytes) {
    VarBind b;
    b.valueTag = tag;
    b.valueWord = valueWord;
    std::copy_n(bytes.begin(), std::min(bytes.size(), b.valueBytes.size()), b.valueBytes.begin());
    return b;
}

void writeKeyword(const TempProfileDir& dir, const std::string& keyword) {
    dir.write("TESSEL.INI", "[environment]\nkeyword=" + keyword + "\n");
}

std::vector<std::uint8_t> xs(std::size_t count) {
    return std::vector<std::uint8_t>(count, 'x');
}

// `head`, then the keyword padded with zeros to 16 bytes.
std::vector<std::uint8_t> guarded(std::vector<std::uint8_t> head, std::string_view word) {
    head.insert(head.end(), word.begin(), word.end());
    head.resize(head.size() + 16 - word.size(), 0);
    return head;
}

constexpr const char* kWord16 = "Kestrel-Passw0rd"; // 16 characters
const std::vector<std::uint8_t> kFive = hexBytes("05 00 00 00");
const std::vector<std::uint8_t> kHi = {'h', 'i', 0};
constexpr std::size_t kNumber = 0; // as a buffer size: decode a number, not a text
constexpr const char* kRefused = "<refused>";

struct DecodeCase {
    const char* label;
    std::string keyword; // "" for none
    std::uint8_t tag;
    std::uint32_t valueWord;
    std::vector<std::uint8_t> bytes;
    std::size_t bufferSize;
    std::string value; // the text, the number in decimal, or kRefused
};

class DecodeSetValue : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeSetValue, DecodesOrRefuses) {
    const DecodeCase& c = GetParam();
    const int result = c.value == kRefused ? 0 : 1;
    TempProfileDir dir;
    writeKeyword(dir, c.keyword);
    const VarBind binding = makeBinding(c.tag, c.valueWord, c.bytes);
    if (c.bufferSize == kNumber) {
        std::uint32_t number = 0xDEADBEEF;
        ASSERT_EQ(decodeSetNumber(binding, number), result);
        if (result == 1) {
            EXPECT_EQ(std::to_string(number), c.value);
        }
        return;
    }
    // One byte past the buffer the routine is given, to see that nothing is written there.
    std::vector<char> buffer(c.bufferSize + 1, '#');
    ASSERT_EQ(decodeSetText(binding, std::span<char>(buffer.data(), c.bufferSize)), result);
    EXPECT_EQ(buffer[c.bufferSize], '#');
    if (result == 1) {
        EXPECT_EQ(std::string(buffer.data()), c.value);
    }
}

// Each row writes its own keyword, so the rows also show that the keyword is read anew for every
// value: an operator may change it while the agent runs.
const std::vector<DecodeCase> kDecodeCases = {
    {"number_integer", "", 0x02, 5, {}, kNumber, "5"},
    {"number_octets_first_four_little_endian", "", 0x04, 6, hexBytes("01 02 03 04 05 06"), kNumber,
     std::to_string(0x04030201)},
    {"number_octets_too_short", "", 0x04, 3, hexBytes("05 00 00"), kNumber, kRefused},
    {"number_unsupported_tag", "", 0xFF, 4, kFive, kNumber, kRefused},
    {"number_keyword_integer_refused", kWord16, 0x02, 5, {}, kNumber, kRefused},
    {"number_keyword_length_not_20", kWord16, 0x04, 21, guarded(kFive, kWord16), kNumber, kRefused},
    // The file's keyword is cut to 16 characters before it is compared.
    {"number_keyword_cut_to_16", std::string(kWord16) + "XYZ", 0x04, 20,
     guarded(hexBytes("FF FF FF 7F"), kWord16), kNumber, std::to_string(0x7FFFFFFF)},
    {"number_keyword_zero_padded", "owl", 0x04, 20, guarded(kFive, "owl"), kNumber, "5"},
    {"text_fills_buffer", "", 0x04, 9, xs(9), 10, std::string(9, 'x')},
    {"text_too_long_for_buffer", "", 0x04, 10, xs(10), 10, kRefused},
    {"text_all_80_bytes", "", 0x04, 80, xs(80), 81, std::string(80, 'x')},
    {"text_beyond_value_bytes", "", 0x04, 81, xs(80), 200, kRefused},
    {"text_keyword", "owl", 0x04, 19, guarded(kHi, "owl"), 32, "hi"},
    {"text_keyword_length_mismatch", "owl", 0x04, 20, guarded(kHi, "owl"), 32, kRefused},
    {"text_keyword_too_long", "owl", 0x04, 21, guarded({'a', 'b', 'c', 'd', 0}, "owl"), 4,
     kRefused},
    // 80 bytes without a zero: the text would need more bytes than ever arrive.
    {"text_keyword_no_zero_byte", "owl", 0x04, 80, xs(80), 200, kRefused},
};

INSTANTIATE_TEST_SUITE_P(Values, DecodeSetValue, ::testing::ValuesIn(kDecodeCases),
                         [](const auto& info) { return std::string(info.param.label); });

} // namespace
} // namespace farlink::snmp
