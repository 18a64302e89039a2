// The management station's side of a serial line, for the tests, benchmarks and fuzzers: a line
// that swallows the agent's replies, and requests built byte by byte the way a station builds
// them. None of it uses the agent's own codec or checksum code, so what it builds checks the
// agent rather than agreeing with it.
#pragma once

#include "link/pipeline.h"
#include "platform/serial.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

namespace farlink::testing {

using Bytes = std::vector<std::uint8_t>;

// ---- The line. ----

// A line whose every write is taken whole and kept nowhere, and on which nothing ever arrives.
// Its settings calls all succeed; it has no modem lines. Tests derive from it to make a line
// fail in one particular way.
class DiscardingPort : public platform::SerialPort {
  public:
    bool getState(platform::CommState& state) override;
    bool setState(const platform::CommState& state) override;
    bool setupQueues(std::uint32_t inputSize, std::uint32_t outputSize) override;
    bool escape(platform::CommEscape function) override;
    bool setTimeouts(const platform::CommTimeouts& timeouts) override;
    bool modemStatus(std::uint32_t& status) override;
    bool setEventMask(std::uint32_t mask) override;
    platform::WaitOutcome waitEvent(std::uint32_t& events, int timeoutMs) override;
    bool read(std::uint8_t* buffer, std::size_t size, std::size_t& bytesRead) override;
    bool write(const std::uint8_t* bytes, std::size_t size, std::size_t& bytesWritten) override;
    std::string deviceName() const override;

    // Every byte ever written to the line.
    std::size_t bytesWritten() const { return written_; }

  private:
    std::size_t written_ = 0;
};

// ---- SNMPv1 requests in BER. ----

inline constexpr std::uint8_t kGetRequest = 0xA0;
inline constexpr std::uint8_t kGetNextRequest = 0xA1;
inline constexpr std::uint8_t kSetRequest = 0xA3;

// The tag, the definite length (short form, or 0x81/0x82 long form) and the content.
Bytes tlv(std::uint8_t tag, const Bytes& content);
Bytes cat(std::initializer_list<Bytes> parts);
// An INTEGER in its shortest two's-complement form; the value is taken as unsigned.
Bytes integer(std::uint32_t value);
Bytes octets(const std::string& text);
Bytes objectIdentifier(const std::vector<std::uint32_t>& subIdentifiers);

inline const Bytes kNull = {0x05, 0x00};

// A name under the agent's subtree 1.3.6.1.4.1.32473.25.
std::vector<std::uint32_t> mib(std::initializer_list<std::uint32_t> tail);

struct Binding {
    std::vector<std::uint32_t> oid;
    Bytes value = {0x05, 0x00}; // NULL, as a Get asks
};

// A version 1 message carrying one PDU with error status and index 0.
Bytes snmpMessage(std::uint8_t pduType, std::uint32_t requestId,
                  const std::vector<Binding>& bindings, const std::string& community = "kestrl");

// ---- IPv4 and UDP. ----

inline constexpr std::uint32_t kStationAddress = 0xC0000201; // 192.0.2.1
inline constexpr std::uint32_t kAgentAddress = 0xC0000202;   // 192.0.2.2
inline constexpr std::uint16_t kStationPort = 40001;
inline constexpr std::uint16_t kAgentPort = 161;

// The headers of a request datagram; addresses and ports in host order.
struct DatagramHeaders {
    std::uint32_t source = kStationAddress;
    std::uint32_t destination = kAgentAddress;
    std::uint16_t sourcePort = kStationPort;
    std::uint16_t destinationPort = kAgentPort;
    std::uint16_t identification = 0x1234;
    std::uint8_t typeOfService = 0;
    std::uint8_t timeToLive = 64;
    bool udpChecksum = false; // without it the checksum field is 0
};

// The message in a UDP datagram in an IPv4 datagram without options (28 header bytes), with a
// correct header checksum.
Bytes udpDatagram(const Bytes& message, const DatagramHeaders& headers = {});

// Big-endian 16-bit fields.
std::uint16_t be16(const Bytes& bytes, std::size_t at);
void putBe16(Bytes& bytes, std::size_t at, std::uint32_t value);

// The one's-complement sum over big-endian words, an odd last byte padded with zero.
std::uint16_t referenceSum(const Bytes& bytes, std::size_t from, std::size_t length);
// The sum of the pseudo-header and the UDP bytes of a datagram without IPv4 options, the length
// taken from the UDP header (which must lie within the bytes).
std::uint16_t udpReferenceSum(const Bytes& datagram);
// Write the checksum that makes the IPv4 header, or the pseudo-header and UDP bytes, sum to all
// ones (a UDP sum of 0 goes out as 0xFFFF, since 0 means none).
void sealIpHeader(Bytes& datagram);
void sealUdp(Bytes& datagram);

// ---- SLIP. ----

// END, the escaped datagram, END.
Bytes frame(const Bytes& datagram);

// A request as a port reader hands it to processFrame: the record and a frame block of
// link::kFrameBlockSize bytes (guarded blocks, which processFrame releases) holding the frame,
// cut to the block. nullptr when either block cannot be had.
link::FrameRequest* frameRequest(std::span<const std::uint8_t> frame, platform::PortHandle port);

} // namespace farlink::testing
