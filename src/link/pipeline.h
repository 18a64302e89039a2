// The request pipeline: one received SLIP frame in, at most one reply frame out on the same port.
#pragma once

#include "platform/serial.h"
#include "snmp/message.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace farlink::link {

inline constexpr std::size_t kHeadersSize = 28; // IPv4 (without options) and UDP headers
// The de-escaped request datagram: the headers and the longest message the decoder takes.
inline constexpr std::size_t kOutBufSize = kHeadersSize + snmp::kMaxMessageSize;
// A received frame, both END bytes included: room for that datagram with every byte escaped, so
// no request is refused for the escapes its addresses, checksums or values happen to need.
inline constexpr std::size_t kFrameBlockSize = 2 * kOutBufSize + 2;
// Reply blocks are sized for the worst case: a full response message in its headers, and that
// datagram with every byte escaped.
inline constexpr std::size_t kSnmpBufSize = snmp::kMaxResponseSize;
inline constexpr std::size_t kReplyDatagramSize = kHeadersSize + snmp::kMaxResponseSize;
inline constexpr std::size_t kSlipBufSize = 2 * kReplyDatagramSize + 2;

// A frame handed over in blocks of its own (a guarded block, as is its frame block);
// processFrame owns both.
struct FrameRequest {
    std::uint32_t mode = 0; // 0: a SLIP-coded IPv4/UDP datagram
    std::uint32_t frameLength = 0;
    platform::PortHandle port = nullptr;
    std::uint8_t* frame = nullptr;
};

struct UdpAddressing {
    std::uint32_t localAddress = 0; // host order
    std::uint32_t remoteAddress = 0;
    std::uint8_t protocol = 0;
    std::uint16_t identification = 0;
    std::uint8_t typeOfService = 0;
    std::uint16_t localPort = 0;
    std::uint16_t remotePort = 0;
    std::uint8_t checksumPresent = 0;
};

enum class DatagramCheck {
    Ok,
    TooShort,
    BadHeaderChecksum,
    BadUdpChecksum,
    NotIpv4,        // another IP version
    HeaderOptions,  // an IPv4 header longer than 20 bytes
    LengthMismatch, // the total length is not the length that arrived
    Fragment,       // a piece of a larger datagram
    NotUdp,         // another protocol inside
};

// Answers one received frame (END bytes included, at most kFrameBlockSize bytes are read) on
// `port`, in the calling thread's work area: a port reader answers each frame where it found it
// in its receive buffer. The area is made on the thread's first frame; when it cannot be, the
// frame is dropped with an event.
void answerFrame(std::span<const std::uint8_t> frame, platform::PortHandle port,
                 std::uint32_t mode = 0);

// Answers a frame handed over in its own blocks, and releases both on every path.
void processFrame(FrameRequest* request);

// Gives back the calling thread's work area (done by itself when the thread ends); the next
// frame makes a new one.
void releaseWorkArea();

// Reads the IPv4 and UDP headers of a received datagram (bounded by its bytes), verifies the
// header checksum and, when present, the UDP checksum, and fills the addressing. Only a whole
// IPv4 datagram with a 20-byte header carrying UDP is accepted, so the message always starts at
// byte 28. The destination address is not checked: the line is point to point.
DatagramCheck parseDatagram(std::span<const std::uint8_t> datagram, UdpAddressing& addressing);

// Writes the reply to `addressing` carrying the message into out; its length, or 0 when out cannot
// hold it.
std::size_t buildReplyDatagram(std::span<const std::uint8_t> message,
                               const UdpAddressing& addressing, std::span<std::uint8_t> out);

// The RFC 1071 one's-complement sum (not complemented), words in host byte order.
std::uint16_t internetChecksum(const std::uint8_t* bytes, std::size_t length);

// The sum (not complemented) over which a UDP checksum is verified and made: the pseudo-header
// of both addresses (4 bytes each, as they stand in the IPv4 header), a zero byte, the protocol
// (always UDP) and the UDP length field, then the udpLength bytes of UDP header and message.
std::uint16_t udpBlockSum(const std::uint8_t* source, const std::uint8_t* destination,
                          const std::uint8_t* udp, std::size_t udpLength);

} // namespace farlink::link
