#include "snmp/message.h"
#include "support/station.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace farlink::snmp {
namespace {

using farlink::testing::hexBytes;
using farlink::testing::hexText;
using farlink::testing::octets;
using farlink::testing::tlv;
using Bytes = std::vector<std::uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const char* const kName = "2B 06 01 04 01 81 FD 59 19 07 00";

Bytes binding(const char* nameContent, const Bytes& value) {
    return tlv(0x30, tlv(0x06, hexBytes(nameContent)) + value);
}
Bytes binding(const char* nameContent, const char* value) {
    return binding(nameContent, hexBytes(value));
}

// A valid GetRequest, built without the encoder under test, that a case changes part by part.
struct Parts {
    Bytes version = hexBytes("02 01 00");
    Bytes community = octets("kestrl");
    std::uint8_t pdu = kGetRequest;
    Bytes requestId = hexBytes("02 01 01");
    Bytes errorStatus = hexBytes("02 01 00");
    Bytes errorIndex = hexBytes("02 01 00");
    std::vector<Bytes> bindings = {binding(kName, "05 00")};
    Bytes list; // when set, the binding list as it stands

    Bytes build() const {
        Bytes content;
        for (const Bytes& b : bindings)
            content = content + b;
        const Bytes listField = list.empty() ? tlv(0x30, content) : list;
        return tlv(0x30, version + community +
                             tlv(pdu, requestId + errorStatus + errorIndex + listField));
    }
};

// Printable bytes that differ along the string, so a cut shows where it fell.
std::string stringOf(std::size_t n) {
    std::string out(n, ' ');
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<char>(0x20 + i % 90);
    return out;
}

Parts withBindings(std::size_t n) {
    Parts parts;
    parts.pdu = kGetNextRequest;
    parts.bindings.clear();
    for (std::size_t i = 0; i < n; ++i) {
        const Bytes name = hexBytes("2B 06 01 04 01 81 FD 59 19") + Bytes{std::uint8_t(i + 1)};
        parts.bindings.push_back(tlv(0x30, tlv(0x06, name) + hexBytes("05 00")));
    }
    return parts;
}

// A request record with its 25 varbind records attached, as the request pipeline makes it.
struct Request {
    std::array<VarBind, kMaxBindings> varbinds{};
    RequestRecord record{};
    Request() {
        for (std::size_t i = 0; i < kMaxBindings; ++i)
            record.bindings[i] = &varbinds[i];
    }
};

int decode(const Bytes& message, Request& request) {
    return decodeMessage(std::span<const std::uint8_t>(message), request.record);
}

Bytes encode(const Request& request) {
    std::array<std::uint8_t, kMaxResponseSize> out{};
    if (encodeResponse(request.record, out) != 0) return {};
    const std::size_t length = encodedMessageLength(out);
    return Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(length));
}

constexpr int kAccepted = 0;
constexpr int kMalformed = kDecodeMalformed;
constexpr int kWrongCommunity = kDecodeWrongCommunity;

// Each case changes one part of a valid GetRequest.
struct ShapeCase {
    const char* label;
    std::function<void(Parts&)> change;
    int result;
};

class MessageShapeTest : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(MessageShapeTest, AcceptsOrRejects) {
    Parts parts;
    GetParam().change(parts);
    Request request;
    ASSERT_EQ(decode(parts.build(), request), GetParam().result);
    if (GetParam().result == kAccepted) {
        // Only the six characters of the community are kept, however long it was.
        const auto& kept = request.record.community;
        EXPECT_EQ(std::string(kept.begin(), kept.begin() + 6), "kestrl");
        for (std::size_t i = 6; i < kCommunityArea; ++i)
            EXPECT_EQ(kept[i], 0) << i;
    }
}

std::vector<ShapeCase> shapeCases() {
    auto name = [](const char* content) {
        return [content](Parts& p) { p.bindings = {binding(content, "05 00")}; };
    };
    auto value = [](const char* bytes) {
        return [bytes](Parts& p) { p.bindings = {binding(kName, bytes)}; };
    };
    auto community = [](const std::string& text) {
        return [text](Parts& p) { p.community = octets(text); };
    };
    return {
        {"CommunityPastTheWorkArea", community("kestrl" + std::string(200, 'x')), kAccepted},
        {"CommunityOfFour", community("kest"), kWrongCommunity},
        {"VersionTwoToThe32", [](Parts& p) { p.version = hexBytes("02 05 01 00 00 00 00"); },
         kMalformed},
        {"ResponsePdu", [](Parts& p) { p.pdu = kGetResponse; }, kMalformed},
        {"EmptyList", [](Parts& p) { p.bindings.clear(); }, kMalformed},
        {"TwentyFiveBindings", [](Parts& p) { p = withBindings(25); }, kAccepted},
        {"TwentySixBindings", [](Parts& p) { p = withBindings(26); }, kMalformed},
        // The list holds 16 bytes of a 17-byte binding.
        {"BindingLongerThanTheList",
         [](Parts& p) { p.list = hexBytes("30 10") + binding(kName, "05 00"); }, kMalformed},
        {"NameOf15Bytes15SubIds", name("2B 01 02 03 04 05 06 07 08 09 0A 0B 0C 81 00"), kAccepted},
        {"NameOf15Bytes16SubIds", name("2B 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E"), kMalformed},
        // 2^32 + 1 would wrap onto sub-identifier 1; 2^32 - 1 is the largest there is.
        {"SubIdPast32Bits", name("2B 90 80 80 80 01"), kMalformed},
        {"SubIdOf32Bits", name("2B 8F FF FF FF 7F"), kAccepted},
        {"GetWithIntegerValue", value("02 01 05"), kMalformed},
        {"GetWithEmptyInteger", value("02 00"), kAccepted},
    };
}

INSTANTIATE_TEST_SUITE_P(Shapes, MessageShapeTest, ::testing::ValuesIn(shapeCases()),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(DecodeMessage, OuterSequenceBoundsTheMessageAt512Bytes) {
    Request request;
    EXPECT_EQ(decode(hexBytes("31 03 02 01 00"), request), -1);
    EXPECT_EQ(decode(hexBytes("30 00"), request), -1);

    Bytes exact;
    Bytes over;
    for (std::size_t pad = 0; pad < 600; ++pad) {
        Parts parts;
        parts.community = octets("kestrl" + std::string(pad, 'x'));
        const Bytes m = parts.build();
        if (m.size() == kMaxMessageSize) exact = m;
        if (m.size() == kMaxMessageSize + 1) over = m;
    }
    ASSERT_EQ(exact.size(), 512u);
    ASSERT_EQ(over.size(), 513u);
    Request a;
    EXPECT_EQ(decode(exact, a), 0);
    Request b;
    EXPECT_EQ(decode(over, b), -1);
    // Bytes after the message (padding of the datagram) are none of its business.
    Request c;
    EXPECT_EQ(decode(exact + hexBytes("00 30"), c), 0);
}

// Cuts a valid message short at every length, three ways: the bytes as they are; the content
// under a new outer header that matches the cut; and the last binding's content under new
// binding, list and outer headers, so that the cut reaches the name and value readers with every
// enclosing length consistent.
TEST(DecodeMessage, EveryTruncationIsRejected) {
    Parts set;
    set.pdu = kSetRequest;
    set.bindings = {binding(kName, "02 01 FF"), binding(kName, octets(stringOf(120))),
                    binding("2B 06 01 04 01 8F FF FF FF 7F 00", "41 02 01 02")};
    Parts many = withBindings(21);
    many.community = octets("kestrl" + stringOf(90));
    for (const Parts& parts : {Parts{}, set, many}) {
        const Bytes message = parts.build();
        Request whole;
        ASSERT_EQ(decode(message, whole), 0);

        const std::size_t header = message[1] < 0x80 ? 2 : 2 + (message[1] & 0x7Fu);
        for (std::size_t n = 0; n < message.size(); ++n) {
            // Exactly n bytes, so a read past the cut is a read past the block.
            const Bytes prefix(message.begin(), message.begin() + static_cast<std::ptrdiff_t>(n));
            Request request;
            EXPECT_EQ(decode(prefix, request), -1) << "prefix of " << n << " bytes";
        }
        for (std::size_t n = 1; n < message.size() - header; ++n) {
            const Bytes content(message.begin() + static_cast<std::ptrdiff_t>(header),
                                message.begin() + static_cast<std::ptrdiff_t>(header + n));
            Request request;
            EXPECT_EQ(decode(tlv(0x30, content), request), -1) << "content of " << n << " bytes";
        }
        // The last binding's content (after its two header bytes) cut at every length.
        const Bytes& last = parts.bindings.back();
        Parts cut = parts;
        for (std::size_t n = 0; n + 2 < last.size(); ++n) {
            cut.bindings.back() = tlv(0x30, Bytes(last.begin() + 2, last.begin() + 2 + n));
            Request request;
            EXPECT_EQ(decode(cut.build(), request), -1) << "binding of " << n << " bytes";
        }
    }
}

TEST(EncodeResponse, ABufferOneByteShortOfTheMessageIsRefusedNotOverrun) {
    Request request;
    ASSERT_EQ(decode(Parts{}.build(), request), 0);
    setText(request.varbinds[0], "Administrator of the out-of-band line 01");
    const Bytes whole = encode(request);
    ASSERT_EQ(whole.size(), 83u);
    Bytes small(whole.size() - 1, 0xEE);
    EXPECT_EQ(encodeResponse(request.record, small), -1);
}

// 25 names (one of the longest form) and a four-byte request-id go back as they came.
TEST(EncodeResponse, RoundTripGivesTheRequestBack) {
    Parts parts = withBindings(25);
    parts.requestId = hexBytes("02 04 7F 00 00 01");
    parts.bindings.back() = binding("2B 06 01 04 01 8F FF FF FF 7F 81 80 80 00", "05 00");
    Request decoded;
    ASSERT_EQ(decode(parts.build(), decoded), 0);
    decoded.record.pduType = kGetResponse;
    parts.pdu = kGetResponse;
    EXPECT_EQ(hexText(encode(decoded)), hexText(parts.build()));
}

// Values go back as stored, then as the handlers left them: a text cut to the 80 value bytes,
// a string whose length word says more than they hold, and the error status and index.
TEST(EncodeResponse, SetValuesAndHandlerAnswersGoBackAsTheRecordHoldsThem) {
    struct Case {
        Bytes sent;
        Bytes answered;
    };
    const Case cases[] = {
        {hexBytes("02 01 FF"), hexBytes("02 04 FF FF FF FF")}, // -1 stays -1
        {octets(stringOf(150)), octets(stringOf(80))},         // the first 80 bytes kept
        {hexBytes("41 01 05"), hexBytes("05 00")},             // a type the encoder cannot write
        {hexBytes("05 00"), octets(std::string(kLongValueBytes, 'z'))},
        // An unsigned word in five bytes is the same 32 bits as a negative number in four.
        {hexBytes("02 05 00 FF FF FF FE"), hexBytes("02 04 FF FF FF FE")},
    };
    Parts parts;
    parts.pdu = kSetRequest;
    parts.bindings.clear();
    Parts expected = parts;
    expected.pdu = kGetResponse;
    expected.errorStatus = hexBytes("02 01 02");
    expected.errorIndex = hexBytes("02 01 03");
    for (const Case& c : cases) {
        parts.bindings.push_back(binding("2B 06", c.sent));
        expected.bindings.push_back(binding("2B 06", c.answered));
    }
    Request request;
    ASSERT_EQ(decode(parts.build(), request), 0);
    // Set routines take a text's length from the word, so it never says more than was kept.
    EXPECT_EQ(request.varbinds[1].valueWord, 80u);
    request.varbinds[3].valueTag = kTagOctetString;
    request.varbinds[3].valueWord = 200;
    request.varbinds[3].valueBytes.fill('z');
    request.record.errorStatus = kNoSuchName;
    request.record.errorIndex = 3;
    EXPECT_EQ(hexText(encode(request)), hexText(expected.build()));
}

// Four full strings, one growing string and a NULL: the content passes 512 on the way.
TEST(EncodeResponse, ContentOverMaxBuildSizeIsRefusedOffTheConsole) {
    Request request;
    ASSERT_EQ(decode(withBindings(6).build(), request), 0);
    for (std::size_t i = 0; i < 4; ++i)
        setText(request.varbinds[i], std::string(80, 'a'));
    std::array<std::uint8_t, kMaxResponseSize> out{};
    std::size_t largest = 0;
    for (std::size_t n = 0; n <= 80; ++n) {
        setText(request.varbinds[4], std::string(n, 'b'));
        ::testing::internal::CaptureStdout();
        const int result = encodeResponse(request.record, out);
        const std::string printed = ::testing::internal::GetCapturedStdout();
        if (result != 0) {
            EXPECT_EQ(result, -1);
            // A manager can ask for too much on every request; that is debug output only.
            EXPECT_EQ(printed, "");
            // 512 bytes of content behind a three-byte length fill the buffer to the last byte.
            EXPECT_EQ(largest, kMaxResponseSize);
            return;
        }
        largest = encodedMessageLength(out);
    }
    FAIL() << "the content never passed the limit";
}

TEST(EncodedMessageLength, ReadsEveryLengthFormWithinTheBuffer) {
    struct Case {
        const char* head;
        std::size_t bufferSize;
        std::size_t expected;
    };
    for (const Case c : {Case{"30 51", 100, 0x53}, Case{"30 81 C8", 300, 0xCB},
                         Case{"30 82 02 00", 516, 516}, Case{"30 82 02 01", 516, 0},
                         Case{"30 83 00 00 10", 516, 0}, Case{"30 51", 82, 0}, Case{"30", 1, 0}}) {
        Bytes buffer = hexBytes(c.head);
        buffer.resize(c.bufferSize);
        EXPECT_EQ(encodedMessageLength(buffer), c.expected) << c.head;
    }
}

} // namespace
} // namespace farlink::snmp
