// The port reader cuts frames out of the byte stream and drives the modem.
#include "link/port_reader.h"

#include "link/slip.h"
#include "platform/event_log.h"
#include "platform/memory_port.h"
#include "runtime/events.h"
#include "runtime/guarded.h"
#include "runtime/stop_flag.h"
#include "support/station.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace farlink::link {
namespace {

using namespace farlink::testing;

// Waits until the condition holds, without any time limit a slow machine could fail: only a
// generous bound, so that a broken reader cannot hang the suite.
bool eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 3000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

// A line that hands each chunk over in a read of its own, and keeps what is written to it and the
// frames handed on, each with the number of reads made by then (same number: same read cycle).
class ScriptedPort final : public DiscardingPort {
  public:
    std::deque<Bytes> chunks;
    std::atomic<int> reads{0};
    std::atomic<int> dsr{-1}; // 1 on, 0 off, -1 the modem status cannot be read
    Bytes written;
    std::atomic<std::size_t> writes{0};
    std::vector<std::pair<Bytes, int>> frames;
    std::atomic<std::size_t> frameCount{0};

    bool read(std::uint8_t* buffer, std::size_t size, std::size_t& got) override {
        ++reads;
        std::this_thread::sleep_for(std::chrono::milliseconds(1)); // an idle line does not spin
        got = 0;
        if (chunks.empty()) return true;
        Bytes& chunk = chunks.front();
        got = std::min(size, chunk.size());
        std::copy_n(chunk.begin(), got, buffer);
        chunk.erase(chunk.begin(), chunk.begin() + static_cast<long>(got));
        if (chunk.empty()) chunks.pop_front();
        return true;
    }
    bool write(const std::uint8_t* bytes, std::size_t size, std::size_t& n) override {
        written.insert(written.end(), bytes, bytes + size);
        ++writes;
        n = size;
        return true;
    }
    bool modemStatus(std::uint32_t& status) override {
        status = dsr == 1 ? platform::kModemStatusDsr : 0;
        return dsr >= 0;
    }
};

// The sink: keeps a copy of each frame, which is the reader's only for the call.
void collect(std::span<const std::uint8_t> frame, platform::PortHandle port, std::uint32_t) {
    auto& line = *static_cast<ScriptedPort*>(port);
    line.frames.push_back({Bytes(frame.begin(), frame.end()), line.reads});
    ++line.frameCount;
}

class PortReaderTest : public ::testing::Test {
  protected:
    ScriptedPort port;
    PortContext context;
    std::thread reader;

    void start(char modem = 'N', const std::string& init = "ATZ") {
        platform::useMemoryEventLog();
        platform::clearLoggedEvents();
        runtime::resetEventLimits();
        runtime::stopFlag = 0;
        PortReaderParams params;
        params.port = &port;
        params.modem = modem;
        init.copy(params.initString.data(), params.initString.size() - 1);
        reader = std::thread([this, params] { portReader(params, context, collect, false); });
    }
    void stop() {
        runtime::stopFlag = 1;
        if (reader.joinable()) reader.join();
    }
    void TearDown() override { stop(); }
};

TEST_F(PortReaderTest, FramesAreCutOutOfTheStreamEveryOneHeldInTheCycleThatReadIt) {
    const Bytes exact = frame(Bytes(kFrameBlockSize - 2, 0x41));
    ASSERT_EQ(exact.size(), kFrameBlockSize);
    const Bytes split = frame({1, 2, 0xC0, 3, 4, 0xDB, 5});
    Bytes endless(kReceiveBufferSize + 100, 0x41);
    endless[0] = kSlipEnd;
    // Modem chatter before the first END and a doubled END go; a frame longer than its block is
    // dropped with an event; the others follow straight on one another's closing END, one of
    // them split over two reads. Then a partial frame fills the whole buffer: it is dropped
    // with an event, and reading goes on.
    const Bytes chatter = {'O', 'K', '\r', '\n', kSlipEnd};
    port.chunks = {cat({chatter, frame({7}), frame(Bytes(kFrameBlockSize - 1, 0x41)), exact,
                        frame({8, 8}), Bytes(split.begin(), split.begin() + 3)}),
                   Bytes(split.begin() + 3, split.end()), cat({endless, frame({5})})};
    start();
    eventually([&] { return port.frameCount >= 5; });
    stop();
    const auto& got = port.frames;
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0].first, frame({7}));
    EXPECT_EQ(got[1].first, exact);
    EXPECT_EQ(got[2].first, frame({8, 8}));
    EXPECT_EQ(got[3].first, split);
    EXPECT_EQ(got[4].first, frame({5}));
    EXPECT_EQ(got[0].second, got[2].second) << "a held frame waited for another read";
    EXPECT_GT(got[3].second, got[2].second);
    const auto events = platform::loggedEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].id, 0x40060004u);
    EXPECT_EQ(events[1].id, 0x40060004u);
}

TEST_F(PortReaderTest, ModemGetsItsInitStringOnlyWithDsrOnAndAgainWhenAsked) {
    // With DSR off, or the modem status unreadable, nothing is sent and reading goes on.
    for (const int dsr : {0, -1}) {
        port.dsr = dsr;
        port.chunks = {frame({4})};
        start('Y');
        EXPECT_TRUE(eventually([&] { return port.frameCount == (dsr == 0 ? 1 : 2); })) << dsr;
        stop();
    }
    EXPECT_TRUE(port.written.empty());

    const std::string init39(39, 'A');
    const Bytes line = cat({Bytes(init39.begin(), init39.end()), {'\r', '\n'}});
    port.dsr = 1;
    start('Y', init39);
    ASSERT_TRUE(eventually([&] { return port.writes == 1; }));
    EXPECT_EQ(port.written, line);
    context.reinitialise = 'Y';
    ASSERT_TRUE(eventually([&] { return port.writes == 2; }));
    stop();
    EXPECT_EQ(port.written, cat({line, line}));
    EXPECT_EQ(context.reinitialise.load(), 'N');
}

TEST(ModemMonitor, DsrChangeSendsTheInitStringAndAsksTheReaderToo) {
    runtime::stopFlag = 0;
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
    // The monitor raises the flag just after its write: wait for it, within a generous bound.
    EXPECT_TRUE(eventually([&] { return context.reinitialise.load() == 'Y'; }));
    runtime::stopFlag = 1;
    monitor.join();
    ASSERT_TRUE(answered);
    const Bytes written = port.takeWritten();
    EXPECT_EQ(Bytes(written.begin(), written.begin() + 5), (Bytes{'A', 'T', 'Z', '\r', '\n'}));
}

} // namespace
} // namespace farlink::link
