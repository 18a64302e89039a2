// SLIP byte coding (RFC 1055 values) and the port write.
#pragma once

#include "platform/serial.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace farlink::link {

inline constexpr std::uint8_t kSlipEnd = 0xC0;
inline constexpr std::uint8_t kSlipEsc = 0xDB;
inline constexpr std::uint8_t kSlipEscEnd = 0xDC;
inline constexpr std::uint8_t kSlipEscEsc = 0xDD;

// The most bytes slipEncode can write for n datagram bytes.
constexpr std::size_t slipEncodedMax(std::size_t n) {
    return 2 * n + 2;
}

// Writes the de-escaped datagram of a frame (which may start with END) into out and returns its
// length; 0 when no closing END follows data. Never writes past out.
std::size_t slipDecode(std::span<const std::uint8_t> frame, std::span<std::uint8_t> out);

// The length slipDecode would give with room enough: tells a datagram too long for its buffer
// from a frame that never closes.
std::size_t slipDecodedLength(std::span<const std::uint8_t> frame);

// Writes END, the escaped datagram, END; returns the bytes written, or 0 when out cannot hold
// the worst case of slipEncodedMax(datagram.size()).
std::size_t slipEncode(std::span<const std::uint8_t> datagram, std::span<std::uint8_t> out);

// Writes the bytes to the port and waits for completion; the bytes written (0 on failure).
std::size_t writePort(platform::PortHandle port, const std::uint8_t* bytes, std::size_t length);

} // namespace farlink::link
