#include "link/pipeline.h"

#include "link/slip.h"
#include "link/work_area.h"
#include "mib/group_registry.h"
#include "platform/console.h"
#include "platform/memory.h"
#include "runtime/events.h"
#include "runtime/guarded.h"
#include "snmp/dispatch.h"
#include "snmp/request_serial.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
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

// This thread's work area, made on first use and given back when the thread ends.
class AreaHolder {
  public:
    AreaHolder() = default;
    AreaHolder(const AreaHolder&) = delete;
    AreaHolder& operator=(const AreaHolder&) = delete;
    ~AreaHolder() { release(); }

    WorkArea* get() {
        if (area_ != nullptr) return area_;
        void* raw = platform::heapAlloc(sizeof(WorkArea));
        if (raw == nullptr) return nullptr;
        area_ = new (raw) WorkArea{};
        prepareWorkArea(*area_);
        return area_;
    }
    void release() {
        if (area_ != nullptr) platform::heapFree(area_);
        area_ = nullptr;
    }

  private:
    WorkArea* area_ = nullptr;
};

thread_local AreaHolder threadArea;

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
std::size_t encodeReply(WorkArea& w) {
    w.pdu.pduType = snmp::kGetResponse;
    const int encoded = snmp::encodeResponse(w.pdu, w.snmpBuf);
    checkGuards(w);
    if (encoded != 0) return 0;
    const std::size_t length = snmp::encodedMessageLength(w.snmpBuf);
    return length <= kSnmpBufSize ? length : 0;
}

// Groups the bindings into runs of one group each and hands every run to its group. A binding
// with an empty name, or one that no group owns, ends the scan; the run open at that point is
// not handed on.
void dispatchBindings(WorkArea& w) {
    snmp::RequestRecord& pdu = w.pdu;
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
            // The guards are checked around every run; the check after one run is the check
            // before the next, since nothing touches the area between them.
            if (runFirst == 0) checkGuards(w);
            snmp::dispatchRun(mib::groups(), pdu, runGroup, runFirst, i);
            checkGuards(w);
            runGroup = group;
            runFirst = i;
        }
    }
    if (runGroup >= 0) {
        if (runFirst == 0) checkGuards(w);
        snmp::dispatchRun(mib::groups(), pdu, runGroup, runFirst, pdu.bindingCount);
    }
}

} // namespace

std::uint16_t internetChecksum(const std::uint8_t* bytes, std::size_t length) {
    // The one's-complement sum does not depend on how the words are grouped: four bytes at a
    // time into a wide sum, folded to 16 bits at the end, gives what adding each 16-bit word
    // with its end-around carry gives.
    std::uint64_t sum = 0;
    std::size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        std::uint32_t word;
        std::memcpy(&word, bytes + i, sizeof word);
        sum += word;
    }
    for (; i + 1 < length; i += 2) {
        std::uint16_t word;
        std::memcpy(&word, bytes + i, sizeof word);
        sum += word;
    }
    if (i < length) {
        // An odd last byte counts as if a zero byte followed it.
        const std::uint8_t tail[2] = {bytes[i], 0};
        std::uint16_t word;
        std::memcpy(&word, tail, sizeof word);
        sum += word;
    }
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(sum);
}

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

std::size_t buildReplyDatagram(std::span<const std::uint8_t> message,
                               const UdpAddressing& addressing, std::span<std::uint8_t> out) {
    if (out.size() < kHeadersSize || message.size() > out.size() - kHeadersSize) return 0;
    std::uint8_t* d = out.data();
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
    return n + kHeadersSize;
}

void answerFrame(std::span<const std::uint8_t> frame, platform::PortHandle port,
                 std::uint32_t mode) {
    WorkArea* area = threadArea.get();
    if (area == nullptr) {
        runtime::reportEvent(
            runtime::kEventWarning,
            platform::formatText("Failed to malloc Pdu: %d", platform::lastError()));
        return;
    }
    WorkArea& w = *area;
    // What the last request left in the record goes; its bindings are cleared one by one as the
    // decoder fills them.
    const auto bindings = w.pdu.bindings;
    w.pdu = snmp::RequestRecord{};
    w.pdu.bindings = bindings;

    const std::span<const std::uint8_t> received =
        frame.first(std::min(frame.size(), kFrameBlockSize));
    const std::size_t datagramLength = slipDecode(received, w.outBuf);
    const std::span<const std::uint8_t> datagram(w.outBuf.data(), datagramLength);
    if (datagramLength == 0 && received.size() > kOutBufSize) {
        const std::size_t needed = slipDecodedLength(received);
        if (needed > kOutBufSize) {
            runtime::reportLimitedEvent(
                runtime::EventKind::FrameTooLong, runtime::kEventWarning,
                platform::formatText("Frame dropped: its datagram of %zu bytes exceeds %zu", needed,
                                     kOutBufSize));
            return;
        }
    }

    // A damaged datagram is not answered: a corrupted SetRequest must never be applied, and a
    // reply could not be addressed from a header that fails its checksum.
    UdpAddressing addressing;
    const DatagramCheck check = parseDatagram(datagram, addressing);
    if (check != DatagramCheck::Ok) {
        reportDropped(check);
        return;
    }

    const std::span<const std::uint8_t> message = datagram.subspan(kHeadersSize);
    // What the groups gather for a request (the resource map, the mount table, the load) is
    // kept for its bindings and no longer than its answer.
    snmp::beginRequest();
    const struct RequestEnd {
        ~RequestEnd() { snmp::endRequest(); }
    } requestEnd;
    const int decoded = snmp::decodeMessage(message, w.pdu);
    if (decoded != 0) {
        // Per-request lines are debug output: the console of a service ends up in the journal.
        platform::diagnostic("IP Failed to decode: ");
        const bool wrongCommunity = decoded == snmp::kDecodeWrongCommunity;
        runtime::reportLimitedEvent(wrongCommunity ? runtime::EventKind::WrongCommunity
                                                   : runtime::EventKind::MalformedMessage,
                                    runtime::kEventWarning,
                                    wrongCommunity ? "Failed to decode: wrong community"
                                                   : "Failed to decode: malformed message");
        return;
    }
    w.pdu.linkMode = mode;

    dispatchBindings(w);

    std::size_t messageLength = encodeReply(w);
    if (messageLength == 0) {
        // The answer does not fit: the manager is told so (tooBig) with its bindings as it sent
        // them, and can ask for fewer at a time rather than retrying for ever. The groups have
        // edited the bindings in place, but the request is still in outBuf to be read again.
        platform::diagnostic("Warning Failed to encode: the response is too big, sending tooBig");
        if (snmp::decodeMessage(message, w.pdu) == 0) {
            w.pdu.linkMode = mode;
            w.pdu.errorStatus = snmp::kTooBig;
            w.pdu.errorIndex = 0;
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
        return;
    }

    platform::diagnostic("Write to Port");
    const std::size_t replyLength =
        buildReplyDatagram(std::span(w.snmpBuf.data(), messageLength), addressing, w.reply);
    const std::size_t frameSize =
        replyLength == 0 ? 0 : slipEncode(std::span(w.reply.data(), replyLength), w.slipBuf);
    checkGuards(w);
    if (frameSize > 0) writePort(port, w.slipBuf.data(), frameSize);
}

void processFrame(FrameRequest* request) {
    if (request == nullptr) return;
    // The frame block is all a port reader ever fills, whatever length it claims.
    const std::size_t frameLength =
        request->frame == nullptr ? 0
                                  : std::min<std::size_t>(request->frameLength, kFrameBlockSize);
    answerFrame(std::span<const std::uint8_t>(request->frame, frameLength), request->port,
                request->mode);
    if (request->frame != nullptr) runtime::guardedFree(request->frame);
    runtime::guardedFree(request);
}

void releaseWorkArea() {
    threadArea.release();
}

} // namespace farlink::link
