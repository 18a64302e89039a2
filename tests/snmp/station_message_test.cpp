#include "snmp/station_message.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace farlink::snmp {
namespace {

Oid name(std::uint32_t column, std::uint32_t instance) {
    Oid oid;
    const std::array<std::uint32_t, 12> subs = {1,     3,  6, 1,  4,      1,
                                                32473, 25, 4, 21, column, instance};
    std::copy(subs.begin(), subs.end(), oid.sub.begin());
    oid.count = subs.size();
    return oid;
}

// The station's request is one the agent reads, and the agent's answer to it is exactly as long
// as the station reckoned its longest answer to be, and reads back binding for binding.
TEST(StationMessage, RequestAndAnswerMeetTheAgentsCodec) {
    const std::string_view community = "kestrl";
    const std::vector<Oid> names = {name(2, 0), name(3, 70000), name(7, 1)};
    std::array<std::uint8_t, kMaxMessageSize> request{};
    const std::size_t length =
        encodeRequest(kGetNextRequest, kLargestRequestId,
                      {reinterpret_cast<const std::uint8_t*>(community.data()), community.size()},
                      names, request);
    ASSERT_NE(length, 0u);

    std::array<VarBind, kMaxBindings> varbinds{};
    RequestRecord record;
    for (std::size_t i = 0; i < kMaxBindings; ++i)
        record.bindings[i] = &varbinds[i];
    ASSERT_EQ(decodeMessage({request.data(), length}, record), 0);
    EXPECT_EQ(record.pduType, kGetNextRequest);
    EXPECT_EQ(record.requestId, kLargestRequestId);
    ASSERT_EQ(record.bindingCount, 3);
    std::uint32_t bindingBytes = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(varbinds[i].name.sub, names[i].sub);
        setText(varbinds[i], std::string(kValueBytes, 'x'));
        bindingBytes += elementSize(oidFieldSize(names[i]) + elementSize(kValueBytes));
    }
    setInteger(varbinds[2], 0x80000000u);
    bindingBytes -= elementSize(kValueBytes) - elementSize(4);

    std::array<std::uint8_t, kMaxResponseSize> answer{};
    record.pduType = kGetResponse;
    ASSERT_EQ(encodeResponse(record, answer), 0);
    const std::size_t answerLength = encodedMessageLength(answer);
    EXPECT_EQ(answerLength, messageSize(6, kLargestRequestId, bindingBytes));

    Response response;
    ASSERT_EQ(decodeResponse({answer.data(), answerLength}, response), 0);
    EXPECT_EQ(response.requestId, kLargestRequestId);
    ASSERT_EQ(response.bindingCount, 3);
    EXPECT_EQ(response.bindings[1].content.size(), kValueBytes);
    EXPECT_EQ(response.bindings[2].content.size(), 4u);

    // A message cut anywhere is refused, never read past its end.
    for (std::size_t cut = 0; cut < answerLength; ++cut)
        EXPECT_EQ(decodeResponse({answer.data(), cut}, response), -1) << cut;
    // A request the agent never answers with is no answer.
    EXPECT_EQ(decodeResponse({request.data(), length}, response), -1);
}

} // namespace
} // namespace farlink::snmp
