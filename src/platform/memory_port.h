// A simulated serial port with modem lines, for tests: what a pseudo-terminal cannot show
// (DSR, DTR/RTS, DSR changes) can be set and seen here.
#pragma once

#include "platform/serial.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace farlink::platform {

class MemoryPort final : public SerialPort {
  public:
    MemoryPort();

    // The station side.
    void feed(const std::vector<std::uint8_t>& bytes); // bytes arriving at the port
    std::vector<std::uint8_t> takeWritten();           // everything written so far
    // Waits up to timeoutMs until at least `count` bytes have been written in all.
    bool waitWritten(std::size_t count, int timeoutMs);
    void setDsr(bool on);            // raises a DSR change event
    void failModemStatus(bool fail); // make modemStatus fail
    bool dtr() const;
    bool rts() const;
    CommState lastState() const;
    CommTimeouts lastTimeouts() const;

    bool getState(CommState& state) override;
    bool setState(const CommState& state) override;
    bool setupQueues(std::uint32_t inputSize, std::uint32_t outputSize) override;
    bool escape(CommEscape function) override;
    bool setTimeouts(const CommTimeouts& timeouts) override;
    bool modemStatus(std::uint32_t& status) override;
    bool setEventMask(std::uint32_t mask) override;
    WaitOutcome waitEvent(std::uint32_t& events, int timeoutMs) override;
    bool read(std::uint8_t* buffer, std::size_t size, std::size_t& bytesRead) override;
    bool write(const std::uint8_t* bytes, std::size_t size, std::size_t& bytesWritten) override;
    std::string deviceName() const override { return "memory"; }

  private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::uint8_t> input_;
    std::vector<std::uint8_t> written_;
    std::size_t totalWritten_ = 0; // all bytes ever written, taken or not
    CommState state_{};
    CommTimeouts timeouts_{};
    bool dsr_ = true;
    bool dtr_ = false;
    bool rts_ = false;
    bool failModemStatus_ = false;
    std::uint32_t eventMask_ = 0;
    std::uint32_t pendingEvents_ = 0;
};

} // namespace farlink::platform
