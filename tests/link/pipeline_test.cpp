#include "link/pipeline.h"

#include "config/agent_settings.h"
#include "link/slip.h"
#include "platform/console.h"
#include "platform/event_log.h"
#include "platform/memory.h"
#include "platform/memory_port.h"
#include "service/events.h"
#include "service/guarded.h"
#include "support/station.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace farlink::link {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::hexBytes;
using testing::hexText;

// ---- Requests, built independently of the agent's own codec and checksums. ----

using testing::be16;
using testing::Binding;
using testing::integer;
using testing::kAgentAddress;
using testing::kAgentPort;
using testing::kStationAddress;
using testing::kStationPort;
using testing::mib;
using testing::octets;
using testing::putBe16;
using testing::referenceSum;
using testing::sealIpHeader;
using testing::sealUdp;
using testing::snmpMessage;
using testing::udpReferenceSum;

constexpr std::uint16_t kIdentification = 0x1234;
constexpr std::uint8_t kTypeOfService = 0x10;

Bytes requestDatagram(const Bytes& message, bool udpChecksum) {
    return testing::udpDatagram(message, {.identification = kIdentification,
                                          .typeOfService = kTypeOfService,
                                          .udpChecksum = udpChecksum});
}

// ---- Reading replies. ----

struct ReplyBinding {
    std::vector<std::uint32_t> oid;
    std::uint8_t tag = 0;
    Bytes value;
};

struct Reply {
    std::uint8_t pduType = 0;
    std::uint32_t requestId = 0;
    std::uint32_t errorStatus = 0;
    std::uint32_t errorIndex = 0;
    std::vector<ReplyBinding> bindings;
};

struct Tlv {
    std::uint8_t tag = 0;
    Bytes content;
};

// A small bounded BER reader; nullopt on anything malformed.
class BerReader {
  public:
    explicit BerReader(Bytes bytes) : b_(std::move(bytes)) {}
    bool atEnd() const { return pos_ == b_.size(); }
    std::optional<Tlv> next() {
        if (b_.size() - pos_ < 2) return std::nullopt;
        Tlv t;
        t.tag = b_[pos_++];
        std::size_t n = b_[pos_++];
        if (n & 0x80) {
            const std::size_t octetCount = n & 0x7F;
            if (octetCount == 0 || octetCount > 2 || b_.size() - pos_ < octetCount)
                return std::nullopt;
            n = 0;
            for (std::size_t i = 0; i < octetCount; ++i)
                n = (n << 8) | b_[pos_++];
        }
        if (b_.size() - pos_ < n) return std::nullopt;
        t.content.assign(b_.begin() + static_cast<long>(pos_),
                         b_.begin() + static_cast<long>(pos_ + n));
        pos_ += n;
        return t;
    }

  private:
    Bytes b_;
    std::size_t pos_ = 0;
};

std::uint32_t unsignedValue(const Bytes& content) {
    std::uint32_t v = 0;
    for (std::uint8_t c : content)
        v = (v << 8) | c;
    return v;
}

std::vector<std::uint32_t> oidValue(const Bytes& content) {
    std::vector<std::uint32_t> sub;
    if (content.empty()) return sub;
    sub = {static_cast<std::uint32_t>(content[0] / 40),
           static_cast<std::uint32_t>(content[0] % 40)};
    std::uint32_t v = 0;
    for (std::size_t i = 1; i < content.size(); ++i) {
        v = (v << 7) | (content[i] & 0x7F);
        if ((content[i] & 0x80) == 0) {
            sub.push_back(v);
            v = 0;
        }
    }
    return sub;
}

std::optional<Reply> parseReply(const Bytes& message) {
    BerReader outer(message);
    auto seq = outer.next();
    if (!seq || seq->tag != 0x30 || !outer.atEnd()) return std::nullopt;
    BerReader msg(seq->content);
    auto version = msg.next();
    auto community = msg.next();
    auto pdu = msg.next();
    if (!version || !community || !pdu || !msg.atEnd()) return std::nullopt;
    if (unsignedValue(version->content) != 0 ||
        community->content != Bytes{'k', 'e', 's', 't', 'r', 'l'})
        return std::nullopt;
    Reply r;
    r.pduType = pdu->tag;
    BerReader fields(pdu->content);
    auto id = fields.next();
    auto status = fields.next();
    auto index = fields.next();
    auto list = fields.next();
    if (!id || !status || !index || !list || list->tag != 0x30 || !fields.atEnd())
        return std::nullopt;
    r.requestId = unsignedValue(id->content);
    r.errorStatus = unsignedValue(status->content);
    r.errorIndex = unsignedValue(index->content);
    BerReader bindings(list->content);
    while (!bindings.atEnd()) {
        auto vb = bindings.next();
        if (!vb || vb->tag != 0x30) return std::nullopt;
        BerReader parts(vb->content);
        auto name = parts.next();
        auto value = parts.next();
        if (!name || name->tag != 0x06 || !value || !parts.atEnd()) return std::nullopt;
        r.bindings.push_back({oidValue(name->content), value->tag, value->content});
    }
    return r;
}

// ---- The station: frames go in through processFrame, replies come out of the port. ----

class PipelineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::useMemoryEventLog();
        platform::clearLoggedEvents();
        platform::setConsoleQuiet(true);
        liveBefore_ = service::guardedLiveBlocks();
    }

    void TearDown() override {
        platform::failHeapAllocationAfter(-1);
        // Every path releases the request and every block it made.
        EXPECT_EQ(service::guardedLiveBlocks(), liveBefore_);
    }

    // A FrameRequest as a port reader makes it.
    FrameRequest* frameRequest(const Bytes& datagram) {
        const Bytes frame = testing::frame(datagram);
        EXPECT_LE(frame.size(), kFrameBlockSize);
        FrameRequest* request = testing::frameRequest(frame, &port_);
        EXPECT_NE(request, nullptr);
        return request;
    }

    // Sends the datagram; the reply datagram written back, empty when nothing was written.
    Bytes exchange(const Bytes& datagram) {
        processFrame(frameRequest(datagram));
        const Bytes written = port_.takeWritten();
        if (written.empty()) return {};
        EXPECT_EQ(written.front(), kSlipEnd);
        EXPECT_EQ(written.back(), kSlipEnd);
        Bytes reply(written.size());
        reply.resize(slipDecode(written, reply));
        EXPECT_FALSE(reply.empty()) << hexText(written);
        return reply;
    }

    Reply ask(std::uint8_t pduType, const std::vector<Binding>& bindings,
              bool udpChecksum = false) {
        const Bytes reply =
            exchange(requestDatagram(snmpMessage(pduType, 77, bindings), udpChecksum));
        if (reply.size() <= 28) {
            ADD_FAILURE() << "no reply datagram";
            return {};
        }
        auto parsed = parseReply(Bytes(reply.begin() + 28, reply.end()));
        if (!parsed) {
            ADD_FAILURE() << "reply does not parse: " << hexText(reply);
            return {};
        }
        EXPECT_EQ(parsed->pduType, 0xA2);
        EXPECT_EQ(parsed->requestId, 77u);
        return *parsed;
    }

    std::vector<std::string> eventTexts() {
        std::vector<std::string> texts;
        for (const auto& e : platform::loggedEvents()) {
            EXPECT_EQ(e.id, service::kEventWarning);
            EXPECT_EQ(e.strings.size(), 1u);
            texts.push_back(e.strings.empty() ? "" : e.strings[0]);
        }
        return texts;
    }

    platform::MemoryPort port_;
    std::size_t liveBefore_ = 0;
};

const auto kNicCount = mib({2, 1, 0});           // NIC scalar column 1: 0 without adapters
const auto kThresholdMessage = mib({7, 1, 0});   // an empty text before any report
const auto kEventAction0 = mib({7, 2, 1, 2, 0}); // event action table, column 2, entry 0

// ---- Checksums. ----

Bytes storedSum(const Bytes& bytes) {
    const std::uint16_t sum = internetChecksum(bytes.data(), bytes.size());
    Bytes out(2);
    std::memcpy(out.data(), &sum, 2);
    return out;
}

TEST(InternetChecksum, SumsInEitherByteOrder) {
    // The worked example of RFC 1071.
    EXPECT_EQ(hexText(storedSum(hexBytes("00 01 f2 03 f4 f5 f6 f7"))), "DD F2");
    // An odd last byte counts as followed by a zero byte.
    EXPECT_EQ(hexText(storedSum(hexBytes("00 01 f2"))), "F2 01");
    // The carry out of the top bit comes back in at the bottom.
    EXPECT_EQ(hexText(storedSum(hexBytes("FF FF 00 01"))), "00 01");
    EXPECT_EQ(hexText(storedSum({})), "00 00");
}

TEST(InternetChecksum, ASealedHeaderSumsToAllOnes) {
    Bytes d = requestDatagram(hexBytes("30 00"), false);
    EXPECT_EQ(internetChecksum(d.data(), 20), 0xFFFF);
    d[8] ^= 0x01;
    EXPECT_NE(internetChecksum(d.data(), 20), 0xFFFF);
}

// ---- Headers. ----

TEST(ParseDatagram, KeepsTheAddressingInHostOrder) {
    const Bytes d = requestDatagram(hexBytes("30 00"), true);
    UdpAddressing a;
    ASSERT_EQ(parseDatagram(d, a), DatagramCheck::Ok);
    EXPECT_EQ(a.localAddress, kAgentAddress);
    EXPECT_EQ(a.remoteAddress, kStationAddress);
    EXPECT_EQ(a.localPort, kAgentPort);
    EXPECT_EQ(a.remotePort, kStationPort);
    EXPECT_EQ(a.identification, kIdentification);
    EXPECT_EQ(a.typeOfService, kTypeOfService);
    EXPECT_EQ(a.protocol, 17);
    EXPECT_EQ(a.checksumPresent, 1);
}

struct DamageCase {
    const char* name;
    bool udpChecksum;
    void (*damage)(Bytes& d);
    DatagramCheck expected;
};

const DamageCase kDamages[] = {
    {"HeaderChecksum", false, [](Bytes& d) { d[10] ^= 0x40; }, DatagramCheck::BadHeaderChecksum},
    {"HeaderByte", true, [](Bytes& d) { d[8] ^= 0x01; }, DatagramCheck::BadHeaderChecksum},
    {"UdpChecksum", true, [](Bytes& d) { d[26] ^= 0x01; }, DatagramCheck::BadUdpChecksum},
    // The value of the SET itself: exactly what must never be applied.
    {"MessageByte", true, [](Bytes& d) { d.back() ^= 0x04; }, DatagramCheck::BadUdpChecksum},
    {"UdpLengthPastTheDatagram", true,
     [](Bytes& d) {
         // Right over two zero bytes that never arrived: only the length check can refuse it.
         d.insert(d.end(), {0, 0});
         putBe16(d, 24, be16(d, 24) + 2);
         sealUdp(d);
         d.resize(d.size() - 2);
     },
     DatagramCheck::BadUdpChecksum},
    {"UdpLengthBelowItsHeader", true, [](Bytes& d) { putBe16(d, 24, 4); },
     DatagramCheck::BadUdpChecksum},
    {"HeaderLengthBelowFive", false,
     [](Bytes& d) {
         d[0] = 0x44;
         sealIpHeader(d);
     },
     DatagramCheck::TooShort},
    {"HeaderLengthPastTheBytes", false,
     [](Bytes& d) {
         d[0] = 0x4F;
         d.resize(60);
         sealIpHeader(d);
     },
     DatagramCheck::TooShort},
    {"ShorterThanTheHeaders", false, [](Bytes& d) { d.resize(27); }, DatagramCheck::TooShort},
};

void PrintTo(const DamageCase& c, std::ostream* os) {
    *os << c.name;
}

class DamagedDatagramTest : public PipelineTest,
                            public ::testing::WithParamInterface<DamageCase> {};

Bytes eventActionSet(std::uint32_t action, bool udpChecksum) {
    return requestDatagram(snmpMessage(0xA3, 77, {{kEventAction0, integer(action)}}), udpChecksum);
}

TEST_P(DamagedDatagramTest, IsRecognised) {
    Bytes d = eventActionSet(3, GetParam().udpChecksum);
    GetParam().damage(d);
    UdpAddressing a;
    EXPECT_EQ(parseDatagram(d, a), GetParam().expected);
}

TEST_P(DamagedDatagramTest, IsDroppedWithoutApplyingTheSet) {
    const std::int32_t before = config::agentSettings.events[0].action.load();
    Bytes d = eventActionSet(static_cast<std::uint32_t>(before) ^ 0x0F, GetParam().udpChecksum);
    GetParam().damage(d);
    EXPECT_TRUE(exchange(d).empty());
    EXPECT_TRUE(platform::loggedEvents().empty());
    EXPECT_EQ(config::agentSettings.events[0].action.load(), before);
}

INSTANTIATE_TEST_SUITE_P(Cases, DamagedDatagramTest, ::testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PipelineTest, AnIntactSetIsAppliedAndEchoed) {
    const std::int32_t wanted = config::agentSettings.events[0].action.load() ^ 0x0F;
    const Reply r = ask(0xA3, {{kEventAction0, integer(static_cast<std::uint32_t>(wanted))}}, true);
    EXPECT_EQ(config::agentSettings.events[0].action.load(), wanted);
    EXPECT_EQ(r.errorStatus, 0u);
    ASSERT_EQ(r.bindings.size(), 1u);
    EXPECT_EQ(r.bindings[0].oid, kEventAction0);
    EXPECT_EQ(r.bindings[0].tag, 0x02);
    EXPECT_EQ(unsignedValue(r.bindings[0].value), static_cast<std::uint32_t>(wanted));
}

// ---- A whole exchange. ----

class ReplyHeadersTest : public PipelineTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ReplyHeadersTest, AnswerTheRequestsHeaders) {
    const bool udpChecksum = GetParam();
    const Bytes message = snmpMessage(0xA0, 77, {{kNicCount}});
    const Bytes reply = exchange(requestDatagram(message, udpChecksum));
    ASSERT_GT(reply.size(), 28u);
    const std::size_t n = reply.size() - 28;

    EXPECT_EQ(reply[0], 0x45);
    EXPECT_EQ(reply[1], kTypeOfService);
    EXPECT_EQ(be16(reply, 2), n + 28);
    EXPECT_EQ(be16(reply, 4), kIdentification);
    EXPECT_EQ(be16(reply, 6), 0);
    EXPECT_EQ(reply[8], 254);
    EXPECT_EQ(reply[9], 17);
    EXPECT_EQ(referenceSum(reply, 0, 20), 0xFFFF);
    EXPECT_EQ(hexText(reply.data() + 12, 4), "C0 00 02 02");
    EXPECT_EQ(hexText(reply.data() + 16, 4), "C0 00 02 01");

    EXPECT_EQ(be16(reply, 20), kAgentPort);
    EXPECT_EQ(be16(reply, 22), kStationPort);
    EXPECT_EQ(be16(reply, 24), n + 8);
    if (udpChecksum) {
        EXPECT_NE(be16(reply, 26), 0);
        EXPECT_EQ(udpReferenceSum(reply), 0xFFFF);
    } else {
        EXPECT_EQ(be16(reply, 26), 0);
    }

    const auto r = parseReply(Bytes(reply.begin() + 28, reply.end()));
    ASSERT_TRUE(r.has_value()) << hexText(reply);
    EXPECT_EQ(r->pduType, 0xA2);
    EXPECT_EQ(r->requestId, 77u);
    EXPECT_EQ(r->errorStatus, 0u);
    EXPECT_EQ(r->errorIndex, 0u);
    ASSERT_EQ(r->bindings.size(), 1u);
    EXPECT_EQ(r->bindings[0].oid, kNicCount);
    EXPECT_EQ(r->bindings[0].tag, 0x02);
    EXPECT_EQ(unsignedValue(r->bindings[0].value), 0u);
    EXPECT_TRUE(platform::loggedEvents().empty());
}

INSTANTIATE_TEST_SUITE_P(UdpChecksum, ReplyHeadersTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Present" : "Absent"; });

TEST_F(PipelineTest, RunsOfGroupsABAAreDispatchedThreeTimes) {
    // Were the two NIC bindings dispatched as one run, the NIC group would be asked for the
    // threshold message and answer noSuchName.
    const Reply r = ask(0xA0, {{kNicCount}, {kThresholdMessage}, {kNicCount}});
    EXPECT_EQ(r.errorStatus, 0u);
    ASSERT_EQ(r.bindings.size(), 3u);
    EXPECT_EQ(r.bindings[0].tag, 0x02);
    EXPECT_EQ(r.bindings[1].tag, 0x04);
    EXPECT_TRUE(r.bindings[1].value.empty());
    EXPECT_EQ(r.bindings[2].tag, 0x02);
    EXPECT_EQ(r.bindings[1].oid, kThresholdMessage);
}

TEST_F(PipelineTest, ABindingWithoutAGroupEndsTheScanWithNoSuchName) {
    const auto nowhere = mib({99, 1, 0});
    const Reply r = ask(0xA0, {{kNicCount}, {nowhere}, {kNicCount}});
    EXPECT_EQ(r.errorStatus, 2u);
    EXPECT_EQ(r.errorIndex, 2u);
    ASSERT_EQ(r.bindings.size(), 3u);
    // The scan stopped at the second binding: the run open then was never dispatched, and the
    // bindings come back as they were decoded.
    for (const ReplyBinding& b : r.bindings)
        EXPECT_EQ(b.tag, 0x05);
    EXPECT_EQ(r.bindings[1].oid, nowhere);
    EXPECT_EQ(r.bindings[2].oid, kNicCount);
}

TEST_F(PipelineTest, GetNextBeforeAGroupStartsAtItsFirstColumn) {
    const Reply r = ask(0xA1, {{mib({7, 2, 1})}});
    EXPECT_EQ(r.errorStatus, 0u);
    ASSERT_EQ(r.bindings.size(), 1u);
    EXPECT_EQ(r.bindings[0].oid, mib({7, 2, 1, 1, 0}));
    EXPECT_EQ(r.bindings[0].tag, 0x02);
    EXPECT_EQ(unsignedValue(r.bindings[0].value), config::agentSettings.events[0].number);
}

TEST_F(PipelineTest, AGroupThatAnswersNothingLeavesTheBindingAsDecoded) {
    const auto row = mib({4, 23, 1, 1, 0});
    const Reply r = ask(0xA0, {{row}});
    EXPECT_EQ(r.errorStatus, 0u);
    ASSERT_EQ(r.bindings.size(), 1u);
    EXPECT_EQ(r.bindings[0].oid, row);
    EXPECT_EQ(r.bindings[0].tag, 0x05);
}

// ---- Requests that get no reply. ----

struct UndecodableCase {
    const char* name;
    Bytes message;
};

void PrintTo(const UndecodableCase& c, std::ostream* os) {
    *os << c.name;
}

class UndecodableTest : public PipelineTest,
                        public ::testing::WithParamInterface<UndecodableCase> {};

TEST_P(UndecodableTest, GetsAnEventAndNoReply) {
    EXPECT_TRUE(exchange(requestDatagram(GetParam().message, true)).empty());
    EXPECT_EQ(eventTexts(), std::vector<std::string>{"Failed to decode: "});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UndecodableTest,
    ::testing::Values(
        UndecodableCase{"WrongCommunity", snmpMessage(0xA0, 1, {{kNicCount}}, "public")},
        UndecodableCase{"EmptyBindingList", snmpMessage(0xA0, 1, {})},
        UndecodableCase{"GetWithAValue", snmpMessage(0xA0, 1, {{kNicCount, integer(5)}})},
        UndecodableCase{"NotAMessage", hexBytes("01 02 03 04")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PipelineTest, AResponseTooLargeToEncodeGetsAnEventAndNoReply) {
    // Six 80-character Programs make a response of about 600 bytes from a small request.
    const std::string program(80, 'p');
    for (std::uint32_t first : {0u, 4u}) {
        std::vector<Binding> sets;
        for (std::uint32_t e = first; e < first + 4 && e < 6; ++e)
            sets.push_back({mib({7, 2, 1, 3, e}), octets(program)});
        EXPECT_EQ(ask(0xA3, sets).errorStatus, 0u);
    }
    std::vector<Binding> gets;
    for (std::uint32_t e = 0; e < 6; ++e)
        gets.push_back({mib({7, 2, 1, 3, e})});
    EXPECT_TRUE(exchange(requestDatagram(snmpMessage(0xA0, 1, gets), false)).empty());
    const auto texts = eventTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].rfind("Warning Failed to encode: ", 0), 0u) << texts[0];
}

// ---- Allocation failures. ----

struct AllocationCase {
    int failingAllocation; // counted from the request record
    const char* event;     // nullptr: no event
};

void PrintTo(const AllocationCase& c, std::ostream* os) {
    *os << "allocation " << c.failingAllocation;
}

class AllocationFailureTest : public PipelineTest,
                              public ::testing::WithParamInterface<AllocationCase> {};

TEST_P(AllocationFailureTest, ReleasesEverythingAndSendsNothing) {
    FrameRequest* request =
        frameRequest(requestDatagram(snmpMessage(0xA0, 1, {{kNicCount}}), true));
    platform::failHeapAllocationAfter(GetParam().failingAllocation);
    processFrame(request);
    platform::failHeapAllocationAfter(-1);
    EXPECT_TRUE(port_.takeWritten().empty());
    if (GetParam().event == nullptr) {
        EXPECT_TRUE(platform::loggedEvents().empty());
    } else {
        // The last system error is the heap's "out of memory".
        EXPECT_EQ(eventTexts(),
                  std::vector<std::string>{platform::formatText(GetParam().event, ENOMEM)});
    }
}

INSTANTIATE_TEST_SUITE_P(Blocks, AllocationFailureTest,
                         ::testing::Values(AllocationCase{0, "Failed to malloc Pdu: %d"},
                                           AllocationCase{1, "Failed to malloc: %d"},
                                           AllocationCase{25, "Failed to malloc: %d"},
                                           AllocationCase{26, "Malloc of psnmpBuf failed: %d "},
                                           AllocationCase{27, "Malloc of outBuf failed: %d"},
                                           AllocationCase{28, "Malloc of SLIPBuf failed: %d"},
                                           AllocationCase{29, nullptr}), // the reply datagram
                         [](const auto& info) {
                             return "Allocation" + std::to_string(info.param.failingAllocation);
                         });

// ---- Reply sizes. ----

TEST(ReplyBlocks, HoldTheLargestResponseWithEveryByteEscaped) {
    const Bytes message(snmp::kMaxResponseSize, kSlipEnd);
    UdpAddressing a;
    a.checksumPresent = 1;
    auto* datagram = buildReplyDatagram(message, a);
    ASSERT_NE(datagram, nullptr);
    Bytes frame(kSlipBufSize);
    const std::size_t n =
        slipEncode(std::span<const std::uint8_t>(datagram, message.size() + kHeadersSize), frame);
    EXPECT_GT(n, 2 * message.size());
    EXPECT_LE(n, kSlipBufSize);
    frame.resize(n);
    Bytes back(kReplyDatagramSize);
    EXPECT_EQ(slipDecode(frame, back), kReplyDatagramSize);
    EXPECT_EQ(std::memcmp(back.data() + kHeadersSize, message.data(), message.size()), 0);
    service::guardedFree(datagram);

    EXPECT_EQ(buildReplyDatagram(Bytes(snmp::kMaxResponseSize + 1, 0), a), nullptr);
}

} // namespace
} // namespace farlink::link
