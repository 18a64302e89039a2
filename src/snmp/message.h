// One SNMPv1 message: decoded into a request record, and the same record, edited in place by the
// groups, encoded as the GetResponse.
#pragma once

#include "snmp/ber.h"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace farlink::snmp {

inline constexpr std::size_t kMaxBindings = 25;
inline constexpr std::size_t kMaxMessageSize = 512; // received message, tag and length included
inline constexpr std::size_t MAXBUILDSIZE = 512;    // response message content
inline constexpr std::size_t kMaxResponseSize = MAXBUILDSIZE + 4; // with tag and length octets
inline constexpr std::size_t kValueBytes = 80;
// Room for the one answer that must go out longer than a value (the threshold message).
inline constexpr std::size_t kLongValueBytes = 128;
inline constexpr std::size_t kCommunityArea = 80;

// The agent's fixed community.
inline constexpr std::array<std::uint8_t, 6> kCommunity = {'k', 'e', 's', 't', 'r', 'l'};

inline constexpr std::uint32_t kNoError = 0;
inline constexpr std::uint32_t kTooBig = 1;
inline constexpr std::uint32_t kNoSuchName = 2;
inline constexpr std::uint32_t kBadValue = 3;
inline constexpr std::uint32_t kGenErr = 5;

struct VarBind {
    Oid name;
    std::uint8_t valueTag = kTagNull;
    // INTEGER value, OCTET STRING length (at most 80, or 128 for a long answer), else the
    // received length.
    std::uint32_t valueWord = 0;
    // Received values keep their first 80 bytes; only setLongText fills the rest.
    std::array<std::uint8_t, kLongValueBytes> valueBytes{};
};

struct RequestRecord {
    std::uint8_t pduType = 0;
    std::uint32_t version = 0;
    std::array<std::uint8_t, kCommunityArea> community{};
    std::uint32_t requestId = 0;
    std::uint32_t errorStatus = 0;
    std::uint32_t errorIndex = 0;
    std::uint16_t bindingCount = 0;
    std::array<VarBind*, kMaxBindings> bindings{};
    std::uint32_t linkMode = 0;
};

// What decodeMessage returns when it refuses a message: a wrong community apart from every
// other fault, since it is a manager's setting to correct rather than a damaged message.
inline constexpr int kDecodeMalformed = -1;
inline constexpr int kDecodeWrongCommunity = -2;

// 0 when the record is filled, else kDecodeWrongCommunity or kDecodeMalformed. The bindings
// must point at 25 varbind records.
int decodeMessage(std::span<const std::uint8_t> message, RequestRecord& request);
int readVarBind(Cursor& cur, std::uint32_t& remaining, VarBind& binding, std::uint8_t pduType);

// Writes the GetResponse from out[0]; 0, or -1 when the content would exceed MAXBUILDSIZE or
// out is smaller than the message. out should hold kMaxResponseSize bytes.
int encodeResponse(const RequestRecord& request, std::span<std::uint8_t> out);
std::uint32_t varBindContentSize(const VarBind& binding);
// The length of the message that encodeResponse wrote, read back from its header.
std::size_t encodedMessageLength(std::span<const std::uint8_t> out);

// Answers a binding: an INTEGER, or an OCTET STRING cut to the 80 value bytes.
void setInteger(VarBind& binding, std::uint32_t value);
void setText(VarBind& binding, std::string_view text);
// An OCTET STRING cut to 128 bytes, for an answer that would lose its point at 80.
void setLongText(VarBind& binding, std::string_view text);

} // namespace farlink::snmp
