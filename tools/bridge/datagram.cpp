// The IPv4/UDP layer of the station side, the SLIP framing of the line stream, and the table that
// maps managers to line ports.
#include "bridge.h"

#include "link/pipeline.h"
#include "link/slip.h"

#include <cstring>

namespace farlink::bridge {

namespace {

void putWord(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

void putLong(std::uint8_t* at, std::uint32_t value) {
    putWord(at, static_cast<std::uint16_t>(value >> 16));
    putWord(at + 2, static_cast<std::uint16_t>(value));
}

std::uint16_t getWord(const std::uint8_t* at) {
    return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}

std::uint32_t getLong(const std::uint8_t* at) {
    return (static_cast<std::uint32_t>(getWord(at)) << 16) | getWord(at + 2);
}

} // namespace

void buildDatagram(std::span<const std::uint8_t> payload, const LineAddressing& addressing,
                   bool udpChecksum, std::vector<std::uint8_t>& d) {
    const std::size_t udpLength = kUdpHeaderSize + payload.size();
    d.assign(kIpv4HeaderSize + udpLength, 0);
    d[0] = 0x45;
    putWord(&d[2], static_cast<std::uint16_t>(d.size()));
    putWord(&d[4], addressing.identification);
    d[8] = kRequestTtl;
    d[9] = kProtocolUdp;
    putLong(&d[12], addressing.source);
    putLong(&d[16], addressing.destination);
    const std::uint16_t headerSum =
        static_cast<std::uint16_t>(~link::internetChecksum(d.data(), kIpv4HeaderSize));
    std::memcpy(&d[10], &headerSum, 2);

    std::uint8_t* udp = &d[kIpv4HeaderSize];
    putWord(udp, addressing.sourcePort);
    putWord(udp + 2, addressing.destinationPort);
    putWord(udp + 4, static_cast<std::uint16_t>(udpLength));
    if (!payload.empty()) std::memcpy(udp + kUdpHeaderSize, payload.data(), payload.size());
    if (udpChecksum) {
        std::uint16_t sum =
            static_cast<std::uint16_t>(~link::udpBlockSum(&d[12], &d[16], udp, udpLength));
        // A computed 0 goes out as all ones: 0 in the field means "no checksum".
        if (sum == 0) sum = 0xFFFF;
        std::memcpy(udp + 6, &sum, 2);
    }
}

ReplyCheck parseReply(std::span<const std::uint8_t> d, ParsedReply& reply) {
    if (d.size() < kIpv4HeaderSize + kUdpHeaderSize) return ReplyCheck::TooShort;
    if ((d[0] >> 4) != 4) return ReplyCheck::NotIpv4Udp;
    const std::size_t headerLength = (d[0] & 0x0F) * 4u;
    if (headerLength < kIpv4HeaderSize || headerLength + kUdpHeaderSize > d.size())
        return ReplyCheck::BadLength;
    if (link::internetChecksum(d.data(), headerLength) != 0xFFFF)
        return ReplyCheck::BadHeaderChecksum;
    if (d[9] != kProtocolUdp) return ReplyCheck::NotIpv4Udp;
    const std::size_t totalLength = getWord(&d[2]);
    if (totalLength > d.size() || totalLength < headerLength + kUdpHeaderSize)
        return ReplyCheck::BadLength;
    const std::uint8_t* udp = &d[headerLength];
    const std::size_t udpLength = getWord(udp + 4);
    if (udpLength < kUdpHeaderSize || udpLength > totalLength - headerLength)
        return ReplyCheck::BadLength;
    reply.addressing.source = getLong(&d[12]);
    reply.addressing.destination = getLong(&d[16]);
    reply.addressing.identification = getWord(&d[4]);
    reply.addressing.sourcePort = getWord(udp);
    reply.addressing.destinationPort = getWord(udp + 2);
    if (getWord(udp + 6) != 0 && link::udpBlockSum(&d[12], &d[16], udp, udpLength) != 0xFFFF)
        return ReplyCheck::BadUdpChecksum;
    reply.payload = {udp + kUdpHeaderSize, udpLength - kUdpHeaderSize};
    return ReplyCheck::Ok;
}

const char* describe(ReplyCheck check) {
    switch (check) {
    case ReplyCheck::Ok:
        return "ok";
    case ReplyCheck::TooShort:
        return "reply too short for IPv4 and UDP headers";
    case ReplyCheck::NotIpv4Udp:
        return "reply is not IPv4/UDP";
    case ReplyCheck::BadHeaderChecksum:
        return "bad IPv4 header checksum in reply";
    case ReplyCheck::BadLength:
        return "bad length in reply headers";
    case ReplyCheck::BadUdpChecksum:
        return "bad UDP checksum in reply";
    }
    return "unknown";
}

FrameCollector::FrameCollector(std::size_t maxDatagram)
    : maxRaw_(link::slipEncodedMax(maxDatagram)) {
    raw_.reserve(1024);
}

bool FrameCollector::endOfFrame(std::span<const std::uint8_t>& datagram) {
    if (skipping_) {
        // The END after an overlong frame: from here on the stream is in step again.
        skipping_ = false;
        raw_.clear();
        return false;
    }
    if (raw_.empty()) return false; // an opening END, or END END
    raw_.push_back(link::kSlipEnd);
    decoded_.resize(raw_.size());
    const std::size_t n = link::slipDecode(raw_, decoded_);
    raw_.clear();
    if (n == 0) return false;
    datagram = std::span<const std::uint8_t>(decoded_.data(), n);
    return true;
}

std::size_t RelayTable::slotFor(const Endpoint& manager) {
    ++clock_;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i].used && slots_[i].manager == manager) {
            slots_[i].lastUse = clock_;
            return i;
        }
    }
    std::size_t chosen = 0;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (!slots_[i].used) {
            chosen = i;
            break;
        }
        if (slots_[i].lastUse < slots_[chosen].lastUse) chosen = i;
    }
    if (slots_[chosen].used) {
        // A late reply to the previous manager must not reach the new one.
        for (Pending& p : pending_)
            if (p.used && p.slot == chosen) p.used = false;
    }
    slots_[chosen] = Slot{true, manager, clock_};
    return chosen;
}

void RelayTable::addPending(std::size_t slot, std::uint16_t identification) {
    pending_[nextPending_] = Pending{true, static_cast<std::uint16_t>(slot), identification};
    nextPending_ = (nextPending_ + 1) % pending_.size();
}

std::optional<Endpoint> RelayTable::takeReply(std::uint16_t linePort,
                                              std::uint16_t identification) {
    if (linePort < kFirstLinePort || linePort >= kFirstLinePort + kSlotCount) return std::nullopt;
    const std::size_t slot = linePort - kFirstLinePort;
    if (!slots_[slot].used) return std::nullopt;
    for (Pending& p : pending_) {
        if (p.used && p.slot == slot && p.identification == identification) {
            p.used = false;
            return slots_[slot].manager;
        }
    }
    return std::nullopt;
}

} // namespace farlink::bridge
