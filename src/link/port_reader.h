// The port reader (the main loop of the link) and the modem monitor of one port.
#pragma once

#include "link/pipeline.h"
#include "platform/serial.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace farlink::link {

inline constexpr std::size_t kReceiveBufferSize = 4096;
inline constexpr std::size_t kInitStringSize = 40; // 39 characters and the terminator

// Shared by a port's reader and its modem monitor.
struct PortContext {
    platform::PortHandle port = nullptr;
    std::atomic<char> reinitialise{'N'}; // 'Y': the monitor asks for the init string again
    std::array<char, kInitStringSize> initString{};
};

struct PortReaderParams {
    platform::PortHandle port = nullptr;
    char modem = 'N';
    std::array<char, kInitStringSize> initString{};
};

// Where complete frames go: answerFrame, or a test's own sink. The frame (END bytes included) is
// valid for the call only.
using FrameSink = void (*)(std::span<const std::uint8_t> frame, platform::PortHandle port,
                           std::uint32_t mode);

// The receive buffer of one port: bytes held, and how far the search for a closing END got.
struct ReceiveBuffer {
    std::array<std::uint8_t, kReceiveBufferSize> bytes{};
    std::size_t fill = 0;
    std::size_t scanStart = 1;

    void discardAll();
    void dropFront(std::size_t count);
};

// Hands every complete frame held to the sink, in order: bytes before an opening END are line
// noise and go, a doubled END opens the next frame, a frame longer than its block is dropped
// with its event and so is a partial frame that fills the whole buffer.
void takeCompleteFrames(ReceiveBuffer& rx, platform::PortHandle port, FrameSink sink);

// Reads the port until the stop flag is set. startMonitor false leaves the modem monitor out
// (tests that drive DSR themselves).
void portReader(const PortReaderParams& params, PortContext& context, FrameSink sink = answerFrame,
                bool startMonitor = true);

// Re-sends the init string after every DSR change, until the stop flag is set.
void modemMonitor(PortContext& context);

} // namespace farlink::link
