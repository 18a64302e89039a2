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

// Where complete frames go: processFrame, or a test's own sink. Takes ownership.
using FrameSink = void (*)(FrameRequest* request);

// Reads the port until the stop flag is set. startMonitor false leaves the modem monitor out
// (tests that drive DSR themselves).
void portReader(const PortReaderParams& params, PortContext& context, FrameSink sink = processFrame,
                bool startMonitor = true);

// Re-sends the init string after every DSR change, until the stop flag is set.
void modemMonitor(PortContext& context);

} // namespace farlink::link
