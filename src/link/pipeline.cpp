#include "link/pipeline.h"

#include "link/slip.h"
#include "mib/group_registry.h"
#include "platform/console.h"
#include "runtime/events.h"
#include "runtime/guarded.h"
#include "snmp/dispatch.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace farlink::link {

namespace {

constexpr std::size_t kIpHeaderSize = 20;
constexpr std::size_t kUdpHeaderSize = 8;
constexpr std::uint8_t kUdpProtocol = 17;
constexpr std::uint8_t kReplyTimeToLive = 254;

std::uint16_t load16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t load32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

void store16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

void store32(std::uint8_t* p, std::uint32_t v) {
    store16(p, v >> 16);
    store16(p + 2, v);
}

// A checksum is formed and stored in host byte order; the one's-complement sum does not care
// which order its words are in, as long as it goes back in the same one.
void storeSum(std::uint8_t* p, std::uint16_t sum) {
    std::memcpy(p, &sum, sizeof sum);
}

// The UDP pseudo-header block over which a UDP checksum is verified and made: both addresses,
// a zero byte, the protocol (always UDP), the UDP length field, then the sum of the UDP length
// bytes of header and message, each as they stand.
std::uint16_t udpBlockSum(const std::uint8_t* source, const std::uint8_t* destination,
                          const std::uint8_t* udp, std::size_t udpLength) {
    std::uint8_t block[14];
    std::memcpy(block, source, 4);
    std::memcpy(block + 4, destination, 4);
    block[8] = 0;
    block[9] = kUdpProtocol;
    block[10] = udp[4];
    block[11] = udp[5];
    storeSum(block + 12, internetChecksum(udp, udpLength));
    return internetChecksum(block, sizeof block);
}

// The blocks of one frame; any of them may be absent on a failure path.
struct FrameWork {
    FrameRequest* request = nullptr;
    snmp::RequestRecord* pdu = nullptr;
    std::uint8_t* snmpBuf = nullptr;
    std::uint8_t* outBuf = nullptr;
    std::uint8_t* slipBuf = nullptr;
    std::uint8_t* reply = nullptr;
};

void releaseFrameWork(FrameWork& w) {
    if (w.pdu != nullptr) {
        for (snmp::VarBind*& binding : w.pdu->bindings) {
            if (binding != nullptr) runtime::guardedFree(binding);
            binding = nullptr;
        }
        runtime::guardedFree(w.pdu);
    }
    if (w.reply != nullptr) runtime::guardedFree(w.reply);
    if (w.snmpBuf != nullptr) runtime::guardedFree(w.snmpBuf);
    if (w.outBuf != nullptr) runtime::guardedFree(w.outBuf);
    if (w.slipBuf != nullptr) runtime::guardedFree(w.slipBuf);
    if (w.request != nullptr) {
        if (w.request->frame != nullptr) runtime::guardedFree(w.request->frame);
        runtime::guardedFree(w.request);
    }
    w = FrameWork{};
}

// Verifies every block of the frame, so that a group routine that overran one is noticed next
// to the routine that did it.
void checkFrameBlocks(const FrameWork& w) {
    for (snmp::VarBind* binding : w.pdu->bindings)
        if (binding != nullptr) runtime::guardedCheck(binding);
    runtime::guardedCheck(w.pdu);
    runtime::guardedCheck(w.snmpBuf);
    if (w.request->frame != nullptr) runtime::guardedCheck(w.request->frame);
    runtime::guardedCheck(w.request);
    if (w.outBuf != nullptr) runtime::guardedCheck(w.outBuf);
    if (w.slipBuf != nullptr) runtime::guardedCheck(w.slipBuf);
}

// The operator's record of a frame that could not be answered; the frame's blocks go with it.
void failWith(FrameWork& w, const std::string& text) {
    runtime::reportEvent(runtime::kEventWarning, text);
    releaseFrameWork(w);
}

// Every dropped datagram leaves a record, each kind spaced on its own: a line that delivers
// nothing but damage must not fill the log.
void reportDropped(DatagramCheck check) {
    struct Drop {
        runtime::EventKind kind;
        const char* text;
    };
    static constexpr Drop kDrops[] = {
        {runtime::EventKind::DatagramTooShort, ""},
        {runtime::EventKind::DatagramTooShort,
         "Dropped datagram: too short for its IPv4 and UDP headers"},
        {runtime::EventKind::BadHeaderChecksum, "Dropped datagram: bad IPv4 header checksum"},
        {runtime::EventKind::BadUdpChecksum, "Dropped datagram: bad UDP checksum"},
        {runtime::EventKind::NotUdpOverIpv4, "Dropped datagram: not IPv4"},
        {runtime::EventKind::NotUdpOverIpv4, "Dropped datagram: IPv4 header with options"},
        {runtime::EventKind::PartialDatagram,
         "Dropped datagram: IPv4 total length differs from the bytes received"},
        {runtime::EventKind::PartialDatagram, "Dropped datagram: IPv4 fragment"},
        {runtime::EventKind::NotUdpOverIpv4, "Dropped datagram: not UDP"},
    };
    const auto index = static_cast<std::size_t>(check);
    if (check == DatagramCheck::Ok || index >= std::size(kDrops)) return;
    runtime::reportLimitedEvent(kDrops[index].kind, runtime::kEventWarning, kDrops[index].text);
}

// Encodes the record as the GetResponse into the reply buffer; the message length, or 0 when it
// does not fit.
std::size_t encodeReply(FrameWork& w) {
    w.pdu->pduType = snmp::kGetResponse;
    const int encoded = snmp::encodeResponse(*w.pdu, std::span(w.snmpBuf, kSnmpBufSize));
    checkFrameBlocks(w);
    if (encoded != 0) return 0;
    const std::size_t length = snmp::encodedMessageLength(std::span(w.snmpBuf, kSnmpBufSize));
    return length <= kSnmpBufSize ? length : 0;
}

// Groups the bindings into runs of one group each and hands every run to its group. A binding
// with an empty name, or one that no group owns, ends the scan; the run open at that point is
// not handed on.
void dispatchBindings(FrameWork& w) {
    snmp::RequestRecord& pdu = *w.pdu;
    int runGroup = -1;
    std::uint16_t runFirst = 0;
    for (std::uint16_t i = 0; i < pdu.bindingCount; ++i) {
        snmp::VarBind& binding = *pdu.bindings[i];
        if (binding.name.count == 0) return;
        const int group = snmp::findGroup(mib::groups(), binding, pdu.pduType);
        if (group < 0) {
            pdu.pduType = snmp::kGetResponse;
            pdu.errorStatus = snmp::kNoSuchName;
            pdu.errorIndex = static_cast<std::uint32_t>(i) + 1;
            return;
        }
        if (runGroup < 0) {
            runGroup = group;
            runFirst = i;
        } else if (group != runGroup) {
            checkFrameBlocks(w);
            snmp::dispatchRun(mib::groups(), pdu, runGroup, runFirst, i);
            checkFrameBlocks(w);
            runGroup = group;
            runFirst = i;
        }
    }
    if (runGroup >= 0) {
        checkFrameBlocks(w);
        snmp::dispatchRun(mib::groups(), pdu, runGroup, runFirst, pdu.bindingCount);
    }
}

} // namespace

std::uint16_t internetChecksum(const std::uint8_t* bytes, std::size_t length) {
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < length; i += 2) {
        std::uint16_t word;
        std::memcpy(&word, bytes + i, sizeof word);
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    if (i < length) {
        // An odd last byte counts as if a zero byte followed it.
        const std::uint8_t tail[2] = {bytes[i], 0};
        std::uint16_t word;
        std::memcpy(&word, tail, sizeof word);
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(sum);
}

DatagramCheck parseDatagram(std::span<const std::uint8_t> datagram, UdpAddressing& addressing) {
    const std::uint8_t* d = datagram.data();
    if (datagram.size() < kHeadersSize) return DatagramCheck::TooShort;
    if ((d[0] >> 4) != 4) return DatagramCheck::NotIpv4;
    const std::size_t h = static_cast<std::size_t>(d[0] & 0x0F) * 4;
    if (h < kIpHeaderSize) return DatagramCheck::TooShort;
    // The reply and the message offset assume the plain header; options are never needed on a
    // point-to-point line.
    if (h != kIpHeaderSize) return DatagramCheck::HeaderOptions;
    if (internetChecksum(d, h) != 0xFFFF) return DatagramCheck::BadHeaderChecksum;
    if (load16(d + 2) != datagram.size()) return DatagramCheck::LengthMismatch;
    // More-fragments flag or a fragment offset: only part of a datagram arrived.
    if ((load16(d + 6) & 0x3FFF) != 0) return DatagramCheck::Fragment;
    if (d[9] != kUdpProtocol) return DatagramCheck::NotUdp;

    const std::uint8_t* u = d + h;
    addressing.localAddress = load32(d + 16);
    addressing.remoteAddress = load32(d + 12);
    addressing.protocol = d[9];
    addressing.identification = load16(d + 4);
    addressing.typeOfService = d[1];
    addressing.localPort = load16(u + 2);
    addressing.remotePort = load16(u);
    addressing.checksumPresent = load16(u + 6) != 0 ? 1 : 0;
    if (addressing.checksumPresent == 0) return DatagramCheck::Ok;

    // The checksum covers the length the header claims; a claim shorter than the header itself
    // or longer than what arrived cannot be verified and fails like a wrong sum.
    const std::size_t udpLength = load16(u + 4);
    if (udpLength < kUdpHeaderSize || udpLength > datagram.size() - h)
        return DatagramCheck::BadUdpChecksum;
    if (udpBlockSum(d + 12, d + 16, u, udpLength) != 0xFFFF) return DatagramCheck::BadUdpChecksum;
    return DatagramCheck::Ok;
}

std::uint8_t* buildReplyDatagram(std::span<const std::uint8_t> message,
                                 const UdpAddressing& addressing) {
    if (message.size() > kReplyDatagramSize - kHeadersSize) return nullptr;
    auto* d = static_cast<std::uint8_t*>(runtime::guardedAlloc(kReplyDatagramSize));
    if (d == nullptr) return nullptr;
    const std::size_t n = message.size();

    std::uint8_t* u = d + kIpHeaderSize;
    store16(u, addressing.localPort);
    store16(u + 2, addressing.remotePort);
    store16(u + 4, static_cast<std::uint32_t>(n + kUdpHeaderSize));
    store16(u + 6, 0);
    if (n > 0) std::memcpy(d + kHeadersSize, message.data(), n);

    d[0] = 0x45;
    d[1] = addressing.typeOfService;
    store16(d + 2, static_cast<std::uint32_t>(n + kHeadersSize));
    store16(d + 4, addressing.identification);
    store16(d + 6, 0);
    d[8] = kReplyTimeToLive;
    d[9] = addressing.protocol;
    store16(d + 10, 0);
    store32(d + 12, addressing.localAddress);
    store32(d + 16, addressing.remoteAddress);
    storeSum(d + 10, static_cast<std::uint16_t>(~internetChecksum(d, kIpHeaderSize)));

    if (addressing.checksumPresent == 1) {
        auto sum = static_cast<std::uint16_t>(~udpBlockSum(d + 12, d + 16, u, n + kUdpHeaderSize));
        // A computed 0 goes out as its other form, all ones: 0 on the wire means "no checksum".
        if (sum == 0) sum = 0xFFFF;
        storeSum(u + 6, sum);
    }
    return d;
}

void processFrame(FrameRequest* request) {
    if (request == nullptr) return;
    FrameWork w;
    w.request = request;

    w.pdu = runtime::guardedNew<snmp::RequestRecord>();
    if (w.pdu == nullptr) {
        const int error = platform::lastError();
        failWith(w, platform::formatText("Failed to malloc Pdu: %d", error));
        return;
    }
    w.pdu->bindings.fill(nullptr);
    for (snmp::VarBind*& binding : w.pdu->bindings) {
        binding = runtime::guardedNew<snmp::VarBind>();
        if (binding == nullptr) {
            const int error = platform::lastError();
            failWith(w, platform::formatText("Failed to malloc: %d", error));
            return;
        }
    }
    w.snmpBuf = static_cast<std::uint8_t*>(runtime::guardedAlloc(kSnmpBufSize));
    if (w.snmpBuf == nullptr) {
        const int error = platform::lastError();
        failWith(w, platform::formatText("Malloc of psnmpBuf failed: %d ", error));
        return;
    }
    w.outBuf = static_cast<std::uint8_t*>(runtime::guardedAlloc(kOutBufSize));
    if (w.outBuf == nullptr) {
        const std::string text =
            platform::formatText("Malloc of outBuf failed: %d", platform::lastError());
        platform::printText(text);
        failWith(w, text);
        return;
    }
    w.slipBuf = static_cast<std::uint8_t*>(runtime::guardedAlloc(kSlipBufSize));
    if (w.slipBuf == nullptr) {
        const std::string text =
            platform::formatText("Malloc of SLIPBuf failed: %d", platform::lastError());
        platform::printText(text);
        failWith(w, text);
        return;
    }

    // The frame block is all a port reader ever fills, whatever length it claims.
    const std::size_t frameLength =
        request->frame == nullptr ? 0
                                  : std::min<std::size_t>(request->frameLength, kFrameBlockSize);
    const std::size_t datagramLength =
        slipDecode(std::span(request->frame, frameLength), std::span(w.outBuf, kOutBufSize));
    const std::span<const std::uint8_t> datagram(w.outBuf, datagramLength);
    if (datagramLength == 0 && frameLength > kOutBufSize) {
        const std::size_t needed = slipDecodedLength(std::span(request->frame, frameLength));
        if (needed > kOutBufSize) {
            runtime::reportLimitedEvent(
                runtime::EventKind::FrameTooLong, runtime::kEventWarning,
                platform::formatText("Frame dropped: its datagram of %zu bytes exceeds %zu", needed,
                                     kOutBufSize));
            releaseFrameWork(w);
            return;
        }
    }

    // A damaged datagram is not answered: a corrupted SetRequest must never be applied, and a
    // reply could not be addressed from a header that fails its checksum.
    UdpAddressing addressing;
    const DatagramCheck check = parseDatagram(datagram, addressing);
    if (check != DatagramCheck::Ok) {
        reportDropped(check);
        releaseFrameWork(w);
        return;
    }

    const std::span<const std::uint8_t> message = datagram.subspan(kHeadersSize);
    const int decoded = snmp::decodeMessage(message, *w.pdu);
    if (decoded != 0) {
        // Per-request lines are debug output: the console of a service ends up in the journal.
        platform::diagnostic("IP Failed to decode: ");
        const bool wrongCommunity = decoded == snmp::kDecodeWrongCommunity;
        runtime::reportLimitedEvent(wrongCommunity ? runtime::EventKind::WrongCommunity
                                                   : runtime::EventKind::MalformedMessage,
                                    runtime::kEventWarning,
                                    wrongCommunity ? "Failed to decode: wrong community"
                                                   : "Failed to decode: malformed message");
        releaseFrameWork(w);
        return;
    }
    w.pdu->linkMode = request->mode;

    dispatchBindings(w);

    std::size_t messageLength = encodeReply(w);
    if (messageLength == 0) {
        // The answer does not fit: the manager is told so (tooBig) with its bindings as it sent
        // them, and can ask for fewer at a time rather than retrying for ever. The groups have
        // edited the bindings in place, but the request is still in outBuf to be read again.
        platform::diagnostic("Warning Failed to encode: the response is too big, sending tooBig");
        if (snmp::decodeMessage(message, *w.pdu) == 0) {
            w.pdu->linkMode = request->mode;
            w.pdu->errorStatus = snmp::kTooBig;
            w.pdu->errorIndex = 0;
            messageLength = encodeReply(w);
        }
    }
    if (messageLength == 0) {
        const std::string text = platform::formatText(
            "Warning Failed to encode: even the tooBig response exceeds %zu bytes",
            snmp::MAXBUILDSIZE);
        platform::diagnostic(text);
        runtime::reportLimitedEvent(runtime::EventKind::ResponseUnencodable, runtime::kEventWarning,
                                    text);
        releaseFrameWork(w);
        return;
    }

    platform::diagnostic("Write to Port");
    w.reply = buildReplyDatagram(std::span(w.snmpBuf, messageLength), addressing);
    if (w.reply != nullptr) {
        const std::size_t frameSize = slipEncode(std::span(w.reply, messageLength + kHeadersSize),
                                                 std::span(w.slipBuf, kSlipBufSize));
        if (frameSize > 0) writePort(request->port, w.slipBuf, frameSize);
    }
    releaseFrameWork(w);
}

} // namespace farlink::link
