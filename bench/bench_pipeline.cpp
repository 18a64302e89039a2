// CPU cost of answering one frame: the whole pipeline from the raw SLIP frame to the reply
// handed to the port, with the port itself taking the reply and keeping nothing.
#include "link/pipeline.h"
#include "platform/console.h"
#include "platform/event_log.h"
#include "platform/shared_memory.h"
#include "runtime/agent_settings.h"
#include "runtime/shared_block.h"
#include "support/station.h"

#include <benchmark/benchmark.h>

#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace farlink;
using testing::Bytes;

// The frame of a datagram from 10.0.0.1:40001 to 10.0.0.2:161, without a UDP checksum. The
// addresses, and the identification chosen, keep escapes out of the headers: a 25-binding
// request only just fits the 512-byte frame block.
Bytes frameOf(const Bytes& message) {
    for (std::uint16_t id = 0x1000;; ++id) {
        const Bytes d = testing::udpDatagram(
            message, {.source = 0x0A000001, .destination = 0x0A000002, .identification = id});
        Bytes f = testing::frame(d);
        if (f.size() <= link::kFrameBlockSize) return f;
        if (f.size() > d.size() + 2 + 4) return {}; // the message itself needs escapes
    }
}

void answerFrames(benchmark::State& state, const Bytes& frame) {
    platform::useMemoryEventLog();
    platform::setConsoleQuiet(true);
    if (frame.empty()) {
        state.SkipWithError("request does not fit a frame block");
        return;
    }
    testing::DiscardingPort port;
    for (auto _ : state) {
        // As a port reader hands it over: the frame where it lies in the receive buffer.
        link::answerFrame(frame, &port);
    }
    if (port.bytesWritten() == 0 || !platform::loggedEvents().empty()) {
        state.SkipWithError("the pipeline did not answer");
        return;
    }
    state.counters["reply_bytes"] =
        static_cast<double>(port.bytesWritten()) / static_cast<double>(state.iterations());
}

using testing::mib;
using testing::snmpMessage;

void BM_GetOneBinding(benchmark::State& state) {
    answerFrames(state, frameOf(snmpMessage(testing::kGetRequest, 1, {{mib({2, 1, 0})}})));
}

void BM_GetNextEventTable(benchmark::State& state) {
    answerFrames(state, frameOf(snmpMessage(testing::kGetNextRequest, 1, {{mib({7, 2, 1})}})));
}

void BM_SetEventAction(benchmark::State& state) {
    const testing::Binding set = {mib({7, 2, 1, 2, 0}), testing::integer(0x010006)};
    answerFrames(state, frameOf(snmpMessage(testing::kSetRequest, 1, {set})));
}

void BM_Get25Bindings(benchmark::State& state) {
    const std::vector<testing::Binding> bindings(25, testing::Binding{mib({2, 1, 0})});
    answerFrames(state, frameOf(snmpMessage(testing::kGetRequest, 1, bindings)));
}

// The comparison's 25 bindings: storage and resource counts in turn, two of which count the
// resource map's port and memory ranges (the host's map here, or FARLINK_MACHINE's).
void BM_Get25Counts(benchmark::State& state) {
    const std::vector<std::uint32_t> names[] = {mib({1, 2, 0}), mib({1, 4, 0}), mib({1, 6, 0}),
                                                mib({3, 3, 0}), mib({3, 6, 0}), mib({3, 14, 0})};
    std::vector<testing::Binding> bindings;
    for (std::size_t i = 0; i < 25; ++i)
        bindings.push_back({names[i % std::size(names)]});
    answerFrames(state, frameOf(snmpMessage(testing::kGetRequest, 1, bindings)));
}

// A contact text is read from the shared agent block through its descriptor, for every binding.
void BM_GetContactName(benchmark::State& state) {
    const std::string name = "farlink-bench-" + std::to_string(::getpid());
    platform::SharedRegion region;
    std::string refusal;
    if (!platform::createSharedRegion(name, runtime::kSharedBlockSize, region, refusal)) {
        state.SkipWithError("no shared block can be made here");
        return;
    }
    runtime::attachSharedBlock(name, region);
    runtime::writeText(runtime::kAdministratorName, "Ada Operator");
    runtime::agentSettings.contactRowCount.store(1);
    answerFrames(state, frameOf(snmpMessage(testing::kGetRequest, 1, {{mib({4, 18, 1, 1, 0})}})));
    runtime::detachSharedBlock();
    platform::removeSharedRegion(name);
}

BENCHMARK(BM_GetOneBinding);
BENCHMARK(BM_GetContactName);
BENCHMARK(BM_GetNextEventTable);
BENCHMARK(BM_SetEventAction);
BENCHMARK(BM_Get25Bindings);
BENCHMARK(BM_Get25Counts);

} // namespace

BENCHMARK_MAIN();
