#include "support/station.h"

#include "link/slip.h"
#include "service/guarded.h"

#include <algorithm>
#include <cstring>

namespace farlink::testing {

// ---- The line. ----

bool DiscardingPort::getState(platform::CommState&) {
    return true;
}
bool DiscardingPort::setState(const platform::CommState&) {
    return true;
}
bool DiscardingPort::setupQueues(std::uint32_t, std::uint32_t) {
    return true;
}
bool DiscardingPort::escape(platform::CommEscape) {
    return true;
}
bool DiscardingPort::setTimeouts(const platform::CommTimeouts&) {
    return true;
}
bool DiscardingPort::modemStatus(std::uint32_t&) {
    return false;
}
bool DiscardingPort::setEventMask(std::uint32_t) {
    return false;
}
platform::WaitOutcome DiscardingPort::waitEvent(std::uint32_t&, int) {
    return platform::WaitOutcome::Failed;
}
bool DiscardingPort::read(std::uint8_t*, std::size_t, std::size_t& bytesRead) {
    bytesRead = 0;
    return true;
}
bool DiscardingPort::write(const std::uint8_t*, std::size_t size, std::size_t& bytesWritten) {
    bytesWritten = size;
    written_ += size;
    return true;
}
std::string DiscardingPort::deviceName() const {
    return "discarding";
}

// ---- SNMPv1 requests in BER. ----

Bytes tlv(std::uint8_t tag, const Bytes& content) {
    Bytes out{tag};
    const std::size_t n = content.size();
    if (n >= 256) {
        out.push_back(0x82);
        out.push_back(static_cast<std::uint8_t>(n >> 8));
    } else if (n >= 128) {
        out.push_back(0x81);
    }
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes integer(std::uint32_t value) {
    Bytes content;
    for (int shift = 24; shift >= 0; shift -= 8)
        content.push_back(static_cast<std::uint8_t>(value >> shift));
    while (content.size() > 1 && content[0] == 0 && content[1] < 0x80)
        content.erase(content.begin());
    // A top bit set would read as negative: an unsigned value that large needs a zero first.
    if (content[0] >= 0x80) content.insert(content.begin(), 0);
    return tlv(0x02, content);
}

Bytes octets(const std::string& text) {
    return tlv(0x04, Bytes(text.begin(), text.end()));
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

std::vector<std::uint32_t> mib(std::initializer_list<std::uint32_t> tail) {
    std::vector<std::uint32_t> oid = {1, 3, 6, 1, 4, 1, 32473, 25};
    oid.insert(oid.end(), tail);
    return oid;
}

Bytes snmpMessage(std::uint8_t pduType, std::uint32_t requestId,
                  const std::vector<Binding>& bindings, const std::string& community) {
    Bytes list;
    for (const Binding& b : bindings)
        list = cat({list, tlv(0x30, cat({objectIdentifier(b.oid), b.value}))});
    const Bytes pdu =
        tlv(pduType, cat({integer(requestId), integer(0), integer(0), tlv(0x30, list)}));
    return tlv(0x30, cat({integer(0), octets(community), pdu}));
}

// ---- IPv4 and UDP. ----

std::uint16_t be16(const Bytes& bytes, std::size_t at) {
    return static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

void putBe16(Bytes& bytes, std::size_t at, std::uint32_t value) {
    bytes[at] = static_cast<std::uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<std::uint8_t>(value);
}

std::uint16_t referenceSum(const Bytes& bytes, std::size_t from, std::size_t length) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < length; i += 2) {
        const std::uint32_t hi = bytes[from + i];
        const std::uint32_t lo = i + 1 < length ? bytes[from + i + 1] : 0;
        sum += (hi << 8) | lo;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(sum);
}

std::uint16_t udpReferenceSum(const Bytes& d) {
    const std::size_t udpLength = be16(d, 24);
    // Both addresses, a zero, the protocol, the UDP length, then the UDP header and message.
    Bytes block(12 + udpLength);
    std::copy(d.begin() + 12, d.begin() + 20, block.begin());
    block[8] = 0;
    block[9] = 17;
    block[10] = d[24];
    block[11] = d[25];
    std::copy(d.begin() + 20, d.begin() + 20 + static_cast<long>(udpLength), block.begin() + 12);
    return referenceSum(block, 0, block.size());
}

void sealIpHeader(Bytes& d) {
    putBe16(d, 10, 0);
    putBe16(d, 10, static_cast<std::uint16_t>(~referenceSum(d, 0, 20)));
}

void sealUdp(Bytes& d) {
    putBe16(d, 26, 0);
    const auto sum = static_cast<std::uint16_t>(~udpReferenceSum(d));
    putBe16(d, 26, sum == 0 ? 0xFFFF : sum);
}

Bytes udpDatagram(const Bytes& message, const DatagramHeaders& headers) {
    Bytes d(28 + message.size(), 0);
    std::copy(message.begin(), message.end(), d.begin() + 28);
    d[0] = 0x45;
    d[1] = headers.typeOfService;
    putBe16(d, 2, message.size() + 28);
    putBe16(d, 4, headers.identification);
    d[8] = headers.timeToLive;
    d[9] = 17;
    putBe16(d, 12, headers.source >> 16);
    putBe16(d, 14, headers.source);
    putBe16(d, 16, headers.destination >> 16);
    putBe16(d, 18, headers.destination);
    putBe16(d, 20, headers.sourcePort);
    putBe16(d, 22, headers.destinationPort);
    putBe16(d, 24, message.size() + 8);
    sealIpHeader(d);
    if (headers.udpChecksum) sealUdp(d);
    return d;
}

// ---- SLIP. ----

Bytes frame(const Bytes& datagram) {
    Bytes out(link::slipEncodedMax(datagram.size()));
    out.resize(link::slipEncode(datagram, out));
    return out;
}

link::FrameRequest* frameRequest(std::span<const std::uint8_t> frame, platform::PortHandle port) {
    auto* request = service::guardedNew<link::FrameRequest>();
    auto* block = static_cast<std::uint8_t*>(service::guardedAlloc(link::kFrameBlockSize));
    if (request == nullptr || block == nullptr) {
        if (request != nullptr) service::guardedFree(request);
        if (block != nullptr) service::guardedFree(block);
        return nullptr;
    }
    const std::size_t n = std::min(frame.size(), link::kFrameBlockSize);
    if (n > 0) std::memcpy(block, frame.data(), n);
    request->mode = 0;
    request->frameLength = static_cast<std::uint32_t>(n);
    request->port = port;
    request->frame = block;
    return request;
}

} // namespace farlink::testing
