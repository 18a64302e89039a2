#include "snmp/station_message.h"

namespace farlink::snmp {

namespace {

std::uint32_t nullBindingContent(const Oid& name) {
    return oidFieldSize(name) + 2;
}

// Takes a tag byte of any class, which readTag would refuse for the application types.
bool takeAnyTag(Cursor& cur, std::uint8_t& tag) {
    if (!cur.fits(1)) {
        cur.overrun = true;
        return false;
    }
    tag = *cur.pos++;
    return true;
}

// One binding, bounded by the binding list that holds it.
bool readResponseBinding(Cursor& list, ResponseBinding& binding) {
    if (readTag(list) != kTagSequence) return false;
    const std::uint32_t length = readLength(list);
    if (list.overrun || !list.fits(length)) return false;
    Cursor inner{list.pos, list.pos + length, false};
    list.pos = inner.end;

    // Names are bounded by their sub-identifiers alone: an answer may name an instance longer
    // than any name the agent takes in a request.
    if (readTag(inner) != kTagOid) return false;
    const std::uint32_t nameLength = readLength(inner);
    if (inner.overrun || !inner.fits(nameLength)) return false;
    if (readOid(inner, nameLength, binding.name) != 0) return false;

    if (!takeAnyTag(inner, binding.tag)) return false;
    const std::uint32_t valueLength = readLength(inner);
    if (inner.overrun || !inner.fits(valueLength)) return false;
    binding.content = std::span<const std::uint8_t>(inner.pos, valueLength);
    return true;
}

} // namespace

std::uint32_t elementSize(std::uint32_t contentLength) {
    return 1 + lengthFieldSize(contentLength) + contentLength;
}

std::uint32_t messageSize(std::uint32_t communityLength, std::uint32_t requestId,
                          std::uint32_t bindingBytes) {
    const std::uint32_t pdu =
        integerFieldSize(requestId) + 2 * integerFieldSize(0) + elementSize(bindingBytes);
    return elementSize(integerFieldSize(0) + elementSize(communityLength) + elementSize(pdu));
}

std::size_t bindingsThatFit(std::span<const std::uint32_t> bindingSizes,
                            std::uint32_t communityLength) {
    std::uint32_t total = 0;
    std::size_t n = 0;
    for (const std::uint32_t size : bindingSizes) {
        if (n == kMaxBindings) break;
        if (n > 0 &&
            messageSize(communityLength, kLargestRequestId, total + size) > kStationMessageSize)
            break;
        total += size;
        ++n;
    }
    return n;
}

std::size_t encodeRequest(std::uint8_t pduType, std::uint32_t requestId,
                          std::span<const std::uint8_t> community, std::span<const Oid> names,
                          std::span<std::uint8_t> out) {
    if (names.empty() || names.size() > kMaxBindings) return 0;
    std::uint32_t bindingBytes = 0;
    for (const Oid& name : names)
        bindingBytes += elementSize(nullBindingContent(name));
    const auto communityLength = static_cast<std::uint32_t>(community.size());
    const std::uint32_t total = messageSize(communityLength, requestId, bindingBytes);
    if (total > out.size()) return 0;

    const std::uint32_t pdu =
        integerFieldSize(requestId) + 2 * integerFieldSize(0) + elementSize(bindingBytes);
    const std::uint32_t body =
        integerFieldSize(0) + elementSize(communityLength) + elementSize(pdu);
    std::uint8_t* cur = out.data();
    *cur++ = kTagSequence;
    writeLength(cur, body, lengthFieldSize(body));
    writeInteger(cur, 0);
    writeOctetString(cur, community.data(), communityLength);
    *cur++ = pduType;
    writeLength(cur, pdu, lengthFieldSize(pdu));
    writeInteger(cur, requestId);
    writeInteger(cur, 0);
    writeInteger(cur, 0);
    *cur++ = kTagSequence;
    writeLength(cur, bindingBytes, lengthFieldSize(bindingBytes));
    for (const Oid& name : names) {
        const std::uint32_t content = nullBindingContent(name);
        *cur++ = kTagSequence;
        writeLength(cur, content, lengthFieldSize(content));
        writeOid(cur, name);
        writeNull(cur);
    }
    return total;
}

int decodeResponse(std::span<const std::uint8_t> message, Response& response) {
    response.bindingCount = 0;
    Cursor cur = makeCursor(message);
    if (readTag(cur) != kTagSequence) return -1;
    const std::uint32_t length = readLength(cur);
    if (cur.overrun || !cur.fits(length)) return -1;
    cur.end = cur.pos + length;

    int ok = 0;
    if (readInteger(cur, ok) != 0 || ok != 1) return -1;
    std::uint16_t communityLength = 0;
    if (readOctetString(cur, {}, communityLength) != 0) return -1;

    std::uint8_t pduType = 0;
    if (!takeAnyTag(cur, pduType) || pduType != kGetResponse) return -1;
    const std::uint32_t pduLength = readLength(cur);
    if (cur.overrun || !cur.fits(pduLength)) return -1;
    cur.end = cur.pos + pduLength;

    response.requestId = readInteger(cur, ok);
    if (ok != 1) return -1;
    response.errorStatus = readInteger(cur, ok);
    if (ok != 1) return -1;
    response.errorIndex = readInteger(cur, ok);
    if (ok != 1) return -1;

    if (readTag(cur) != kTagSequence) return -1;
    const std::uint32_t listLength = readLength(cur);
    if (cur.overrun || !cur.fits(listLength)) return -1;
    Cursor list{cur.pos, cur.pos + listLength, false};
    while (list.remaining() != 0) {
        if (response.bindingCount >= kMaxBindings) return -1;
        if (!readResponseBinding(list, response.bindings[response.bindingCount])) return -1;
        ++response.bindingCount;
    }
    return 0;
}

} // namespace farlink::snmp
