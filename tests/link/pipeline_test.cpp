// Frames go in through processFrame; replies are compared byte for byte with a station's.
#include "link/pipeline.h"

#include "link/work_area.h"

#include "link/slip.h"
#include "platform/console.h"
#include "platform/event_log.h"
#include "platform/memory.h"
#include "platform/memory_port.h"
#include "runtime/agent_settings.h"
#include "runtime/events.h"
#include "runtime/guarded.h"
#include "support/station.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace farlink::link {
namespace {

using namespace farlink::testing;

constexpr std::uint8_t kTypeOfService = 0x10;

const auto kNicCount = mib({2, 1, 0});           // NIC scalar column 1: 0 without adapters
const auto kThresholdMessage = mib({7, 1, 0});   // an empty text before any report
const auto kEventAction0 = mib({7, 2, 1, 2, 0}); // event action table, column 2, entry 0

Bytes requestDatagram(const Bytes& message, bool udpChecksum) {
    return udpDatagram(message, {.typeOfService = kTypeOfService, .udpChecksum = udpChecksum});
}

// The reply a station expects: addresses and ports swapped, the request's identification and
// type of service kept, a time to live of 254.
Bytes replyDatagram(const Bytes& message, bool udpChecksum) {
    return udpDatagram(message, {kAgentAddress, kStationAddress, kAgentPort, kStationPort, 0x1234,
                                 kTypeOfService, 254, udpChecksum});
}

class PipelineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::useMemoryEventLog();
        platform::clearLoggedEvents();
        runtime::resetEventLimits();
        platform::setConsoleQuiet(true);
        liveBefore_ = runtime::guardedLiveBlocks();
    }
    void TearDown() override {
        platform::failHeapAllocationAfter(-1);
        // Every path releases the request and every block it made.
        EXPECT_EQ(runtime::guardedLiveBlocks(), liveBefore_);
    }

    Bytes exchange(const Bytes& datagram) {
        processFrame(testing::frameRequest(frame(datagram), &port_));
        const Bytes written = port_.takeWritten();
        if (written.empty()) return {};
        EXPECT_EQ(written.front(), kSlipEnd);
        EXPECT_EQ(written.back(), kSlipEnd);
        Bytes reply(written.size());
        reply.resize(slipDecode(written, reply));
        EXPECT_FALSE(reply.empty()) << hexText(written);
        return reply;
    }

    // Without a UDP checksum: the damage table below runs the intact request with one.
    void expectReply(std::uint8_t pduType, const std::vector<Binding>& bindings,
                     const std::vector<Binding>& answer, std::uint32_t errorStatus = 0,
                     std::uint32_t errorIndex = 0) {
        const Bytes reply = exchange(requestDatagram(snmpMessage(pduType, 77, bindings), false));
        const Bytes expected = replyDatagram(
            snmpMessage(kGetResponse, 77, answer, "kestrl", errorStatus, errorIndex), false);
        EXPECT_EQ(hexText(reply), hexText(expected));
    }

    std::vector<std::string> eventTexts() {
        std::vector<std::string> texts;
        for (const auto& e : platform::loggedEvents()) {
            EXPECT_EQ(e.id, runtime::kEventWarning);
            EXPECT_EQ(e.strings.size(), 1u);
            texts.push_back(e.strings.empty() ? "" : e.strings[0]);
        }
        return texts;
    }

    platform::MemoryPort port_;
    std::size_t liveBefore_ = 0;
};

struct DamageCase {
    const char* name;
    bool udpChecksum;
    DatagramCheck expected;
    void (*damage)(Bytes& d);
};

const DamageCase kDamages[] = {
    {"Intact", true, DatagramCheck::Ok, [](Bytes&) {}},
    {"HeaderByte", true, DatagramCheck::BadHeaderChecksum, [](Bytes& d) { d[8] ^= 0x01; }},
    // The value of the SET itself: exactly what must never be applied.
    {"MessageByte", true, DatagramCheck::BadUdpChecksum, [](Bytes& d) { d.back() ^= 0x04; }},
    // Right over two zero bytes that never arrived: only the length check can refuse it.
    {"UdpLengthPastTheDatagram", true, DatagramCheck::BadUdpChecksum,
     [](Bytes& d) {
         d.insert(d.end(), {0, 0});
         putBe16(d, 24, d.size() - 20);
         sealUdp(d);
         d.resize(d.size() - 2);
     }},
    {"UdpLengthBelowItsHeader", true, DatagramCheck::BadUdpChecksum,
     [](Bytes& d) { putBe16(d, 24, 4); }},
    {"HeaderLengthBelowFive", false, DatagramCheck::TooShort,
     [](Bytes& d) {
         d[0] = 0x44;
         sealIpHeader(d);
     }},
    // Options would move the message from where the reply expects it.
    {"HeaderWithOptions", false, DatagramCheck::HeaderOptions,
     [](Bytes& d) {
         d[0] = 0x46;
         d.insert(d.begin() + 20, {1, 1, 1, 1});
         putBe16(d, 2, d.size());
         sealIpHeader(d);
     }},
    // A TCP segment with the same bytes was once answered as if it were UDP.
    {"Tcp", false, DatagramCheck::NotUdp,
     [](Bytes& d) {
         d[9] = 6;
         sealIpHeader(d);
     }},
    {"MoreFragments", false, DatagramCheck::Fragment,
     [](Bytes& d) {
         d[6] |= 0x20;
         sealIpHeader(d);
     }},
    {"TotalLengthLonger", false, DatagramCheck::LengthMismatch,
     [](Bytes& d) {
         putBe16(d, 2, d.size() + 1);
         sealIpHeader(d);
     }},
    {"ShorterThanTheHeaders", false, DatagramCheck::TooShort, [](Bytes& d) { d.resize(27); }}};

class DamagedDatagramTest : public PipelineTest,
                            public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedDatagramTest, IsDroppedWithoutApplyingTheSet) {
    std::atomic<std::int32_t>& action = runtime::agentSettings.events[0].action;
    const std::int32_t before = action.load();
    const auto wanted = static_cast<std::uint32_t>(before) ^ 0x0F;
    const std::vector<Binding> set = {{kEventAction0, integer(wanted)}};
    Bytes d = requestDatagram(snmpMessage(kSetRequest, 77, set), GetParam().udpChecksum);
    GetParam().damage(d);
    UdpAddressing addressing;
    EXPECT_EQ(parseDatagram(d, addressing), GetParam().expected);
    const Bytes reply = exchange(d);
    // A dropped datagram is reported once.
    const std::vector<std::string> events = eventTexts();
    EXPECT_EQ(events.size(), GetParam().expected == DatagramCheck::Ok ? 0u : 1u);
    if (GetParam().expected == DatagramCheck::Ok) {
        EXPECT_EQ(action.load(), static_cast<std::int32_t>(wanted));
        EXPECT_EQ(hexText(reply), hexText(replyDatagram(snmpMessage(kGetResponse, 77, set), true)));
    } else {
        EXPECT_TRUE(reply.empty());
        EXPECT_EQ(action.load(), before);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DamagedDatagramTest, ::testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PipelineTest, BindingsGoToTheirGroupsRunByRun) {
    // A B A: three runs, or the NIC group would be asked for the threshold message.
    expectReply(
        kGetRequest, {{kNicCount}, {kThresholdMessage}, {kNicCount}},
        {{kNicCount, integer(0)}, {kThresholdMessage, octets("")}, {kNicCount, integer(0)}});
    // A binding no group owns ends the scan: the bindings come back as they were decoded.
    const std::vector<Binding> bindings = {{kNicCount}, {mib({99, 1, 0})}, {kNicCount}};
    expectReply(kGetRequest, bindings, bindings, 2, 2);
}

TEST_F(PipelineTest, AResponseTooLargeToEncodeGoesBackAsTooBigWithTheRequestsBindings) {
    // Six 80-character Programs make a response of about 600 bytes from a small request.
    for (std::uint32_t first : {0u, 3u}) {
        std::vector<Binding> sets;
        for (std::uint32_t e = first; e < first + 3; ++e)
            sets.push_back({mib({7, 2, 1, 3, e}), octets(std::string(80, 'p'))});
        expectReply(kSetRequest, sets, sets);
    }
    // A GetNext for the six: the answer carries the names as asked with NULL values.
    std::vector<Binding> getNexts = {{mib({7, 2, 1, 3})}};
    for (std::uint32_t e = 0; e < 5; ++e)
        getNexts.push_back({mib({7, 2, 1, 3, e})});
    expectReply(kGetNextRequest, getNexts, getNexts, snmp::kTooBig, 0);
    EXPECT_TRUE(eventTexts().empty());
}

TEST_F(PipelineTest, AMessageWithinItsLimitIsAnsweredWhateverEscapesItsFrameNeeds) {
    // Every byte C0 costs an escape on the line: a community of 400 of them makes a frame of
    // about 860 bytes around a message of about 440.
    const std::string community = "kestrl" + std::string(400, '\xC0');
    const Bytes request =
        requestDatagram(snmpMessage(kGetRequest, 77, {{kNicCount}}, community), false);
    ASSERT_LE(request.size(), kOutBufSize);
    ASSERT_GT(frame(request).size(), 850u);
    EXPECT_EQ(
        hexText(exchange(request)),
        hexText(replyDatagram(snmpMessage(kGetResponse, 77, {{kNicCount, integer(0)}}), false)));

    // A datagram longer than the headers and the longest message is refused whole, and said so.
    EXPECT_TRUE(exchange(requestDatagram(Bytes(600, 0x30), false)).empty());
    EXPECT_EQ(eventTexts(),
              std::vector<std::string>{"Frame dropped: its datagram of 628 bytes exceeds 540"});
}

TEST_F(PipelineTest, AReplyWhoseUdpChecksumComputesToZeroCarriesAllOnes) {
    // The station's port is the one field of the reply the test may choose; find the one for
    // which the reply's checksum computes to 0, which the station's sealing writes as FF FF.
    const std::vector<Binding> get = {{kNicCount}};
    const Bytes answer = snmpMessage(kGetResponse, 77, {{kNicCount, integer(0)}});
    auto replyTo = [&](std::uint16_t port) {
        return udpDatagram(answer, {kAgentAddress, kStationAddress, kAgentPort, port, 0x1234,
                                    kTypeOfService, 254, true});
    };
    std::uint32_t port = 1;
    while (port <= 0xFFFF && !(replyTo(port)[26] == 0xFF && replyTo(port)[27] == 0xFF))
        ++port;
    ASSERT_LE(port, 0xFFFFu);
    const auto stationPort = static_cast<std::uint16_t>(port);

    const Bytes reply = exchange(udpDatagram(
        snmpMessage(kGetRequest, 77, get),
        {.sourcePort = stationPort, .typeOfService = kTypeOfService, .udpChecksum = true}));
    ASSERT_GE(reply.size(), kHeadersSize);
    // 0 would tell the station that the reply carries no checksum at all.
    EXPECT_EQ(hexText(reply.data() + 26, 2), "FF FF");
    EXPECT_EQ(hexText(reply), hexText(replyTo(stationPort)));
    UdpAddressing addressing;
    EXPECT_EQ(parseDatagram(reply, addressing), DatagramCheck::Ok);
}

TEST_F(PipelineTest, AWorkAreaThatCannotBeMadeDropsTheFrameAndTheNextOneMakesIt) {
    const Bytes request = requestDatagram(snmpMessage(kGetRequest, 1, {{kNicCount}}), true);
    releaseWorkArea();
    platform::failHeapAllocationAfter(0);
    answerFrame(frame(request), &port_);
    platform::failHeapAllocationAfter(-1);
    EXPECT_TRUE(port_.takeWritten().empty());
    EXPECT_EQ(eventTexts(), std::vector{platform::formatText("Failed to malloc Pdu: %d", ENOMEM)});
    EXPECT_FALSE(exchange(request).empty());
}

TEST_F(PipelineTest, ARequestLeavesNothingBehindForTheNext) {
    // A long SET, then a short GET and a wrong community in the same area: each answer holds
    // only what its own request carried.
    const std::vector<Binding> sets = {{mib({7, 2, 1, 3, 0}), octets(std::string(80, 'p'))},
                                       {mib({7, 2, 1, 3, 1}), octets(std::string(80, 'q'))}};
    expectReply(kSetRequest, sets, sets);
    expectReply(kGetRequest, {{kNicCount}}, {{kNicCount, integer(0)}});
    EXPECT_TRUE(
        exchange(requestDatagram(snmpMessage(kGetRequest, 2, {{kNicCount}}, "kestr"), false))
            .empty());
    expectReply(kGetRequest, {{kNicCount}, {kNicCount}},
                {{kNicCount, integer(0)}, {kNicCount, integer(0)}});
}

TEST(WorkAreaGuards, AnOverrunIsReportedWithWhereItHappenedAndMended) {
    platform::useMemoryEventLog();
    platform::clearLoggedEvents();
    auto area = std::make_unique<WorkArea>();
    prepareWorkArea(*area);
    EXPECT_EQ(checkGuards(*area), 0);
    EXPECT_EQ(area->pdu.bindings[24], &area->slots[24].binding);
    // A group routine that writes one byte past a binding's value.
    area->slots[3].after.bytes[0] = 'x';
    area->afterReplyFrame.bytes[9] = 0;
    EXPECT_EQ(checkGuards(*area), 2);
    const auto events = platform::loggedEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].strings[0],
              "Work area overrun: the guard after a variable binding is damaged");
    EXPECT_EQ(events[1].strings[0],
              "Work area overrun: the guard after the reply frame is damaged");
    EXPECT_EQ(checkGuards(*area), 0) << "told once, then mended";
}

TEST(ReplyBlocks, HoldTheLargestResponseWithEveryByteEscaped) {
    const Bytes message(snmp::kMaxResponseSize, kSlipEnd);
    UdpAddressing a;
    a.checksumPresent = 1;
    Bytes datagram(kReplyDatagramSize);
    ASSERT_EQ(buildReplyDatagram(message, a, datagram), kReplyDatagramSize);
    Bytes frame(kSlipBufSize);
    const std::size_t n = slipEncode(datagram, frame);
    EXPECT_GT(n, 2 * message.size());
    EXPECT_LE(n, kSlipBufSize);
    frame.resize(n);
    Bytes back(kReplyDatagramSize);
    EXPECT_EQ(slipDecode(frame, back), kReplyDatagramSize);
    EXPECT_EQ(std::memcmp(back.data() + kHeadersSize, message.data(), message.size()), 0);

    EXPECT_EQ(buildReplyDatagram(Bytes(snmp::kMaxResponseSize + 1, 0), a, datagram), 0u);
}

} // namespace
} // namespace farlink::link
