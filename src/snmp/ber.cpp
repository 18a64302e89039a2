#include "snmp/ber.h"

#include <algorithm>
#include <cstring>

namespace farlink::snmp {

namespace {

// Takes the next byte, or marks the cursor overrun when there is none.
bool takeByte(Cursor& cur, std::uint8_t& byte) {
    if (cur.pos >= cur.end) {
        cur.overrun = true;
        return false;
    }
    byte = *cur.pos++;
    return true;
}

// Base-128 groups needed for one sub-identifier.
std::uint32_t subIdGroups(std::uint32_t v) {
    if (v < (1u << 7)) return 1;
    if (v < (1u << 14)) return 2;
    if (v < (1u << 21)) return 3;
    if (v < (1u << 28)) return 4;
    return 5;
}

} // namespace

std::uint8_t readTag(Cursor& cur) {
    std::uint8_t b = 0;
    if (!takeByte(cur, b)) return kTagUnsupported;
    switch (b) {
    case kTagInteger:
    case kTagOctetString:
    case kTagNull:
    case kTagOid:
    case kTagSequence:
        return b;
    default:
        return kTagUnsupported;
    }
}

std::uint32_t readLength(Cursor& cur) {
    std::uint8_t b = 0;
    if (!takeByte(cur, b)) return 0;
    if (b < 0x80) return b;
    const std::uint32_t n = b & 0x7Fu;
    if (!cur.fits(n)) {
        // A long form cut short: nothing sensible to return, and nothing after it can be read.
        cur.pos = cur.end;
        cur.overrun = true;
        return 0;
    }
    std::uint32_t value = 0;
    for (std::uint32_t i = 0; i < n; ++i)
        value = (value << 8) | *cur.pos++;
    return value;
}

std::uint8_t readPduTag(Cursor& cur) {
    std::uint8_t b = 0;
    if (!takeByte(cur, b)) return kTagUnsupported;
    if (b == kGetRequest || b == kGetNextRequest || b == kSetRequest) {
        // The PDU length adds nothing: the fields inside carry their own lengths.
        (void)readLength(cur);
    }
    return b;
}

bool integerContent(const std::uint8_t* content, std::uint32_t length, std::uint32_t& value) {
    value = 0;
    // A value the agent keeps must fit a 32-bit word: up to four content bytes, or five whose
    // first only makes room for the sign of an unsigned word. Anything longer would be cut.
    if (length == 0 || length > 5 || (length == 5 && content[0] != 0)) return false;
    // Fewer bytes than a word carry their sign into the bytes left out: -1 is 02 01 FF.
    if ((content[0] & 0x80u) != 0) value = 0xFFFFFFFFu;
    for (std::uint32_t i = 0; i < length; ++i)
        value = (value << 8) | content[i];
    return true;
}

std::uint32_t readInteger(Cursor& cur, int& ok) {
    ok = 1;
    if (readTag(cur) != kTagInteger) {
        ok = 0;
        return 0;
    }
    const std::uint32_t length = readLength(cur);
    if (cur.overrun || !cur.fits(length)) {
        ok = 0;
        return 0;
    }
    std::uint32_t value = 0;
    if (!integerContent(cur.pos, length, value)) ok = 0;
    cur.pos += length;
    return value;
}

int readOctetString(Cursor& cur, std::span<std::uint8_t> dest, std::uint16_t& length) {
    length = 0;
    if (readTag(cur) != kTagOctetString) return -1;
    const std::uint32_t l = readLength(cur);
    if (cur.overrun || !cur.fits(l)) return -1;
    // The destination takes what it holds; the rest of the content is passed over, not lost
    // into whatever lies after the destination.
    const std::size_t copied = std::min<std::size_t>(l, dest.size());
    if (copied != 0) std::memcpy(dest.data(), cur.pos, copied);
    cur.pos += l;
    length = static_cast<std::uint16_t>(l);
    return 0;
}

std::uint32_t readSequenceHeader(Cursor& cur) {
    if (readTag(cur) != kTagSequence) return 0;
    const std::uint32_t length = readLength(cur);
    if (cur.overrun || !cur.fits(length)) return 0;
    return length;
}

int readOid(Cursor& cur, std::uint32_t contentLength, Oid& oid) {
    oid = Oid{};
    if (contentLength == 0) return 0;
    if (!cur.fits(contentLength)) {
        cur.overrun = true;
        return -1;
    }
    const std::uint8_t* p = cur.pos;
    const std::uint8_t* const end = cur.pos + contentLength;
    oid.sub[0] = *p / 40u;
    oid.sub[1] = *p % 40u;
    ++p;
    std::size_t slot = 2;
    std::uint64_t value = 0; // the sub-identifier being gathered
    for (; p < end; ++p) {
        value = value * 128u + (*p & 0x7Fu);
        // A sub-identifier above 32 bits would wrap onto another object's name.
        if (value > 0xFFFFFFFFull) return -1;
        if ((*p & 0x80u) == 0) {
            if (slot >= kMaxSubIds) return -1;
            oid.sub[slot++] = static_cast<std::uint32_t>(value);
            value = 0;
        }
    }
    // A last byte with its high bit still set begins a sub-identifier that never ends; it is not
    // counted and leaves the slots after the count at 0.
    oid.count = static_cast<std::uint16_t>(slot);
    cur.pos = end;
    return 0;
}

std::uint32_t lengthFieldSize(std::uint32_t n) {
    if (n < 0x80u) return 1;
    if (n < 0x100u) return 2;
    if (n < 0x10000u) return 3;
    if (n < 0x1000000u) return 4;
    return 5;
}

std::uint32_t integerContentSize(std::uint32_t v) {
    std::uint32_t n = 1;
    if (v >= (1u << 24))
        n = 4;
    else if (v >= (1u << 16))
        n = 3;
    else if (v >= (1u << 8))
        n = 2;
    // A set top bit would read back as negative; a leading zero keeps it positive, but a value
    // with bit 31 set stays in four bytes and is sent as the negative number it is on the wire.
    if (n < 4 && ((v >> (8 * n - 1)) & 1u) != 0) ++n;
    return n;
}

std::uint32_t integerFieldSize(std::uint32_t v) {
    return 2 + integerContentSize(v);
}

std::uint32_t oidContentSize(const Oid& oid) {
    std::uint32_t size = 1;
    const std::size_t count = std::min<std::size_t>(oid.count, kMaxSubIds);
    for (std::size_t i = 2; i < count; ++i)
        size += subIdGroups(oid.sub[i]);
    return size;
}

std::uint32_t oidFieldSize(const Oid& oid) {
    return 2 + oidContentSize(oid);
}

void writeLength(std::uint8_t*& cur, std::uint32_t value, std::uint32_t fieldSize) {
    if (value < 0x80u) {
        *cur++ = static_cast<std::uint8_t>(value);
        return;
    }
    const std::uint32_t n = fieldSize - 1;
    *cur++ = static_cast<std::uint8_t>(0x80u | n);
    for (std::uint32_t i = n; i > 0; --i)
        *cur++ = static_cast<std::uint8_t>(value >> (8 * (i - 1)));
}

void writeInteger(std::uint8_t*& cur, std::uint32_t value) {
    const std::uint32_t n = integerContentSize(value);
    *cur++ = kTagInteger;
    *cur++ = static_cast<std::uint8_t>(n);
    for (std::uint32_t i = n; i > 0; --i)
        *cur++ = static_cast<std::uint8_t>(value >> (8 * (i - 1)));
}

void writeOctetString(std::uint8_t*& cur, const std::uint8_t* bytes, std::uint32_t length) {
    *cur++ = kTagOctetString;
    writeLength(cur, length, lengthFieldSize(length));
    if (length != 0) std::memcpy(cur, bytes, length);
    cur += length;
}

void writeNull(std::uint8_t*& cur) {
    *cur++ = kTagNull;
    *cur++ = 0;
}

void writeOid(std::uint8_t*& cur, const Oid& oid) {
    *cur++ = kTagOid;
    *cur++ = static_cast<std::uint8_t>(oidContentSize(oid));
    *cur++ = static_cast<std::uint8_t>(40u * oid.sub[0] + oid.sub[1]);
    const std::size_t count = std::min<std::size_t>(oid.count, kMaxSubIds);
    for (std::size_t i = 2; i < count; ++i) {
        const std::uint32_t v = oid.sub[i];
        for (std::uint32_t g = subIdGroups(v); g > 0; --g) {
            const auto bits = static_cast<std::uint8_t>((v >> (7 * (g - 1))) & 0x7Fu);
            *cur++ = g > 1 ? static_cast<std::uint8_t>(bits | 0x80u) : bits;
        }
    }
}

void writePduHeader(std::uint8_t*& cur, std::uint32_t contentLength) {
    *cur++ = kGetResponse;
    writeLength(cur, contentLength, lengthFieldSize(contentLength));
}

} // namespace farlink::snmp
