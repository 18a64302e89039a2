// One adapter poll: every polled statistic queried once and compared with its threshold. On
// the host the statistics files are kept open and read with pread; in the sample image every
// query opens its answer file.
#include "adapters/discovery.h"
#include "adapters/nic.h"
#include "adapters/poller.h"
#include "platform/console.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

using namespace farlink;

// Finds the adapters of the backend FARLINK_MACHINE names (the host when unset) and readies
// adapter 0 as start-up would, without its thread.
bool readyFirstAdapter(benchmark::State& state) {
    platform::setConsoleQuiet(true);
    adapters::resetAdapters();
    if (adapters::discoverAdapters() == 0 || !adapters::buildPolledOidList(0) ||
        !adapters::fillAdapterRecord(0)) {
        state.SkipWithError("no adapter with a device to poll");
        return false;
    }
    return true;
}

void pollOnce(benchmark::State& state) {
    if (!readyFirstAdapter(state)) return;
    adapters::PollerState poller;
    for (auto _ : state)
        adapters::pollAdapter(0, poller);
    state.counters["oids"] = static_cast<double>(adapters::polledOids[0].count);
}

void BM_HostAdapterPoll(benchmark::State& state) {
    unsetenv("FARLINK_MACHINE");
    pollOnce(state);
}
BENCHMARK(BM_HostAdapterPoll);

void BM_SampleImageAdapterPoll(benchmark::State& state) {
    // The repository's sample machine, found from this file's own place in it.
    const std::string source = __FILE__;
    const std::string image = source.substr(0, source.rfind("/bench/")) + "/machines/sample";
    setenv("FARLINK_MACHINE", image.c_str(), 1);
    pollOnce(state);
    unsetenv("FARLINK_MACHINE");
}
BENCHMARK(BM_SampleImageAdapterPoll);

} // namespace

BENCHMARK_MAIN();
