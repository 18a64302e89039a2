// Feeds arbitrary bytes to the request pipeline as a received frame. The pipeline must answer or
// drop every one of them without reading or writing past a block and without losing a block.
#include "link/pipeline.h"
#include "platform/console.h"
#include "platform/event_log.h"
#include "runtime/guarded.h"
#include "support/station.h"

#include <cstdint>

using namespace farlink;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = [] {
        platform::useMemoryEventLog();
        platform::setConsoleQuiet(true);
        return true;
    }();
    (void)ready;
    // A line that takes every reply and keeps nothing.
    static testing::DiscardingPort port;
    platform::clearLoggedEvents();

    const std::size_t liveBefore = runtime::guardedLiveBlocks();
    // The bytes as a port reader hands them over, cut to the frame block.
    link::FrameRequest* request = testing::frameRequest({data, size}, &port);
    if (request == nullptr) __builtin_trap();
    link::processFrame(request);
    // processFrame owns the request and releases it with every block it made, on every path.
    if (runtime::guardedLiveBlocks() != liveBefore) __builtin_trap();
    return 0;
}
