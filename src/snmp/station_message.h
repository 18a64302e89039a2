// The station's side of an SNMPv1 exchange: the GetRequest or GetNextRequest a manager sends and
// the GetResponse it reads back, written and read with the same BER primitives as the agent's
// own messages.
#pragma once

#include "snmp/ber.h"
#include "snmp/message.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace farlink::snmp {

// The message size every SNMPv1 agent must take and answer: requests are cut so that even their
// longest possible answers stay within it.
inline constexpr std::size_t kStationMessageSize = 484;
// Request identifiers stay positive, at most this; message sizes are reckoned for it.
inline constexpr std::uint32_t kLargestRequestId = 0x7FFFFFFF;

// Tag, length octets and content of an element with `contentLength` content bytes.
std::uint32_t elementSize(std::uint32_t contentLength);

// The size of a message with these header fields around bindings whose elements (sequence
// headers included) total `bindingBytes`.
std::uint32_t messageSize(std::uint32_t communityLength, std::uint32_t requestId,
                          std::uint32_t bindingBytes);

// How many of `bindingSizes` (each binding's element at its longest, in order) fit one message
// of at most kStationMessageSize bytes, and at most kMaxBindings; at least 1 when there is any,
// which then has to be tried on its own.
std::size_t bindingsThatFit(std::span<const std::uint32_t> bindingSizes,
                            std::uint32_t communityLength);

// Writes a GetRequest or GetNextRequest whose bindings carry NULL; its length, or 0 when there
// are no names or more than kMaxBindings, or when `out` cannot hold it.
std::size_t encodeRequest(std::uint8_t pduType, std::uint32_t requestId,
                          std::span<const std::uint8_t> community, std::span<const Oid> names,
                          std::span<std::uint8_t> out);

struct ResponseBinding {
    Oid name;
    std::uint8_t tag = kTagNull;           // as received: universal or application tag
    std::span<const std::uint8_t> content; // the value's content, within the decoded message
};

struct Response {
    std::uint32_t requestId = 0;
    std::uint32_t errorStatus = 0;
    std::uint32_t errorIndex = 0;
    std::uint16_t bindingCount = 0;
    std::array<ResponseBinding, kMaxBindings> bindings{};
};

// 0 when `message` begins with one version 1 GetResponse of at most kMaxBindings bindings, read
// within its bytes; -1 otherwise. The bindings' contents point into `message`.
int decodeResponse(std::span<const std::uint8_t> message, Response& response);

} // namespace farlink::snmp
