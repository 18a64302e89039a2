// Round trip over a real line: a GetRequest frame written on the station's end of a
// pseudo-terminal, read by the agent's own port reader, answered by the pipeline, and the whole
// reply frame read back on the station's end. Reports the median and the spread of the trips.
#include "link/port_reader.h"
#include "platform/console.h"
#include "platform/event_log.h"
#include "platform/pty.h"
#include "platform/serial.h"
#include "platform/threads.h"
#include "runtime/stop_flag.h"
#include "support/station.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

using namespace farlink;
using testing::Bytes;
using Clock = std::chrono::steady_clock;

// GetRequest for 1.3.6.1.4.1.32473.25.2.1.0 (the adapter count), community "kestrl", from
// 192.0.2.1:40001 to 192.0.2.2:161 without a UDP checksum.
const Bytes kGetFrame = testing::frame(testing::udpDatagram(
    testing::snmpMessage(testing::kGetRequest, 42, {{testing::mib({2, 1, 0})}})));

constexpr int kReplyWaitMs = 5000;

// Reads on the station's end until one whole frame (opening END, data, closing END) is in.
bool readReplyFrame(const platform::PtyPair& pty) {
    std::uint8_t buffer[1200];
    bool opened = false;
    bool data = false;
    for (;;) {
        const long n = platform::masterRead(pty, buffer, sizeof buffer, kReplyWaitMs);
        if (n <= 0) return false;
        for (long i = 0; i < n; ++i) {
            if (buffer[i] != 0xC0) {
                data = data || opened;
            } else if (!opened) {
                opened = true;
            } else if (data) {
                return true;
            }
        }
    }
}

struct Line {
    platform::PtyPair pty;
    platform::PortHandle port = nullptr;
    link::PortReaderParams params;
    link::PortContext context;

    bool open() {
        if (!platform::openPtyPair(pty) || !platform::exposeAsComPort(pty, "COM1")) return false;
        port = platform::openSerialPort("COM1");
        if (port == nullptr) return false;
        platform::CommState state;
        if (!port->getState(state)) return false;
        state.baudRate = 115200;
        state.byteSize = 8;
        state.parity = 0;
        state.stopBits = 0;
        if (!port->setState(state)) return false;
        params.port = port;
        params.modem = 'N';
        runtime::stopFlag.store(0, std::memory_order_relaxed);
        return platform::startThread([this] {
            link::portReader(params, context, link::answerFrame, /*startMonitor=*/false);
        });
    }

    ~Line() {
        // The reader sees the stop flag within its one-second read slice.
        runtime::stopFlag.store(1, std::memory_order_relaxed);
        for (int waited = 0; platform::runningThreads() > 0 && waited < 5000; waited += 10)
            platform::sleepMs(10);
        if (port != nullptr) platform::closeSerialPort(port);
        platform::closePtyPair(pty);
    }
};

void BM_RoundTripGet(benchmark::State& state) {
    platform::useMemoryEventLog();
    platform::setConsoleQuiet(true);
    Line line;
    if (!line.open()) {
        state.SkipWithError("no pseudo-terminal line");
        return;
    }
    std::vector<double> trips;
    for (auto _ : state) {
        const auto start = Clock::now();
        if (!platform::masterWrite(line.pty, kGetFrame.data(), kGetFrame.size()) ||
            !readReplyFrame(line.pty)) {
            state.SkipWithError("no reply frame");
            break;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        trips.push_back(seconds);
    }
    if (trips.empty()) return;
    std::sort(trips.begin(), trips.end());
    const auto at = [&](double q) {
        return trips[std::min(trips.size() - 1, static_cast<std::size_t>(q * trips.size()))] * 1e6;
    };
    state.counters["median_us"] = at(0.5);
    state.counters["p90_us"] = at(0.9);
    state.counters["max_us"] = trips.back() * 1e6;
}

BENCHMARK(BM_RoundTripGet)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(2000);

} // namespace

BENCHMARK_MAIN();
