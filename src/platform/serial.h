// Serial ports. A port is opened by its Win32 name (COM1 to COM4) and reached on this platform
// through the device that FARLINK_COM1..FARLINK_COM4 name (default /dev/ttyS0../dev/ttyS3).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace farlink::platform {

// Line settings in the shape of the Win32 DCB fields the agent touches.
struct CommState {
    std::uint32_t baudRate = 9600;
    std::uint8_t byteSize = 8;
    std::uint8_t parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t stopBits = 0;   // 0 one, 1 one and a half, 2 two
    bool dsrSensitivity = false; // received bytes are ignored while DSR is off
};

struct CommTimeouts {
    std::uint32_t readInterval = 0;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 0;
    std::uint32_t writeTotalConstant = 0;
};

inline constexpr std::uint32_t kModemStatusDsr = 0x20; // modem status bit: DSR on
inline constexpr std::uint32_t kCommEventDsr = 0x10;   // event mask bit: DSR changed

enum class CommEscape { SetDtr, SetRts };

enum class WaitOutcome { Event, TimedOut, Failed };

class SerialPort {
  public:
    virtual ~SerialPort() = default;
    virtual bool getState(CommState& state) = 0;
    virtual bool setState(const CommState& state) = 0;
    virtual bool setupQueues(std::uint32_t inputSize, std::uint32_t outputSize) = 0;
    virtual bool escape(CommEscape function) = 0;
    virtual bool setTimeouts(const CommTimeouts& timeouts) = 0;
    // Fails on a device without modem lines (a pseudo-terminal).
    virtual bool modemStatus(std::uint32_t& status) = 0;
    // Fails on a device without modem lines.
    virtual bool setEventMask(std::uint32_t mask) = 0;
    // Waits up to timeoutMs (negative: without limit) for an event of the mask; the events that
    // occurred are stored in `events`.
    virtual WaitOutcome waitEvent(std::uint32_t& events, int timeoutMs) = 0;
    // Reads up to `size` bytes: returns as soon as any bytes have arrived, or with none once the
    // read total time-out constant has passed. false on a read error.
    virtual bool read(std::uint8_t* buffer, std::size_t size, std::size_t& bytesRead) = 0;
    // Hands the bytes to the port whole; false on a write error.
    virtual bool write(const std::uint8_t* bytes, std::size_t size, std::size_t& bytesWritten) = 0;
    virtual std::string deviceName() const = 0;
};

using PortHandle = SerialPort*;

// The device path behind a port name such as "COM2" (any case).
std::string serialDevicePath(std::string_view portName);

// Opens the port for reading and writing, not shared; nullptr (last error set) when it fails.
PortHandle openSerialPort(std::string_view portName);
void closeSerialPort(PortHandle port);

} // namespace farlink::platform
