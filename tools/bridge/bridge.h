// farlink-bridge: the station side of the serial link. Managers speak plain SNMP over UDP to the
// bridge; the bridge carries each datagram to the agent in IPv4/UDP in a SLIP frame and hands the
// agent's reply back to the manager that asked.
#pragma once

#include "link/slip.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace farlink::bridge {

inline constexpr std::uint16_t kAgentPort = 161;
inline constexpr std::uint16_t kFirstLinePort = 40000; // line-side source port of slot 0
inline constexpr std::size_t kSlotCount = 32;
inline constexpr std::size_t kPendingCount = 256;
inline constexpr std::uint8_t kRequestTtl = 64;
inline constexpr std::uint8_t kProtocolUdp = 17;
inline constexpr std::size_t kIpv4HeaderSize = 20;
inline constexpr std::size_t kUdpHeaderSize = 8;
inline constexpr std::size_t kMaxPayload = 65535 - kIpv4HeaderSize - kUdpHeaderSize;
// Documentation addresses (TEST-NET-2) none of whose bytes needs a SLIP escape.
inline constexpr std::uint32_t kDefaultStationAddress = 0xC6336401; // 198.51.100.1
inline constexpr std::uint32_t kDefaultAgentAddress = 0xC6336402;   // 198.51.100.2

struct Options {
    std::string device; // a serial device, or empty with usePty
    bool usePty = false;
    std::string ptyLink; // a symbolic link to the agent side, or empty
    unsigned baud = 9600;
    std::uint32_t listenAddress = 0x7F000001; // host order
    std::uint16_t listenPort = 1161;
    std::uint32_t stationAddress = kDefaultStationAddress;
    std::uint32_t agentAddress = kDefaultAgentAddress;
    bool udpChecksum = true;
    bool verbose = false;
    bool help = false;
};

// Fills `options` from the command line; on a bad command line returns false with the reason in
// `error`.
bool parseOptions(int argc, const char* const* argv, Options& options, std::string& error);
std::string usageText();
// Seconds on the monotonic clock, for timeouts and quiet periods.
double monotonicSeconds();
// A decimal number of the whole text, at most `max`.
bool parseNumber(std::string_view text, unsigned long max, unsigned long& value);
// An IPv4 address in dotted form into host order.
bool parseAddress(const std::string& text, std::uint32_t& address);
std::string formatAddress(std::uint32_t address);

// The addressing of one datagram on the line, all fields in host order.
struct LineAddressing {
    std::uint32_t source = 0;
    std::uint32_t destination = 0;
    std::uint16_t sourcePort = 0;
    std::uint16_t destinationPort = 0;
    std::uint16_t identification = 0;
};

// The IPv4/UDP datagram that carries `payload`, with a UDP checksum when asked for, written over
// `datagram` (whose storage is reused from one request to the next).
void buildDatagram(std::span<const std::uint8_t> payload, const LineAddressing& addressing,
                   bool udpChecksum, std::vector<std::uint8_t>& datagram);

enum class ReplyCheck { Ok, TooShort, NotIpv4Udp, BadHeaderChecksum, BadLength, BadUdpChecksum };

struct ParsedReply {
    LineAddressing addressing;
    std::span<const std::uint8_t> payload; // within the datagram that was parsed
};

// Reads a datagram from the line, bounded by its bytes: checks the IPv4 header checksum and, when
// the field is not 0, the UDP checksum.
ReplyCheck parseReply(std::span<const std::uint8_t> datagram, ParsedReply& reply);
const char* describe(ReplyCheck check);

// Cuts SLIP frames out of the byte stream read from the line. An END closes a frame; empty
// frames (END END) are skipped, and a frame that outgrows the limit is dropped up to the next END,
// which is where the stream is in step again.
class FrameCollector {
  public:
    explicit FrameCollector(std::size_t maxDatagram);
    // Feeds bytes; calls onFrame(std::span<const std::uint8_t> datagram) for every decoded frame.
    template <typename F> void feed(std::span<const std::uint8_t> bytes, F&& onFrame);
    std::size_t overlongFrames() const { return overlong_; }

  private:
    bool endOfFrame(std::span<const std::uint8_t>& datagram);

    std::vector<std::uint8_t> raw_;
    std::vector<std::uint8_t> decoded_;
    std::size_t maxRaw_;
    bool skipping_ = false;
    std::size_t overlong_ = 0;
};

// The bridge's end of the serial line, non-blocking and raw.
struct Line {
    int fd = -1;
    int agentSideFd = -1;  // with a pseudo-terminal: the agent side, held open (see openPtyLine)
    std::string agentPath; // with a pseudo-terminal: the path the agent opens
};

bool openDeviceLine(const std::string& path, unsigned baud, Line& line, std::string& error);
bool openPtyLine(Line& line, std::string& error);
void closeLine(Line& line);

// A manager endpoint (IPv4 address and port, host order).
struct Endpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    bool operator==(const Endpoint&) const = default;
};

// Gives each manager its own line-side source port and remembers which identifications are
// awaiting a reply, so a reply reaches the manager that asked and nobody else, even after a slot
// has passed to another manager.
class RelayTable {
  public:
    // The slot of the manager, taking the least recently used one when it has none; a slot taken
    // from another manager forgets that manager's outstanding requests.
    std::size_t slotFor(const Endpoint& manager);
    void addPending(std::size_t slot, std::uint16_t identification);
    // The manager a reply to this line port and identification belongs to; the request stops
    // being outstanding.
    std::optional<Endpoint> takeReply(std::uint16_t linePort, std::uint16_t identification);
    static std::uint16_t linePort(std::size_t slot) {
        return static_cast<std::uint16_t>(kFirstLinePort + slot);
    }

  private:
    struct Slot {
        bool used = false;
        Endpoint manager;
        std::uint64_t lastUse = 0;
    };
    struct Pending {
        bool used = false;
        std::uint16_t slot = 0;
        std::uint16_t identification = 0;
    };
    std::array<Slot, kSlotCount> slots_{};
    std::array<Pending, kPendingCount> pending_{};
    std::size_t nextPending_ = 0; // the oldest entry, overwritten when the ring is full
    std::uint64_t clock_ = 0;
};

template <typename F> void FrameCollector::feed(std::span<const std::uint8_t> bytes, F&& onFrame) {
    while (!bytes.empty()) {
        // The bytes up to the next END belong to the frame at hand, taken as one run.
        const auto* end = static_cast<const std::uint8_t*>(
            std::memchr(bytes.data(), link::kSlipEnd, bytes.size()));
        const std::size_t run =
            end == nullptr ? bytes.size() : static_cast<std::size_t>(end - bytes.data());
        if (run > 0 && !skipping_) {
            if (run > maxRaw_ - raw_.size()) {
                raw_.clear();
                skipping_ = true;
                ++overlong_;
            } else {
                raw_.insert(raw_.end(), bytes.begin(),
                            bytes.begin() + static_cast<std::ptrdiff_t>(run));
            }
        }
        if (end == nullptr) return;
        bytes = bytes.subspan(run + 1);
        std::span<const std::uint8_t> datagram;
        if (endOfFrame(datagram)) onFrame(datagram);
    }
}

} // namespace farlink::bridge
