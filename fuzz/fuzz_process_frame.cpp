// Feeds arbitrary bytes to the request pipeline as a received frame. The pipeline must answer or
// drop every one of them without reading or writing past a block and without losing a block.
#include "link/pipeline.h"
#include "platform/console.h"
#include "platform/event_log.h"
#include "service/guarded.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

using namespace farlink;

// A line that takes every reply and keeps nothing.
class NullPort final : public platform::SerialPort {
public:
    bool getState(platform::CommState&) override { return true; }
    bool setState(const platform::CommState&) override { return true; }
    bool setupQueues(std::uint32_t, std::uint32_t) override { return true; }
    bool escape(platform::CommEscape) override { return true; }
    bool setTimeouts(const platform::CommTimeouts&) override { return true; }
    bool modemStatus(std::uint32_t&) override { return false; }
    bool setEventMask(std::uint32_t) override { return false; }
    platform::WaitOutcome waitEvent(std::uint32_t&, int) override {
        return platform::WaitOutcome::Failed;
    }
    bool read(std::uint8_t*, std::size_t, std::size_t& n) override {
        n = 0;
        return true;
    }
    bool write(const std::uint8_t*, std::size_t size, std::size_t& n) override {
        n = size;
        return true;
    }
    std::string deviceName() const override { return "null"; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = [] {
        platform::useMemoryEventLog();
        platform::setConsoleQuiet(true);
        return true;
    }();
    (void)ready;
    static NullPort port;
    platform::clearLoggedEvents();

    const std::size_t liveBefore = service::guardedLiveBlocks();
    auto* request = service::guardedNew<link::FrameRequest>();
    auto* frame = static_cast<std::uint8_t*>(service::guardedAlloc(link::kFrameBlockSize));
    if (request == nullptr || frame == nullptr) __builtin_trap();
    const std::size_t n = std::min(size, link::kFrameBlockSize);
    if (n > 0) std::memcpy(frame, data, n);
    request->mode = 0;
    request->frameLength = static_cast<std::uint32_t>(n);
    request->port = &port;
    request->frame = frame;
    link::processFrame(request);
    // processFrame owns the request and releases it with every block it made, on every path.
    if (service::guardedLiveBlocks() != liveBefore) __builtin_trap();
    return 0;
}
