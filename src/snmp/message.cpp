#include "snmp/message.h"

#include "platform/console.h"

#include <algorithm>
#include <cstring>

namespace farlink::snmp {

namespace {

// Bytes an OCTET STRING value may carry: the value word never reaches past the value bytes.
std::uint32_t textLength(const VarBind& binding) {
    return std::min<std::uint32_t>(binding.valueWord, kLongValueBytes);
}

std::uint32_t valueFieldSize(const VarBind& binding) {
    switch (binding.valueTag) {
    case kTagInteger:
        return integerFieldSize(binding.valueWord);
    case kTagOctetString: {
        const std::uint32_t length = textLength(binding);
        return 1 + lengthFieldSize(length) + length;
    }
    default:
        // NULL, and every value the encoder cannot write, which goes back as NULL.
        return 2;
    }
}

// Tag and length octets plus content.
std::uint32_t fieldSize(std::uint32_t contentLength) {
    return 1 + lengthFieldSize(contentLength) + contentLength;
}

// The three integers between the PDU tag and the binding list.
bool readPduFields(Cursor& cur, RequestRecord& request) {
    int ok = 0;
    request.requestId = readInteger(cur, ok);
    if (ok != 1) return false;
    request.errorStatus = readInteger(cur, ok);
    if (ok != 1) return false;
    request.errorIndex = readInteger(cur, ok);
    return ok == 1;
}

} // namespace

int readVarBind(Cursor& cur, std::uint32_t& remaining, VarBind& binding, std::uint8_t pduType) {
    binding = VarBind{};
    const std::uint8_t* const start = cur.pos;
    if (readTag(cur) != kTagSequence) return -1;
    const std::uint32_t bindingLength = readLength(cur);
    if (cur.overrun || !cur.fits(bindingLength)) return -1;
    const auto headerSize = static_cast<std::uint32_t>(cur.pos - start);
    if (bindingLength > remaining || headerSize > remaining - bindingLength) return -1;

    // The name and the value must lie within the binding; whatever of it is not read (string
    // content past the value bytes, values of other types) is passed over with the binding.
    Cursor inner{cur.pos, cur.pos + bindingLength, false};
    cur.pos = inner.end;

    if (readTag(inner) != kTagOid) return -1;
    const std::uint32_t nameLength = readLength(inner);
    if (inner.overrun || nameLength > kMaxOidContent || !inner.fits(nameLength)) return -1;
    if (readOid(inner, nameLength, binding.name) != 0) return -1;

    binding.valueTag = readTag(inner);
    const std::uint32_t valueLength = readLength(inner);
    if (inner.overrun || !inner.fits(valueLength)) return -1;
    binding.valueWord = valueLength;

    if (pduType == kSetRequest) {
        if (binding.valueTag == kTagInteger) {
            if (!integerContent(inner.pos, valueLength, binding.valueWord)) return -1;
        } else if (binding.valueTag == kTagOctetString) {
            const std::uint32_t kept = std::min<std::uint32_t>(valueLength, kValueBytes);
            if (kept != 0) std::memcpy(binding.valueBytes.data(), inner.pos, kept);
            binding.valueWord = kept;
        }
    } else if (binding.valueTag != kTagNull && valueLength != 0) {
        // A get carries no values.
        return -1;
    }

    remaining -= headerSize + bindingLength;
    return 0;
}

int decodeMessage(std::span<const std::uint8_t> message, RequestRecord& request) {
    request.bindingCount = 0;
    Cursor cur = makeCursor(message);

    if (readTag(cur) != kTagSequence) return -1;
    const std::uint32_t length = readLength(cur);
    if (cur.overrun || length == 0) return -1;
    const auto headerSize = static_cast<std::size_t>(cur.pos - message.data());
    if (length > kMaxMessageSize - headerSize || !cur.fits(length)) return -1;
    // Bytes after the message (padding of the datagram) are none of its business.
    cur.end = cur.pos + length;

    int ok = 0;
    request.version = readInteger(cur, ok);
    if (ok != 1 || request.version != 0) return -1;

    // A community is copied no further than the work area, however long it claims to be.
    std::array<std::uint8_t, kCommunityArea> community{};
    std::uint16_t communityLength = 0;
    if (readOctetString(cur, community, communityLength) != 0) return -1;
    request.community = {};
    std::copy_n(community.begin(), kCommunity.size(), request.community.begin());
    // The work area is zero past the received bytes, so a shorter community differs here too.
    if (!std::equal(kCommunity.begin(), kCommunity.end(), community.begin()))
        return kDecodeWrongCommunity;

    const std::uint8_t pduType = readPduTag(cur);
    if (pduType != kGetRequest && pduType != kGetNextRequest && pduType != kSetRequest) return -1;
    request.pduType = pduType;

    if (!readPduFields(cur, request)) return -1;

    std::uint32_t remaining = readSequenceHeader(cur);
    if (remaining == 0) return -1;
    while (remaining != 0) {
        if (request.bindingCount >= kMaxBindings) return -1;
        VarBind* binding = request.bindings[request.bindingCount];
        if (binding == nullptr) return -1;
        if (readVarBind(cur, remaining, *binding, pduType) != 0) return -1;
        ++request.bindingCount;
    }
    return cur.overrun ? -1 : 0;
}

std::uint32_t varBindContentSize(const VarBind& binding) {
    return oidFieldSize(binding.name) + valueFieldSize(binding);
}

int encodeResponse(const RequestRecord& request, std::span<std::uint8_t> out) {
    if (request.bindingCount > kMaxBindings) return -1;
    std::uint32_t listLength = 0;
    for (std::size_t i = 0; i < request.bindingCount; ++i) {
        if (request.bindings[i] == nullptr) return -1;
        listLength += fieldSize(varBindContentSize(*request.bindings[i]));
    }
    const std::uint32_t pduLength = integerFieldSize(request.requestId) +
                                    integerFieldSize(request.errorStatus) +
                                    integerFieldSize(request.errorIndex) + fieldSize(listLength);
    const std::uint32_t messageLength =
        integerFieldSize(request.version) + fieldSize(kCommunity.size()) + fieldSize(pduLength);
    if (messageLength > MAXBUILDSIZE) {
        // Debug output only: a manager that keeps asking for too much would flood the console.
        platform::diagnostic("Length of Pdu greater than MAXBUILDSIZE");
        return -1;
    }
    if (fieldSize(messageLength) > out.size()) return -1;

    std::uint8_t* cur = out.data();
    *cur++ = kTagSequence;
    writeLength(cur, messageLength, lengthFieldSize(messageLength));
    writeInteger(cur, request.version);
    writeOctetString(cur, request.community.data(), kCommunity.size());
    writePduHeader(cur, pduLength);
    writeInteger(cur, request.requestId);
    writeInteger(cur, request.errorStatus);
    writeInteger(cur, request.errorIndex);
    *cur++ = kTagSequence;
    writeLength(cur, listLength, lengthFieldSize(listLength));
    for (std::size_t i = 0; i < request.bindingCount; ++i) {
        const VarBind& binding = *request.bindings[i];
        const std::uint32_t content = varBindContentSize(binding);
        *cur++ = kTagSequence;
        writeLength(cur, content, lengthFieldSize(content));
        writeOid(cur, binding.name);
        switch (binding.valueTag) {
        case kTagInteger:
            writeInteger(cur, binding.valueWord);
            break;
        case kTagOctetString:
            writeOctetString(cur, binding.valueBytes.data(), textLength(binding));
            break;
        default:
            // Only NULL is left that a manager can read back; any other tag would leave the
            // binding without a value and the whole response malformed.
            writeNull(cur);
            break;
        }
    }
    return 0;
}

std::size_t encodedMessageLength(std::span<const std::uint8_t> out) {
    if (out.size() < 2) return 0;
    std::size_t total = 0;
    const std::uint8_t first = out[1];
    if (first < 0x80) {
        total = 2 + std::size_t{first};
    } else if (first == 0x81 && out.size() >= 3) {
        total = 3 + std::size_t{out[2]};
    } else if (first == 0x82 && out.size() >= 4) {
        total = 4 + ((std::size_t{out[2]} << 8) | out[3]);
    } else {
        return 0;
    }
    // A length that claims more than the buffer holds cannot be the message that was written.
    return total <= out.size() ? total : 0;
}

void setInteger(VarBind& binding, std::uint32_t value) {
    binding.valueTag = kTagInteger;
    binding.valueWord = value;
}

namespace {

void storeText(VarBind& binding, std::string_view text, std::size_t limit) {
    const std::size_t length = std::min(text.size(), limit);
    if (length != 0) std::memcpy(binding.valueBytes.data(), text.data(), length);
    binding.valueTag = kTagOctetString;
    binding.valueWord = static_cast<std::uint32_t>(length);
}

} // namespace

void setText(VarBind& binding, std::string_view text) {
    storeText(binding, text, kValueBytes);
}

void setLongText(VarBind& binding, std::string_view text) {
    storeText(binding, text, kLongValueBytes);
}

} // namespace farlink::snmp
