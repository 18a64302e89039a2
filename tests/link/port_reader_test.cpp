// The port reader cuts frames out of the byte stream and drives the modem.
#include "link/port_reader.h"

#include "link/slip.h"
#include "platform/event_log.h"
#include "platform/memory_port.h"
#include "platform/threads.h"
#include "service/guarded.h"
#include "service/stop_flag.h"
#include "support/station.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace farlink::link {
namespace {

using testing::Bytes;
using testing::cat;
using testing::frame;

// Counts the reads so a test can tell which read cycle handed a frame over.
class CountingPort final : public platform::SerialPort {
  public:
    platform::MemoryPort line;
    std::atomic<int> reads{0};

    bool getState(platform::CommState& s) override { return line.getState(s); }
    bool setState(const platform::CommState& s) override { return line.setState(s); }
    bool setupQueues(std::uint32_t i, std::uint32_t o) override { return line.setupQueues(i, o); }
    bool escape(platform::CommEscape f) override { return line.escape(f); }
    bool setTimeouts(const platform::CommTimeouts& t) override { return line.setTimeouts(t); }
    bool modemStatus(std::uint32_t& s) override { return line.modemStatus(s); }
    bool setEventMask(std::uint32_t m) override { return line.setEventMask(m); }
    platform::WaitOutcome waitEvent(std::uint32_t& e, int t) override {
        return line.waitEvent(e, t);
    }
    bool read(std::uint8_t* b, std::size_t n, std::size_t& got) override {
        const bool ok = line.read(b, n, got);
        if (got > 0) ++reads;
        return ok;
    }
    bool write(const std::uint8_t* b, std::size_t n, std::size_t& w) override {
        return line.write(b, n, w);
    }
    std::string deviceName() const override { return "counting"; }
};

struct Delivered {
    Bytes frame;
    int readCycle;
};

std::mutex deliveredMutex;
std::vector<Delivered> delivered;
CountingPort* currentPort = nullptr;

// Takes the frame as the pipeline would, and releases it.
void collect(FrameRequest* request) {
    {
        std::lock_guard lock(deliveredMutex);
        delivered.push_back({Bytes(request->frame, request->frame + request->frameLength),
                             currentPort->reads.load()});
    }
    service::guardedFree(request->frame);
    service::guardedFree(request);
}

class PortReaderTest : public ::testing::Test {
  protected:
    CountingPort port;
    PortContext context;
    std::thread reader;

    void SetUp() override {
        service::stopFlag = 0;
        platform::useMemoryEventLog();
        platform::clearLoggedEvents();
        delivered.clear();
        currentPort = &port;
    }
    void start(char modem = 'N', const std::string& init = "ATZ") {
        PortReaderParams params;
        params.port = &port;
        params.modem = modem;
        init.copy(params.initString.data(), params.initString.size() - 1);
        reader = std::thread([this, params] { portReader(params, context, collect, false); });
    }
    void TearDown() override {
        service::stopFlag = 1;
        if (reader.joinable()) reader.join();
        EXPECT_EQ(service::guardedLiveBlocks(), 0u);
    }
    // Waits (without any time limit that could fail the test on a slow machine) for n frames,
    // giving up only after a generous bound so a broken reader cannot hang the suite.
    std::vector<Delivered> waitFrames(std::size_t n) {
        for (int i = 0; i < 3000; ++i) {
            {
                std::lock_guard lock(deliveredMutex);
                if (delivered.size() >= n) return delivered;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::lock_guard lock(deliveredMutex);
        return delivered;
    }
};

TEST_F(PortReaderTest, FrameSplitOverSeveralReadsIsHandedOverWhole) {
    start();
    const Bytes frame = testing::frame({1, 2, 0xC0, 3, 4, 0xDB, 5});
    port.line.feed(Bytes(frame.begin(), frame.begin() + 3));
    while (port.reads.load() < 1)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    port.line.feed(Bytes(frame.begin() + 3, frame.end()));
    const auto got = waitFrames(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].frame, frame);
}

TEST_F(PortReaderTest, EveryFrameHeldIsAnsweredInTheSameCycle) {
    start();
    port.line.feed(cat({frame({1}), frame({2, 2}), frame({3, 3, 3})}));
    const auto got = waitFrames(3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].frame, frame({1}));
    EXPECT_EQ(got[2].frame, frame({3, 3, 3}));
    EXPECT_EQ(got[0].readCycle, got[2].readCycle) << "a held frame waited for another read";
}

TEST_F(PortReaderTest, LineNoiseAndEmptyFramesBeforeAFrameAreSkipped) {
    start();
    // Modem chatter before the first END, then a doubled END, then two frames whose closing
    // END is followed straight by the next opening END.
    port.line.feed(cat({{'O', 'K', '\r', '\n'}, {0xC0}, frame({7, 7}), frame({8})}));
    const auto got = waitFrames(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].frame, frame({7, 7}));
    EXPECT_EQ(got[1].frame, frame({8}));
}

TEST_F(PortReaderTest, FrameLongerThanItsBlockIsDroppedAndTheNextOneServed) {
    start();
    const Bytes big = frame(Bytes(600, 0x41));
    port.line.feed(cat({big, frame({9, 9})}));
    const auto got = waitFrames(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].frame, frame({9, 9}));
    const auto events = platform::loggedEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].id, 0x40060004u);
}

TEST_F(PortReaderTest, FrameOfExactlyTheBlockSizeIsServed) {
    start();
    const Bytes exact = frame(Bytes(kFrameBlockSize - 2, 0x41));
    ASSERT_EQ(exact.size(), kFrameBlockSize);
    port.line.feed(exact);
    const auto got = waitFrames(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].frame, exact);
}

TEST_F(PortReaderTest, PartialFrameFillingTheBufferIsDroppedAndReadingGoesOn) {
    start();
    Bytes endless(kReceiveBufferSize + 100, 0x41);
    endless[0] = kSlipEnd;
    port.line.feed(endless);
    port.line.feed(frame({5}));
    const auto got = waitFrames(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].frame, frame({5}));
    EXPECT_GE(platform::loggedEvents().size(), 1u);
}

TEST_F(PortReaderTest, ModemGetsItsInitStringWhenDsrIsOnAndWhenAskedAgain) {
    const std::string init39(39, 'A');
    port.line.setDsr(true);
    start('Y', init39);
    ASSERT_TRUE(port.line.waitWritten(41, 30000));
    Bytes expected(init39.begin(), init39.end());
    expected.push_back('\r');
    expected.push_back('\n');
    EXPECT_EQ(port.line.takeWritten(), expected);

    context.reinitialise = 'Y';
    ASSERT_TRUE(port.line.waitWritten(82, 30000));
    EXPECT_EQ(port.line.takeWritten(), expected);
    EXPECT_EQ(context.reinitialise.load(), 'N');
}

TEST_F(PortReaderTest, ModemOffOrUnreadableSendsNothingAndReadingGoesOn) {
    port.line.setDsr(false);
    start('Y');
    port.line.feed(frame({4}));
    ASSERT_EQ(waitFrames(1).size(), 1u);
    EXPECT_TRUE(port.line.takeWritten().empty());
}

TEST_F(PortReaderTest, UnreadableModemStatusSkipsOnlyThatCycle) {
    port.line.failModemStatus(true);
    start('Y');
    port.line.feed(frame({6}));
    ASSERT_EQ(waitFrames(1).size(), 1u);
    EXPECT_TRUE(port.line.takeWritten().empty());
}

// A GetRequest for .25.2.1.0 in its IPv4 and UDP headers (UDP checksum 0), as a station sends it.
const Bytes kGetDatagram =
    testing::udpDatagram(testing::snmpMessage(testing::kGetRequest, 7, {{testing::mib({2, 1, 0})}}),
                         {.sourcePort = 40000});

// Counts the reply frames written so far (each is END ... END).
std::size_t countReplies(const Bytes& written) {
    std::size_t ends = 0;
    for (std::uint8_t b : written) ends += b == kSlipEnd;
    return ends / 2;
}

TEST_F(PortReaderTest, EveryFrameAfterLineNoiseAndAResynchronisingEndIsAnswered) {
    PortReaderParams params;
    params.port = &port;
    reader = std::thread([this, params] { portReader(params, context, processFrame, false); });

    std::mt19937 random(20261206);
    constexpr int kFrames = 40;
    for (int i = 0; i < kFrames; ++i) {
        // Noise of any bytes, ENDs and escapes included, some of it long enough to overflow a
        // frame block, then one END that ends whatever the noise opened.
        Bytes noise(random() % (i % 5 == 0 ? 900 : 60));
        for (std::uint8_t& b : noise) b = static_cast<std::uint8_t>(random());
        noise.push_back(kSlipEnd);
        port.line.feed(cat({noise, frame(kGetDatagram)}));
    }
    Bytes written;
    for (int i = 0; i < 3000 && countReplies(written) < kFrames; ++i) {
        port.line.waitWritten(written.size() + 1, 10);
        const Bytes more = port.line.takeWritten();
        written.insert(written.end(), more.begin(), more.end());
    }
    EXPECT_EQ(countReplies(written), static_cast<std::size_t>(kFrames));
    service::stopFlag = 1;
    reader.join();
    EXPECT_EQ(service::guardedLiveBlocks(), 0u) << "every block of every frame is released";
}

TEST(ModemMonitor, DsrChangeSendsTheInitStringAndAsksTheReaderToo) {
    service::stopFlag = 0;
    platform::MemoryPort port;
    PortContext context;
    context.port = &port;
    std::string("ATZ").copy(context.initString.data(), 3);
    std::thread monitor([&] { modemMonitor(context); });
    // The monitor may not have set its event mask yet: toggle DSR until it answers.
    bool answered = false;
    for (int i = 0; i < 20 && !answered; ++i) {
        port.setDsr(i % 2 == 1);
        answered = port.waitWritten(5, 5000);
    }
    ASSERT_TRUE(answered);
    const Bytes written = port.takeWritten();
    EXPECT_EQ(Bytes(written.begin(), written.begin() + 5), (Bytes{'A', 'T', 'Z', '\r', '\n'}));
    // The monitor raises the flag just after its write: wait for it, within a generous bound.
    for (int i = 0; i < 3000 && context.reinitialise.load() != 'Y'; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(context.reinitialise.load(), 'Y');
    service::stopFlag = 1;
    monitor.join();
}

} // namespace
} // namespace farlink::link
