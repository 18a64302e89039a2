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

// A line whose every write is taken whole and kept nowhere, and on which nothing ever arrives.
// Its settings calls all succeed; it has no modem lines. Tests derive from it to make a line
// behave in one particular way.
class DiscardingPort : public platform::SerialPort {
  public:
    bool getState(platform::CommState&) override { return true; }
    bool setState(const platform::CommState&) override { return true; }
    bool setupQueues(std::uint32_t, std::uint32_t) override { return true; }
    bool escape(platform::CommEscape) override { return true; }
    bool setTimeouts(const platform::CommTimeouts&) override { return true; }
    bool modemStatus(std::uint32_t&) override { return false; }
    bool setEventMask(std::uint32_t) override { return false; }
    platform::WaitOutcome waitEvent(std::uint32_t&, int) override {
        return platform::WaitOutcome::Failed;
    }
    bool read(std::uint8_t*, std::size_t, std::size_t& bytesRead) override {
        bytesRead = 0;
        return true;
    }
    bool write(const std::uint8_t*, std::size_t size, std::size_t& bytesWritten) override {
        bytesWritten = size;
        written_ += size;
        return true;
    }
    std::string deviceName() const override { return "discarding"; }

    // Every byte ever written to the line.
    std::size_t bytesWritten() const { return written_; }

  private:
    std::size_t written_ = 0;
};

// ---- SNMPv1 requests in BER. ----

inline constexpr std::uint8_t kGetRequest = 0xA0;
inline constexpr std::uint8_t kGetNextRequest = 0xA1;
inline constexpr std::uint8_t kGetResponse = 0xA2;
inline constexpr std::uint8_t kSetRequest = 0xA3;

// The tag, the definite length (short form, or 0x81/0x82 long form) and the content.
Bytes tlv(std::uint8_t tag, const Bytes& content);
Bytes cat(std::initializer_list<Bytes> parts);
// An INTEGER in its shortest two's-complement form; the value is taken as unsigned.
Bytes integer(std::uint32_t value);
Bytes octets(const std::string& text);

// A name under the agent's subtree 1.3.6.1.4.1.32473.25.
std::vector<std::uint32_t> mib(std::initializer_list<std::uint32_t> tail);

struct Binding {
    std::vector<std::uint32_t> oid;
    Bytes value = {0x05, 0x00}; // NULL, as a Get asks
};

// A version 1 message carrying one PDU (a request, or the response a station expects).
Bytes snmpMessage(std::uint8_t pduType, std::uint32_t requestId,
                  const std::vector<Binding>& bindings, const std::string& community = "kestrl",
                  std::uint32_t errorStatus = 0, std::uint32_t errorIndex = 0);

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

// A big-endian 16-bit field.
void putBe16(Bytes& bytes, std::size_t at, std::uint32_t value);
// Write the checksum that makes the IPv4 header, or the pseudo-header and UDP bytes (as long as
// the UDP length field says, which must lie within the bytes), sum to all ones. A UDP sum of 0
// goes out as 0xFFFF, since 0 means none.
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
