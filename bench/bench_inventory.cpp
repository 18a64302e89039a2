// Cost of the resource map: one whole read per kind, on the host and on the sample machine, and
// what that costs a request: a GET of one interrupt owner (which walks the map for its binding)
// against a GET of one memory range (one walk for the whole request), answered end to end.
#include "inventory/resource_map.h"
#include "link/pipeline.h"
#include "platform/console.h"
#include "platform/event_log.h"
#include "support/process_usage.h"
#include "support/station.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using namespace farlink;
using testing::Bytes;

std::string sampleMachine() {
    if (const char* dir = std::getenv("FARLINK_SAMPLE_MACHINE")) return dir;
    return (std::filesystem::path(__FILE__).parent_path().parent_path() / "machines" / "sample")
        .string();
}

template <class Out> void readEach(benchmark::State& state, std::uint32_t (*found)(const Out&)) {
    Out out;
    std::uint32_t last = 0;
    for (auto _ : state) {
        inventory::readResourceMap(out);
        benchmark::DoNotOptimize(out);
        last = found(out);
    }
    state.counters["found"] = last;
}

std::uint32_t ranges(const inventory::PortRanges& out) {
    return out.count;
}
std::uint32_t memoryRanges(const inventory::MemoryRanges& out) {
    return out.count;
}
template <class Slots> std::uint32_t owned(const Slots& out) {
    std::uint32_t n = 0;
    for (const auto& owner : out.owners)
        n += owner[0] != '\0';
    return n;
}

// The machine a benchmark reads: the host (empty) or a machine image.
void useMachine(const std::string& machine) {
    if (machine.empty())
        ::unsetenv("FARLINK_MACHINE");
    else
        ::setenv("FARLINK_MACHINE", machine.c_str(), 1);
}

// A read of every kind with the machine chosen: the host ("") or the sample image.
void registerReads(const char* where, const std::string& machine) {
    const auto on = [machine](void (*read)(benchmark::State&)) {
        return [machine, read](benchmark::State& state) {
            useMachine(machine);
            read(state);
        };
    };
    const std::string prefix = std::string("BM_ReadResourceMap/") + where;
    benchmark::RegisterBenchmark((prefix + "/ports").c_str(), on([](benchmark::State& s) {
                                     readEach<inventory::PortRanges>(s, ranges);
                                 }));
    benchmark::RegisterBenchmark((prefix + "/interrupts").c_str(), on([](benchmark::State& s) {
                                     readEach<inventory::InterruptOwners>(
                                         s, owned<inventory::InterruptOwners>);
                                 }));
    benchmark::RegisterBenchmark((prefix + "/memory").c_str(), on([](benchmark::State& s) {
                                     readEach<inventory::MemoryRanges>(s, memoryRanges);
                                 }));
    benchmark::RegisterBenchmark((prefix + "/dma").c_str(), on([](benchmark::State& s) {
                                     readEach<inventory::DmaOwners>(s, owned<inventory::DmaOwners>);
                                 }));
}

// One GET through the whole pipeline on the sample machine, from the SLIP frame to the reply.
void answerGet(benchmark::State& state, std::initializer_list<std::uint32_t> name) {
    useMachine(sampleMachine());
    platform::useMemoryEventLog();
    platform::setConsoleQuiet(true);
    const Bytes frame = testing::frame(testing::udpDatagram(
        testing::snmpMessage(testing::kGetRequest, 1, {{testing::mib(name)}})));
    testing::DiscardingPort port;
    for (auto _ : state)
        link::processFrame(testing::frameRequest(frame, &port));
    if (port.bytesWritten() == 0 || !platform::loggedEvents().empty())
        state.SkipWithError("the pipeline did not answer");
}

void BM_GetInterruptOwner(benchmark::State& state) {
    answerGet(state, {3, 1, 1, 2, 4});
}

void BM_GetMemoryRange(benchmark::State& state) {
    answerGet(state, {3, 15, 1, 2, 0});
}

BENCHMARK(BM_GetInterruptOwner);
BENCHMARK(BM_GetMemoryRange);

using testing::openFds;
using testing::residentKb;

// 10 000 inventory requests (interrupt owners, port ranges, disks) on the host: what they leave
// behind in open files and resident memory, after a first round has warmed every cache.
void BM_InventoryRequestsLeaveNothing(benchmark::State& state) {
    useMachine("");
    platform::useMemoryEventLog();
    platform::setConsoleQuiet(true);
    testing::DiscardingPort port;
    const Bytes frames[] = {testing::frame(testing::udpDatagram(testing::snmpMessage(
                                testing::kGetNextRequest, 1, {{testing::mib({3, 1, 1, 2})}}))),
                            testing::frame(testing::udpDatagram(testing::snmpMessage(
                                testing::kGetNextRequest, 2, {{testing::mib({3, 4, 1, 4})}}))),
                            testing::frame(testing::udpDatagram(testing::snmpMessage(
                                testing::kGetNextRequest, 3, {{testing::mib({1, 5, 1, 2})}})))};
    for (int i = 0; i < 300; ++i)
        link::processFrame(testing::frameRequest(frames[i % 3], &port));
    const std::size_t fdsBefore = openFds();
    const long rssBefore = residentKb();
    for (auto _ : state)
        for (int i = 0; i < 10000; ++i)
            link::processFrame(testing::frameRequest(frames[i % 3], &port));
    state.counters["fd_growth"] = static_cast<double>(openFds()) - static_cast<double>(fdsBefore);
    state.counters["rss_growth_kb"] = static_cast<double>(residentKb() - rssBefore);
}
BENCHMARK(BM_InventoryRequestsLeaveNothing)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    registerReads("host", "");
    registerReads("sample", sampleMachine());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
