#include "snmp/message.h"
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
using Bytes = std::vector<std::uint8_t>;

// ---- a small message builder, independent of the encoder under test ----

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes tlv(std::uint8_t tag, const Bytes& content) {
    Bytes out = {tag};
    const std::size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<std::uint8_t>(n));
    } else if (n < 0x100) {
        out.push_back(0x81);
        out.push_back(static_cast<std::uint8_t>(n));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<std::uint8_t>(n >> 8));
        out.push_back(static_cast<std::uint8_t>(n));
    }
    return out + content;
}

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// 1.3.6.1.4.1.32473.25.7.0
const char* const kName = "2B 06 01 04 01 81 FD 59 19 07 00";

Bytes binding(const char* nameContent, const Bytes& value) {
    return tlv(0x30, tlv(0x06, hexBytes(nameContent)) + value);
}
Bytes binding(const char* nameContent, const char* value) {
    return binding(nameContent, hexBytes(value));
}

struct Parts {
    Bytes version = hexBytes("02 01 00");
    Bytes community = tlv(0x04, text("kestrl"));
    std::uint8_t pdu = kGetRequest;
    Bytes requestId = hexBytes("02 01 01");
    Bytes errorStatus = hexBytes("02 01 00");
    Bytes errorIndex = hexBytes("02 01 00");
    std::vector<Bytes> bindings = {binding(kName, "05 00")};
    bool rawList = false;
    Bytes list; // used as it stands when rawList is set

    Bytes build() const {
        Bytes content;
        for (const Bytes& b : bindings)
            content = content + b;
        const Bytes listField = rawList ? list : tlv(0x30, content);
        return tlv(0x30, version + community +
                             tlv(pdu, requestId + errorStatus + errorIndex + listField));
    }
};

Bytes stringOf(std::size_t n, std::uint8_t first = 0x20) {
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(first + i % 90);
    return out;
}

// A request record with its 25 varbind records attached, as the request pipeline makes it.
struct Request {
    std::array<VarBind, kMaxBindings> varbinds{};
    RequestRecord record{};
    Request() {
        for (std::size_t i = 0; i < kMaxBindings; ++i)
            record.bindings[i] = &varbinds[i];
    }
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;
    VarBind& at(std::size_t i) { return varbinds[i]; }
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

// ---- decoding ----

TEST(DecodeMessage, FillsTheRecordFromAGetRequest) {
    Parts parts;
    parts.requestId = hexBytes("02 02 12 34");
    Request request;
    ASSERT_EQ(decode(parts.build(), request), 0);
    const RequestRecord& r = request.record;
    EXPECT_EQ(r.pduType, kGetRequest);
    EXPECT_EQ(r.version, 0u);
    EXPECT_EQ(std::string(r.community.begin(), r.community.begin() + 6), "kestrl");
    EXPECT_EQ(r.requestId, 0x1234u);
    EXPECT_EQ(r.errorStatus, 0u);
    EXPECT_EQ(r.errorIndex, 0u);
    ASSERT_EQ(r.bindingCount, 1);
    const VarBind& b = request.at(0);
    const std::array<std::uint32_t, 10> name = {1, 3, 6, 1, 4, 1, 32473, 25, 7, 0};
    ASSERT_EQ(b.name.count, 10);
    for (std::size_t i = 0; i < name.size(); ++i)
        EXPECT_EQ(b.name.sub[i], name[i]) << i;
    EXPECT_EQ(b.valueTag, kTagNull);
    EXPECT_EQ(b.valueWord, 0u);
}

struct CommunityCase {
    std::string community;
    bool accepted;
};

class CommunityTest : public ::testing::TestWithParam<CommunityCase> {};

TEST_P(CommunityTest, OnlyTheAgentsSixCharactersOpenIt) {
    Parts parts;
    parts.community = tlv(0x04, text(GetParam().community));
    Request request;
    EXPECT_EQ(decode(parts.build(), request), GetParam().accepted ? 0 : -1);
    if (GetParam().accepted) {
        // Only the six characters are kept, however long the community was.
        EXPECT_EQ(
            std::string(request.record.community.begin(), request.record.community.begin() + 6),
            "kestrl");
        for (std::size_t i = 6; i < kCommunityArea; ++i)
            EXPECT_EQ(request.record.community[i], 0) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Communities, CommunityTest,
    ::testing::Values(CommunityCase{"kestrl", true}, CommunityCase{"kestrlXYZ", true},
                      CommunityCase{"kestrl" + std::string(200, 'x'), true},
                      CommunityCase{"kest", false}, CommunityCase{"kestr", false},
                      CommunityCase{"KESTRL", false}, CommunityCase{"", false},
                      CommunityCase{std::string("kes\0rl", 6), false},
                      CommunityCase{"public", false}, CommunityCase{"xkestrl", false}));

// Each case changes one part of a valid GetRequest.
struct ShapeCase {
    const char* label;
    std::function<void(Parts&)> change;
    bool accepted;
};

class MessageShapeTest : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(MessageShapeTest, AcceptsOrRejects) {
    Parts parts;
    GetParam().change(parts);
    Request request;
    EXPECT_EQ(decode(parts.build(), request), GetParam().accepted ? 0 : -1);
}

std::vector<ShapeCase> shapeCases() {
    return {
        {"Valid", [](Parts&) {}, true},
        {"GetNext", [](Parts& p) { p.pdu = kGetNextRequest; }, true},
        {"SetWithNull", [](Parts& p) { p.pdu = kSetRequest; }, true},
        {"VersionOne", [](Parts& p) { p.version = hexBytes("02 01 01"); }, false},
        {"VersionNotInteger", [](Parts& p) { p.version = hexBytes("04 01 00"); }, false},
        {"VersionTwoOctetZero", [](Parts& p) { p.version = hexBytes("02 02 00 00"); }, true},
        {"CommunityNotString", [](Parts& p) { p.community = tlv(0x02, text("kestrl")); }, false},
        {"ResponsePdu", [](Parts& p) { p.pdu = kGetResponse; }, false},
        {"TrapPdu", [](Parts& p) { p.pdu = 0xA4; }, false},
        {"SequenceAsPdu", [](Parts& p) { p.pdu = 0x30; }, false},
        {"NoRequestId", [](Parts& p) { p.requestId.clear(); }, false},
        {"ErrorIndexNotInteger", [](Parts& p) { p.errorIndex = hexBytes("04 01 00"); }, false},
        {"EmptyList", [](Parts& p) { p.bindings.clear(); }, false},
        {"NoList",
         [](Parts& p) {
             p.rawList = true;
             p.list.clear();
         },
         false},
        {"ListNotSequence",
         [](Parts& p) {
             p.rawList = true;
             p.list = tlv(0x31, binding(kName, "05 00"));
         },
         false},
        {"ListLongerThanItsBindings",
         [](Parts& p) {
             p.rawList = true;
             p.list = tlv(0x30, binding(kName, "05 00") + hexBytes("05 00"));
         },
         false},
        {"BindingLongerThanTheList",
         [](Parts& p) {
             p.rawList = true;
             const Bytes b = binding(kName, "05 00");
             p.list = hexBytes("30") + Bytes{static_cast<std::uint8_t>(b.size() - 1)} + b;
         },
         false},
        {"BindingNotSequence",
         [](Parts& p) { p.bindings = {tlv(0x31, hexBytes("06 01 2B 05 00"))}; }, false},
        {"NameNotOid", [](Parts& p) { p.bindings = {tlv(0x30, hexBytes("04 01 2B 05 00"))}; },
         false},
        {"NameOf15Bytes15SubIds",
         [](Parts& p) {
             p.bindings = {binding("2B 01 02 03 04 05 06 07 08 09 0A 0B 0C 81 00", "05 00")};
         },
         true},
        {"NameOf15Bytes16SubIds",
         [](Parts& p) {
             p.bindings = {binding("2B 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E", "05 00")};
         },
         false},
        {"NameOf16Bytes",
         [](Parts& p) {
             p.bindings = {binding("2B 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 81 00", "05 00")};
         },
         false},
        {"NoValue", [](Parts& p) { p.bindings = {tlv(0x30, tlv(0x06, hexBytes(kName)))}; }, false},
        {"ValuePastItsBinding",
         [](Parts& p) { p.bindings = {tlv(0x30, tlv(0x06, hexBytes(kName)) + hexBytes("05 02"))}; },
         false},
        {"NameOutrunsBinding",
         [](Parts& p) {
             p.bindings = {hexBytes("30 03 06 0B") + hexBytes(kName) + hexBytes("05 00")};
         },
         false},
        {"GetWithIntegerValue", [](Parts& p) { p.bindings = {binding(kName, "02 01 05")}; }, false},
        {"GetWithCounterValue", [](Parts& p) { p.bindings = {binding(kName, "41 01 05")}; }, false},
        {"GetWithEmptyInteger", [](Parts& p) { p.bindings = {binding(kName, "02 00")}; }, true},
        {"GetWithEmptyString", [](Parts& p) { p.bindings = {binding(kName, "04 00")}; }, true},
        {"GetNextWithStringValue",
         [](Parts& p) {
             p.pdu = kGetNextRequest;
             p.bindings = {binding(kName, "04 01 41")};
         },
         false},
    };
}

INSTANTIATE_TEST_SUITE_P(Shapes, MessageShapeTest, ::testing::ValuesIn(shapeCases()),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(DecodeMessage, OuterFrameIsCheckedFirst) {
    Request request;
    EXPECT_EQ(decode(hexBytes("31 03 02 01 00"), request), -1);
    EXPECT_EQ(decode(hexBytes("30 00"), request), -1);
    EXPECT_EQ(decode(hexBytes("30 80 02 01 00"), request), -1);
    EXPECT_EQ(decode({}, request), -1);
}

TEST(DecodeMessage, BytesAfterTheMessageAreIgnored) {
    Bytes message = Parts{}.build();
    message.push_back(0x00);
    message.push_back(0x30);
    Request request;
    EXPECT_EQ(decode(message, request), 0);
}

TEST(DecodeMessage, MessageOf512BytesDecodesAnd513IsRejected) {
    Bytes exact;
    Bytes over;
    for (std::size_t pad = 0; pad < 600; ++pad) {
        Parts parts;
        parts.community = tlv(0x04, text("kestrl") + stringOf(pad));
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
}

Parts withBindings(std::size_t n, std::uint8_t pdu = kGetNextRequest) {
    Parts parts;
    parts.pdu = pdu;
    parts.bindings.clear();
    for (std::size_t i = 0; i < n; ++i) {
        Bytes name = hexBytes("2B 06 01 04 01 81 FD 59 19");
        name.push_back(static_cast<std::uint8_t>(i + 1));
        parts.bindings.push_back(tlv(0x30, tlv(0x06, name) + hexBytes("05 00")));
    }
    return parts;
}

TEST(DecodeMessage, TwentyFiveBindingsDecodeAndTwentySixAreRejected) {
    Request request;
    ASSERT_EQ(decode(withBindings(25).build(), request), 0);
    EXPECT_EQ(request.record.bindingCount, 25);
    for (std::size_t i = 0; i < 25; ++i) {
        EXPECT_EQ(request.at(i).name.count, 9);
        EXPECT_EQ(request.at(i).name.sub[8], i + 1);
    }

    Request more;
    EXPECT_EQ(decode(withBindings(26).build(), more), -1);
}

// A SetRequest binding, followed by a NULL binding that must still be found where it lies.
struct SetValueCase {
    const char* label;
    Bytes value;
    std::uint8_t tag;
    std::uint32_t word;
    Bytes stored; // the value bytes expected at the front of the record
};

class SetValueTest : public ::testing::TestWithParam<SetValueCase> {};

TEST_P(SetValueTest, StoresTheValueAndReadsOn) {
    const auto& p = GetParam();
    Parts parts;
    parts.pdu = kSetRequest;
    parts.bindings = {binding(kName, p.value), binding("2B 06 01 02 01 01 05 00", "05 00")};
    Request request;
    ASSERT_EQ(decode(parts.build(), request), 0);
    ASSERT_EQ(request.record.bindingCount, 2);
    const VarBind& b = request.at(0);
    EXPECT_EQ(b.valueTag, p.tag);
    EXPECT_EQ(b.valueWord, p.word);
    EXPECT_EQ(hexText(b.valueBytes.data(), p.stored.size()), hexText(p.stored));
    EXPECT_EQ(request.at(1).name.count, 9);
    EXPECT_EQ(request.at(1).name.sub[7], 5u);
}

std::vector<SetValueCase> setValueCases() {
    const Bytes long150 = stringOf(150);
    return {
        {"IntegerFive", hexBytes("02 01 05"), kTagInteger, 5, {}},
        {"IntegerFFIsUnsigned", hexBytes("02 01 FF"), kTagInteger, 255, {}},
        {"IntegerLastFourBytesCount",
         hexBytes("02 05 01 02 03 04 05"),
         kTagInteger,
         0x02030405,
         {}},
        {"IntegerEmpty", hexBytes("02 00"), kTagInteger, 0, {}},
        {"String", hexBytes("04 03 41 42 43"), kTagOctetString, 3, hexBytes("41 42 43")},
        {"StringOf80", tlv(0x04, stringOf(80)), kTagOctetString, 80, stringOf(80)},
        {"StringOver80KeepsTheFirst80", tlv(0x04, long150), kTagOctetString, 80,
         Bytes(long150.begin(), long150.begin() + 80)},
        {"CounterIsUnsupported", hexBytes("41 01 05"), kTagUnsupported, 1, {}},
        {"IpAddressIsUnsupported", hexBytes("40 04 0A 00 00 01"), kTagUnsupported, 4, {}},
        {"Null", hexBytes("05 00"), kTagNull, 0, {}},
    };
}

INSTANTIATE_TEST_SUITE_P(SetValues, SetValueTest, ::testing::ValuesIn(setValueCases()),
                         [](const auto& info) { return std::string(info.param.label); });

// Cuts a valid message short at every length, three ways: the bytes as they are; the content
// under a new outer header that matches the cut; and the last binding's content under new
// binding, list and outer headers, so that the cut reaches the name and value readers with every
// enclosing length consistent.
TEST(DecodeMessage, EveryTruncationIsRejected) {
    struct Shape {
        Parts parts;
        Bytes lastName;
        Bytes lastValue;
    };
    std::vector<Shape> shapes;
    {
        Shape get;
        get.lastName = hexBytes(kName);
        get.lastValue = hexBytes("05 00");
        shapes.push_back(get);

        Shape set;
        set.parts.pdu = kSetRequest;
        set.parts.bindings = {binding(kName, "02 01 FF"), binding(kName, tlv(0x04, stringOf(120)))};
        set.lastName = hexBytes("2B 06 01 04 01 8F FF FF FF 7F 00");
        set.lastValue = hexBytes("41 02 01 02");
        shapes.push_back(set);

        Shape many;
        many.parts = withBindings(20);
        many.parts.community = tlv(0x04, text("kestrl") + stringOf(90));
        many.lastName = hexBytes(kName);
        many.lastValue = hexBytes("05 00");
        shapes.push_back(many);
    }
    for (Shape& shape : shapes) {
        const Bytes lastContent = tlv(0x06, shape.lastName) + shape.lastValue;
        Parts parts = shape.parts;
        parts.bindings.push_back(tlv(0x30, lastContent));
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
        for (std::size_t n = 0; n < lastContent.size(); ++n) {
            Parts cut = shape.parts;
            cut.bindings.push_back(
                tlv(0x30, Bytes(lastContent.begin(),
                                lastContent.begin() + static_cast<std::ptrdiff_t>(n))));
            Request request;
            EXPECT_EQ(decode(cut.build(), request), -1) << "binding of " << n << " bytes";
        }
    }
}

// ---- encoding ----

TEST(EncodeResponse, StringResponseMatchesByteForByte) {
    Request request;
    request.record.pduType = kGetResponse;
    request.record.requestId = 1;
    std::copy(kCommunity.begin(), kCommunity.end(), request.record.community.begin());
    request.record.bindingCount = 1;
    Oid& name = request.at(0).name;
    const std::array<std::uint32_t, 10> subs = {1, 3, 6, 1, 4, 1, 32473, 25, 7, 0};
    std::copy(subs.begin(), subs.end(), name.sub.begin());
    name.count = 10;
    const std::string forty = "Administrator of the out-of-band line 01";
    ASSERT_EQ(forty.size(), 40u);
    setText(request.at(0), forty);

    const Bytes expected = hexBytes("30 51 02 01 00 04 06 6B 65 73 74 72 6C A2 44 02 01 01"
                                    "02 01 00 02 01 00 30 39 30 37 06 0B") +
                           hexBytes(kName) + hexBytes("04 28") + text(forty);
    ASSERT_EQ(expected.size(), 83u);

    std::array<std::uint8_t, kMaxResponseSize> out{};
    ASSERT_EQ(encodeResponse(request.record, out), 0);
    EXPECT_EQ(encodedMessageLength(out), 83u);
    EXPECT_EQ(hexText(out.data(), 83), hexText(expected));

    // A buffer one byte short of the message is refused, not overrun.
    std::array<std::uint8_t, 82> small{};
    EXPECT_EQ(encodeResponse(request.record, small), -1);
}

// Requests whose response differs only in the PDU tag: every value goes back as it came.
TEST(EncodeResponse, RoundTripGivesTheRequestBack) {
    Parts set;
    set.pdu = kSetRequest;
    set.requestId = hexBytes("02 04 7F 00 00 01");
    set.bindings = {binding(kName, "02 02 00 FF"), binding(kName, tlv(0x04, stringOf(80))),
                    binding(kName, "02 04 FF FF FF FE"), binding(kName, "04 00"),
                    binding("2B 06 01 04 01 8F FF FF FF 7F 81 80 80 00", "05 00")};
    const Parts big = withBindings(25);
    for (Parts parts : {Parts{}, set, big}) {
        const Bytes request = parts.build();
        Request decoded;
        ASSERT_EQ(decode(request, decoded), 0);
        decoded.record.pduType = kGetResponse;
        parts.pdu = kGetResponse;
        EXPECT_EQ(hexText(encode(decoded)), hexText(parts.build()));
    }
}

TEST(EncodeResponse, UnwritableValueGoesBackAsNull) {
    Parts parts;
    parts.pdu = kSetRequest;
    parts.bindings = {binding(kName, "41 01 05"), binding(kName, "40 04 0A 00 00 01"),
                      binding(kName, "02 01 07")};
    Request request;
    ASSERT_EQ(decode(parts.build(), request), 0);

    Parts expected = parts;
    expected.pdu = kGetResponse;
    expected.bindings = {binding(kName, "05 00"), binding(kName, "05 00"),
                         binding(kName, "02 01 07")};
    EXPECT_EQ(hexText(encode(request)), hexText(expected.build()));
}

TEST(EncodeResponse, StringLengthNeverReachesPastTheValueBytes) {
    Request request;
    ASSERT_EQ(decode(Parts{}.build(), request), 0);
    request.at(0).valueTag = kTagOctetString;
    request.at(0).valueWord = 200;
    request.at(0).valueBytes.fill('z');

    Parts expected;
    expected.pdu = kGetResponse;
    expected.bindings = {binding(kName, tlv(0x04, Bytes(80, 'z')))};
    EXPECT_EQ(hexText(encode(request)), hexText(expected.build()));
}

TEST(EncodeResponse, AnswersSetByHandlersAreWritten) {
    Request request;
    ASSERT_EQ(decode(withBindings(3).build(), request), 0);
    setInteger(request.at(0), 0x80000000u);
    setText(request.at(1), std::string(100, 'q'));
    EXPECT_EQ(request.at(1).valueWord, 80u);
    EXPECT_EQ(request.at(1).valueTag, kTagOctetString);
    request.record.errorStatus = kNoSuchName;
    request.record.errorIndex = 3;

    Parts expected = withBindings(3, kGetResponse);
    expected.errorStatus = hexBytes("02 01 02");
    expected.errorIndex = hexBytes("02 01 03");
    expected.bindings[0] = binding("2B 06 01 04 01 81 FD 59 19 01", "02 04 80 00 00 00");
    expected.bindings[1] = binding("2B 06 01 04 01 81 FD 59 19 02", tlv(0x04, Bytes(80, 'q')));
    EXPECT_EQ(hexText(encode(request)), hexText(expected.build()));
}

TEST(EncodeResponse, ContentOverMaxBuildSizeIsRefusedWithALine) {
    Request request;
    ASSERT_EQ(decode(withBindings(5).build(), request), 0);
    for (std::size_t i = 0; i < 5; ++i)
        setText(request.at(i), std::string(80, 'a'));
    std::array<std::uint8_t, kMaxResponseSize> out{};
    // Five 80-byte strings fit.
    ASSERT_EQ(encodeResponse(request.record, out), 0);
    EXPECT_GT(encodedMessageLength(out), 256u);

    ASSERT_EQ(decode(withBindings(6).build(), request), 0);
    for (std::size_t i = 0; i < 6; ++i)
        setText(request.at(i), std::string(80, 'a'));
    ::testing::internal::CaptureStdout();
    const int result = encodeResponse(request.record, out);
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(printed, "Length of Pdu greater than MAXBUILDSIZE\n");
}

TEST(EncodeResponse, LargestResponseHoldsExactlyMaxBuildSizeOfContent) {
    // Four full strings, one growing string and a NULL: the content passes 512 on the way.
    Request request;
    ASSERT_EQ(decode(withBindings(6).build(), request), 0);
    for (std::size_t i = 0; i < 4; ++i)
        setText(request.at(i), std::string(80, 'a'));
    std::array<std::uint8_t, kMaxResponseSize> out{};
    std::size_t largest = 0;
    for (std::size_t n = 0; n <= 80; ++n) {
        setText(request.at(4), std::string(n, 'b'));
        ::testing::internal::CaptureStdout();
        const int result = encodeResponse(request.record, out);
        (void)::testing::internal::GetCapturedStdout();
        if (result != 0) {
            // 512 bytes of content behind a three-byte length fill the buffer to the last byte.
            EXPECT_EQ(largest, kMaxResponseSize);
            return;
        }
        largest = encodedMessageLength(out);
        EXPECT_NE(largest, 0u);
    }
    FAIL() << "the content never passed the limit";
}

TEST(EncodedMessageLength, ReadsEveryLengthForm) {
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
