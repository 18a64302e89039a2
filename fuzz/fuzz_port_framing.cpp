// Feeds an arbitrary byte stream, in arbitrary pieces, to a port's receive buffer as reads would
// deliver it. Every frame handed on must be one whole frame no longer than a frame block, between
// two END bytes, and no byte may be read or written outside the buffer.
#include "link/port_reader.h"
#include "link/slip.h"
#include "platform/console.h"
#include "platform/event_log.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

using namespace farlink;

namespace {

void checkFrame(std::span<const std::uint8_t> frame, platform::PortHandle, std::uint32_t) {
    if (frame.size() < 2 || frame.size() > link::kFrameBlockSize ||
        frame.front() != link::kSlipEnd || frame.back() != link::kSlipEnd)
        __builtin_trap();
    // Only the closing END may be an END: an END inside would have ended the frame sooner.
    if (std::find(frame.begin() + 1, frame.end() - 1, link::kSlipEnd) != frame.end() - 1)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = [] {
        platform::useMemoryEventLog();
        platform::setConsoleQuiet(true);
        return true;
    }();
    (void)ready;
    platform::clearLoggedEvents();

    // Each piece: one byte with its length (scaled up, so that pieces can fill the buffer), then
    // that many bytes of the stream, as one read returns them.
    link::ReceiveBuffer rx;
    std::size_t at = 0;
    while (at < size) {
        const std::size_t wanted = static_cast<std::size_t>(data[at++]) * 17 + 1;
        const std::size_t piece = std::min({wanted, size - at, rx.bytes.size() - rx.fill});
        std::memcpy(rx.bytes.data() + rx.fill, data + at, piece);
        at += piece;
        rx.fill += piece;
        link::takeCompleteFrames(rx, nullptr, checkFrame);
        if (rx.fill > rx.bytes.size()) __builtin_trap();
    }
    return 0;
}
