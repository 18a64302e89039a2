#include "link/port_reader.h"

#include "link/slip.h"
#include "platform/console.h"
#include "platform/threads.h"
#include "runtime/events.h"
#include "runtime/stop_flag.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace farlink::link {

namespace {

// A read that fails at once (a device that went away) is not retried in a tight loop.
constexpr std::uint32_t kReadErrorPauseMs = 100;
constexpr std::uint32_t kModemSettleMs = 3000;
constexpr std::uint32_t kMonitorRetryMs = 5000;
constexpr int kWaitSliceMs = 1000;

// Sleeps in short slices so that a stop is noticed within a fraction of a second.
void sleepUnlessStopped(std::uint32_t milliseconds) {
    constexpr std::uint32_t slice = 100;
    for (std::uint32_t slept = 0; slept < milliseconds && !runtime::stopRequested(); slept += slice)
        platform::sleepMs(std::min(slice, milliseconds - slept));
}

void sendInitString(platform::PortHandle port, const std::array<char, kInitStringSize>& init) {
    std::array<std::uint8_t, kInitStringSize + 2> line{};
    const std::size_t n = strnlen(init.data(), init.size() - 1);
    std::memcpy(line.data(), init.data(), n);
    line[n] = '\r';
    line[n + 1] = '\n';
    writePort(port, line.data(), n + 2);
}

// Puts the held bytes in order for a frame: bytes before an opening END are line noise (a
// modem's answers, a half frame from before a reset) and go; a doubled END is an empty frame and
// opens the next one. false when nothing is held any more.
bool alignToOpeningEnd(ReceiveBuffer& rx) {
    if (rx.fill == 0) return false;
    if (rx.bytes[0] != kSlipEnd) {
        const auto* begin = rx.bytes.data();
        const auto* end = std::find(begin, begin + rx.fill, kSlipEnd);
        const auto skipped = static_cast<std::size_t>(end - begin);
        platform::diagnostic(
            platform::formatText("Dropped %zu bytes before an opening END", skipped));
        if (skipped == rx.fill) {
            rx.discardAll();
            return false;
        }
        rx.dropFront(skipped);
    }
    std::size_t ends = 0;
    while (ends + 1 < rx.fill && rx.bytes[ends + 1] == kSlipEnd)
        ++ends;
    if (ends > 0) rx.dropFront(ends);
    return true;
}

} // namespace

void ReceiveBuffer::discardAll() {
    fill = 0;
    scanStart = 1;
}

void ReceiveBuffer::dropFront(std::size_t count) {
    std::memmove(bytes.data(), bytes.data() + count, fill - count);
    fill -= count;
    scanStart = 1;
}

void takeCompleteFrames(ReceiveBuffer& rx, platform::PortHandle port, FrameSink sink) {
    while (alignToOpeningEnd(rx)) {
        const std::size_t from = std::max<std::size_t>(1, rx.scanStart - 1);
        const auto* begin = rx.bytes.data();
        const auto* found = std::find(begin + from, begin + rx.fill, kSlipEnd);
        if (found == begin + rx.fill) {
            rx.scanStart = rx.fill;
            if (rx.fill == rx.bytes.size()) {
                // A partial frame that fills the whole buffer can never close: drop it so that
                // reading goes on.
                runtime::reportLimitedEvent(
                    runtime::EventKind::FrameUnclosed, runtime::kEventWarning,
                    platform::formatText("Frame without closing END dropped: %zu bytes", rx.fill));
                rx.discardAll();
            }
            return;
        }
        const auto frameLength = static_cast<std::size_t>(found - begin) + 1;
        if (frameLength > kFrameBlockSize) {
            // Line noise can do this many times a second: the log gets one a minute.
            runtime::reportLimitedEvent(
                runtime::EventKind::FrameTooLong, runtime::kEventWarning,
                platform::formatText("Frame longer than %zu bytes dropped: %zu bytes",
                                     kFrameBlockSize, frameLength));
            rx.dropFront(frameLength);
            continue;
        }
        // Answered where it lies: the bytes after it stay until it is done with.
        sink(std::span<const std::uint8_t>(begin, frameLength), port, 0);
        rx.dropFront(frameLength);
    }
}

void portReader(const PortReaderParams& params, PortContext& context, FrameSink sink,
                bool startMonitor) {
    platform::PortHandle port = params.port;
    context.port = port;
    context.initString = params.initString;
    context.reinitialise.store('N', std::memory_order_relaxed);

    // Reads complete with whatever has arrived after at most a second, so the stop flag and the
    // monitor's requests are seen while the line is idle.
    platform::CommTimeouts timeouts;
    timeouts.readTotalConstant = 1000;
    if (!port->setTimeouts(timeouts)) {
        platform::diagnostic(
            platform::formatText("Failed to set TimeOut Parameters:%d ", platform::lastError()));
        return;
    }
    if (startMonitor && !platform::startThread([&context] { modemMonitor(context); }))
        platform::diagnostic(platform::formatText(
            "Failed to create thread for modem monitoring:%d ", platform::lastError()));

    ReceiveBuffer rx;
    bool firstCycle = true;
    while (!runtime::stopRequested()) {
        // Acquire: whatever the asking thread did before it asked is seen by the re-send.
        const bool reinitialise = context.reinitialise.load(std::memory_order_acquire) == 'Y';
        if ((firstCycle && params.modem == 'Y') || reinitialise) {
            firstCycle = false;
            if (reinitialise) context.reinitialise.store('N', std::memory_order_relaxed);
            std::uint32_t status = 0;
            if (!port->modemStatus(status)) {
                platform::diagnostic(platform::formatText("GetCommModemStatus failed with %d ",
                                                          platform::lastError()));
                continue;
            }
            if (status & platform::kModemStatusDsr) {
                sendInitString(port, context.initString);
            } else {
                platform::diagnostic(platform::formatText(
                    "Modem not on or not connected to the port with port Handle %p  \n",
                    static_cast<void*>(port)));
            }
        }

        std::size_t count = 0;
        if (!port->read(rx.bytes.data() + rx.fill, rx.bytes.size() - rx.fill, count)) {
            platform::diagnostic(
                platform::formatText("Warning! Error in Read:%d ", platform::lastError()));
            rx.discardAll();
            sleepUnlessStopped(kReadErrorPauseMs);
            continue;
        }
        if (count == 0 && rx.fill <= rx.scanStart) continue;
        rx.fill += count;
        takeCompleteFrames(rx, port, sink);
    }
}

void modemMonitor(PortContext& context) {
    platform::PortHandle port = context.port;
    if (!port->setEventMask(platform::kCommEventDsr)) return;
    while (!runtime::stopRequested()) {
        std::uint32_t events = 0;
        // Waits in one-second slices until the next DSR change, so a stop is still seen.
        platform::WaitOutcome outcome = port->waitEvent(events, kWaitSliceMs);
        while (outcome == platform::WaitOutcome::TimedOut && !runtime::stopRequested())
            outcome = port->waitEvent(events, kWaitSliceMs);
        if (outcome == platform::WaitOutcome::Failed) {
            sleepUnlessStopped(kMonitorRetryMs);
            continue;
        }
        if (outcome == platform::WaitOutcome::Event && (events & platform::kCommEventDsr)) {
            // Give the modem time to settle after the line change before talking to it.
            sleepUnlessStopped(kModemSettleMs);
            sendInitString(port, context.initString);
            context.reinitialise.store('Y', std::memory_order_release);
        }
    }
}

} // namespace farlink::link
