// Pseudo-terminal pairs: a serial line whose far end a test or a benchmark holds, so the agent's
// own port code can run over it unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace farlink::platform {

struct PtyPair {
    int master = -1;       // the station's end
    std::string slavePath; // the device the agent opens as its port
};

// Makes a pair whose line is raw (no echo, no line editing, no character translation); false
// (last error set) when none can be had.
bool openPtyPair(PtyPair& pair);

// Names the slave device as the serial port `portName` ("COM1".."COM4") for later opens.
bool exposeAsComPort(const PtyPair& pair, std::string_view portName);

// Writes all the bytes on the master; false on a write error.
bool masterWrite(const PtyPair& pair, const std::uint8_t* bytes, std::size_t size);

// Reads what has arrived on the master, up to `size` bytes, waiting up to timeoutMs for the
// first of them; the count read, 0 when nothing came in time, -1 on a read error.
long masterRead(const PtyPair& pair, std::uint8_t* buffer, std::size_t size, int timeoutMs);

void closePtyPair(PtyPair& pair);

} // namespace farlink::platform
