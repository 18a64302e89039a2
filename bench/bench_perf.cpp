// Cost of the performance data: one snapshot (query and walk) on the host and on the sample
// machine, the walk alone, and what a counter costs a request: a GET of one counter and of a
// row of disk counters, against a GET of the driver list, which only copies from memory.
#include "link/pipeline.h"
#include "perf/perf_reader.h"
#include "platform/console.h"
#include "platform/event_log.h"
#include "platform/perf_names.h"
#include "platform/performance_data.h"
#include "support/process_usage.h"
#include "support/station.h"
#include "system/services.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

using namespace farlink;
using testing::Bytes;

std::string sampleMachine() {
    if (const char* dir = std::getenv("FARLINK_SAMPLE_MACHINE")) return dir;
    return (std::filesystem::path(__FILE__).parent_path().parent_path() / "machines" / "sample")
        .string();
}

void useMachine(const std::string& machine) {
    if (machine.empty())
        ::unsetenv("FARLINK_MACHINE");
    else
        ::setenv("FARLINK_MACHINE", machine.c_str(), 1);
}

// The reader set up as the start-up sets it up, on the host ("") or an image.
bool setUp(const std::string& machine) {
    useMachine(machine);
    platform::setConsoleQuiet(true);
    perf::resetPerformanceReader();
    return perf::initPerformanceData() == 0;
}

void snapshots(benchmark::State& state, const std::string& machine) {
    if (!setUp(machine)) {
        state.SkipWithError("no name table");
        return;
    }
    for (auto _ : state)
        if (perf::takePerformanceSnapshot() != 0) state.SkipWithError("the query failed");
    state.counters["processors"] = perf::objectInstanceCount(perf::kProcessorObject);
    state.counters["disks"] = perf::objectInstanceCount(perf::kPhysicalDiskObject);
}

// A host snapshot that builds its block from the kernel's files each time, and one within the
// reuse time of the last block, as the requests of one walk of a system group take them.
void BM_SnapshotHostFresh(benchmark::State& state) {
    platform::setPerformanceDataReuse(0);
    snapshots(state, "");
    platform::setPerformanceDataReuse(platform::kPerformanceDataReuseMs);
}
void BM_SnapshotHost(benchmark::State& state) {
    snapshots(state, "");
}
void BM_SnapshotSample(benchmark::State& state) {
    snapshots(state, sampleMachine());
}
BENCHMARK(BM_SnapshotHostFresh)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SnapshotHost)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SnapshotSample)->Unit(benchmark::kMicrosecond);

// The walk of the sample machine's block, without its query.
void BM_WalkSampleBlock(benchmark::State& state) {
    setUp(sampleMachine());
    std::ifstream file(sampleMachine() + "/perf/data.bin", std::ios::binary);
    const Bytes block{std::istreambuf_iterator<char>(file), {}};
    for (auto _ : state)
        perf::walkPerformanceBlock(block);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * block.size()));
}
BENCHMARK(BM_WalkSampleBlock);

// One GET through the whole pipeline on the sample machine, from the SLIP frame to the reply.
void getOne(benchmark::State& state, std::vector<std::uint32_t> oid) {
    setUp(sampleMachine());
    system::takeActiveDriverList();
    platform::useMemoryEventLog();
    const Bytes frame = testing::frame(
        testing::udpDatagram(testing::snmpMessage(testing::kGetRequest, 1, {{oid}})));
    testing::DiscardingPort port;
    for (auto _ : state)
        link::processFrame(testing::frameRequest(frame, &port));
    if (port.bytesWritten() == 0 || !platform::loggedEvents().empty())
        state.SkipWithError("the pipeline did not answer");
}

void BM_GetDriverName(benchmark::State& state) {
    getOne(state, testing::mib({4, 62, 1, 1, 0}));
}
void BM_GetSystemCounter(benchmark::State& state) {
    getOne(state, testing::mib({4, 65, 1, 6, 0}));
}
void BM_GetDiskCounter(benchmark::State& state) {
    getOne(state, testing::mib({4, 65, 6, 1, 10, 1}));
}
BENCHMARK(BM_GetDriverName);
BENCHMARK(BM_GetSystemCounter);
BENCHMARK(BM_GetDiskCounter);

using testing::openFds;
using testing::residentKb;

// 10 000 host snapshots, each building its block: what they leave behind in open files and
// resident memory once the first ones have opened the kernel's files.
void BM_SnapshotsLeaveNothing(benchmark::State& state) {
    platform::setPerformanceDataReuse(0);
    if (!setUp("")) {
        state.SkipWithError("no name table");
        return;
    }
    for (int i = 0; i < 100; ++i)
        perf::takePerformanceSnapshot();
    const std::size_t fdsBefore = openFds();
    const long rssBefore = residentKb();
    for (auto _ : state)
        for (int i = 0; i < 10000; ++i)
            perf::takePerformanceSnapshot();
    state.counters["fd_growth"] = static_cast<double>(openFds()) - static_cast<double>(fdsBefore);
    state.counters["rss_growth_kb"] = static_cast<double>(residentKb() - rssBefore);
    platform::setPerformanceDataReuse(platform::kPerformanceDataReuseMs);
}
BENCHMARK(BM_SnapshotsLeaveNothing)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
