#include "support/station.h"

#include "link/slip.h"
#include "runtime/guarded.h"

#include <algorithm>
#include <cstring>

namespace farlink::testing {

namespace {

// The value in n big-endian bytes.
Bytes be(std::uint32_t value, int n) {
    Bytes out;
    for (int shift = 8 * (n - 1); shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    return out;
}

Bytes objectIdentifier(const std::vector<std::uint32_t>& sub) {
    Bytes content{static_cast<std::uint8_t>(sub[0] * 40 + sub[1])};
    for (std::size_t i = 2; i < sub.size(); ++i) {
        Bytes groups;
        std::uint32_t v = sub[i];
        do {
            groups.insert(groups.begin(), static_cast<std::uint8_t>(v & 0x7F));
            v >>= 7;
        } while (v != 0);
        for (std::size_t j = 0; j + 1 < groups.size(); ++j)
            groups[j] |= 0x80;
        content.insert(content.end(), groups.begin(), groups.end());
    }
    return tlv(0x06, content);
}

// The one's-complement sum over big-endian words, an odd last byte padded with zero.
std::uint16_t referenceSum(const Bytes& bytes, std::size_t length) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < length; i += 2) {
        sum += (std::uint32_t{bytes[i]} << 8) | (i + 1 < length ? bytes[i + 1] : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(sum);
}

} // namespace

// ---- SNMPv1 requests in BER. ----

Bytes tlv(std::uint8_t tag, const Bytes& content) {
    const auto n = static_cast<std::uint32_t>(content.size());
    const Bytes length = n < 128   ? be(n, 1)
                         : n < 256 ? cat({{0x81}, be(n, 1)})
                                   : cat({{0x82}, be(n, 2)});
    return cat({{tag}, length, content});
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes integer(std::uint32_t value) {
    Bytes content = be(value, 4);
    while (content.size() > 1 && content[0] == 0 && content[1] < 0x80)
        content.erase(content.begin());
    // A top bit set would read as negative: an unsigned value that large needs a zero first.
    if (content[0] >= 0x80) content.insert(content.begin(), 0);
    return tlv(0x02, content);
}

Bytes octets(const std::string& text) {
    return tlv(0x04, Bytes(text.begin(), text.end()));
}

std::vector<std::uint32_t> mib(std::initializer_list<std::uint32_t> tail) {
    std::vector<std::uint32_t> oid = {1, 3, 6, 1, 4, 1, 32473, 25};
    oid.insert(oid.end(), tail);
    return oid;
}

Bytes snmpMessage(std::uint8_t pduType, std::uint32_t requestId,
                  const std::vector<Binding>& bindings, const std::string& community,
                  std::uint32_t errorStatus, std::uint32_t errorIndex) {
    Bytes list;
    for (const Binding& b : bindings)
        list = cat({list, tlv(0x30, cat({objectIdentifier(b.oid), b.value}))});
    const Bytes pdu =
        tlv(pduType,
            cat({integer(requestId), integer(errorStatus), integer(errorIndex), tlv(0x30, list)}));
    return tlv(0x30, cat({integer(0), octets(community), pdu}));
}

// ---- IPv4 and UDP. ----

void putBe16(Bytes& bytes, std::size_t at, std::uint32_t value) {
    bytes[at] = static_cast<std::uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<std::uint8_t>(value);
}

void sealIpHeader(Bytes& d) {
    putBe16(d, 10, 0);
    putBe16(d, 10, static_cast<std::uint16_t>(~referenceSum(d, 20)));
}

void sealUdp(Bytes& d) {
    putBe16(d, 26, 0);
    // Both addresses, a zero, the protocol, the UDP length, then the UDP header and message.
    const auto udp = d.begin() + 20;
    const Bytes block = cat({Bytes(d.begin() + 12, udp),
                             {0, 17, d[24], d[25]},
                             Bytes(udp, udp + ((d[24] << 8) | d[25]))});
    const auto sum = static_cast<std::uint16_t>(~referenceSum(block, block.size()));
    putBe16(d, 26, sum == 0 ? 0xFFFF : sum);
}

Bytes udpDatagram(const Bytes& message, const DatagramHeaders& h) {
    const auto n = static_cast<std::uint32_t>(message.size());
    Bytes d = cat({{0x45, h.typeOfService},
                   be(n + 28, 2),
                   be(h.identification, 2),
                   {0, 0, h.timeToLive, 17, 0, 0},
                   be(h.source, 4),
                   be(h.destination, 4),
                   be(h.sourcePort, 2),
                   be(h.destinationPort, 2),
                   be(n + 8, 2),
                   {0, 0},
                   message});
    sealIpHeader(d);
    if (h.udpChecksum) sealUdp(d);
    return d;
}

// ---- SLIP. ----

Bytes frame(const Bytes& datagram) {
    Bytes out(link::slipEncodedMax(datagram.size()));
    out.resize(link::slipEncode(datagram, out));
    return out;
}

link::FrameRequest* frameRequest(std::span<const std::uint8_t> frame, platform::PortHandle port) {
    auto* request = runtime::guardedNew<link::FrameRequest>();
    auto* block = static_cast<std::uint8_t*>(runtime::guardedAlloc(link::kFrameBlockSize));
    if (request == nullptr || block == nullptr) {
        if (request != nullptr) runtime::guardedFree(request);
        if (block != nullptr) runtime::guardedFree(block);
        return nullptr;
    }
    const std::size_t n = std::min(frame.size(), link::kFrameBlockSize);
    if (n > 0) std::memcpy(block, frame.data(), n);
    request->frameLength = static_cast<std::uint32_t>(n);
    request->port = port;
    request->frame = block;
    return request;
}

} // namespace farlink::testing
