// The small part of the Basic Encoding Rules that SNMPv1 messages need.
//
// Readers work on a bounded cursor: every length is compared with the bytes that remain, and a
// read that would pass the end marks the cursor as overrun and yields nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace farlink::snmp {

inline constexpr std::uint8_t kTagInteger = 0x02;
inline constexpr std::uint8_t kTagOctetString = 0x04;
inline constexpr std::uint8_t kTagNull = 0x05;
inline constexpr std::uint8_t kTagOid = 0x06;
inline constexpr std::uint8_t kTagSequence = 0x30;
inline constexpr std::uint8_t kTagIpAddress = 0x40;
inline constexpr std::uint8_t kTagCounter = 0x41;
inline constexpr std::uint8_t kTagGauge = 0x42;
inline constexpr std::uint8_t kTagUnsupported = 0xFF;

inline constexpr std::uint8_t kGetRequest = 0xA0;
inline constexpr std::uint8_t kGetNextRequest = 0xA1;
inline constexpr std::uint8_t kGetResponse = 0xA2;
inline constexpr std::uint8_t kSetRequest = 0xA3;

inline constexpr std::size_t kMaxSubIds = 15;
inline constexpr std::size_t kMaxOidContent = 15;

// An object identifier: up to 15 sub-identifiers, unused slots read 0.
struct Oid {
    std::array<std::uint32_t, kMaxSubIds> sub{};
    std::uint16_t count = 0;
};

struct Cursor {
    const std::uint8_t* pos = nullptr;
    const std::uint8_t* end = nullptr;
    bool overrun = false;

    std::size_t remaining() const { return static_cast<std::size_t>(end - pos); }
    // True when `length` more bytes lie within the end; never computes past it.
    bool fits(std::uint32_t length) const { return length <= remaining(); }
};

inline Cursor makeCursor(std::span<const std::uint8_t> bytes) {
    return Cursor{bytes.data(), bytes.data() + bytes.size(), false};
}

// Reading. A reader at the end of its bytes marks the cursor overrun and returns 0xFF / 0.
std::uint8_t readTag(Cursor& cur);
std::uint32_t readLength(Cursor& cur);
std::uint8_t readPduTag(Cursor& cur);
// The value of INTEGER content bytes as a 32-bit word, sign-extended; false when it does not fit
// one.
bool integerContent(const std::uint8_t* content, std::uint32_t length, std::uint32_t& value);
std::uint32_t readInteger(Cursor& cur, int& ok);
// Copies at most dest.size() bytes of the content (the rest is skipped); `length` receives the
// content length (low 16 bits of the length field). 0, or -1 when malformed.
int readOctetString(Cursor& cur, std::span<std::uint8_t> dest, std::uint16_t& length);
std::uint32_t readSequenceHeader(Cursor& cur);
// Decodes contentLength bytes; -1 when they run past the end or hold more than 15 sub-ids.
int readOid(Cursor& cur, std::uint32_t contentLength, Oid& oid);

// Sizing.
std::uint32_t lengthFieldSize(std::uint32_t n);
std::uint32_t integerContentSize(std::uint32_t v);
std::uint32_t integerFieldSize(std::uint32_t v);
std::uint32_t oidContentSize(const Oid& oid);
std::uint32_t oidFieldSize(const Oid& oid);

// Writing; the caller has sized the output.
void writeLength(std::uint8_t*& cur, std::uint32_t value, std::uint32_t fieldSize);
void writeInteger(std::uint8_t*& cur, std::uint32_t value);
void writeOctetString(std::uint8_t*& cur, const std::uint8_t* bytes, std::uint32_t length);
void writeNull(std::uint8_t*& cur);
void writeOid(std::uint8_t*& cur, const Oid& oid);
void writePduHeader(std::uint8_t*& cur, std::uint32_t contentLength);

} // namespace farlink::snmp
