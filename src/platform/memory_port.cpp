#include "platform/memory_port.h"

#include <cerrno>
#include <chrono>

namespace farlink::platform {

MemoryPort::MemoryPort() = default;

void MemoryPort::feed(const std::vector<std::uint8_t>& bytes) {
    {
        std::lock_guard lock(mutex_);
        // A port sensitive to DSR ignores what arrives while the line is off.
        if (state_.dsrSensitivity && !dsr_) return;
        input_.insert(input_.end(), bytes.begin(), bytes.end());
    }
    cv_.notify_all();
}

std::vector<std::uint8_t> MemoryPort::takeWritten() {
    std::lock_guard lock(mutex_);
    std::vector<std::uint8_t> out;
    out.swap(written_);
    return out;
}

bool MemoryPort::waitWritten(std::size_t count, int timeoutMs) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                        [&] { return totalWritten_ >= count; });
}

// Every call stands for a change the station made on the line; a call with the state the line
// already has is a short pulse (off and on again), which a modem monitor must see as well.
void MemoryPort::setDsr(bool on) {
    {
        std::lock_guard lock(mutex_);
        dsr_ = on;
        if (eventMask_ & kCommEventDsr) pendingEvents_ |= kCommEventDsr;
    }
    cv_.notify_all();
}

void MemoryPort::failModemStatus(bool fail) {
    std::lock_guard lock(mutex_);
    failModemStatus_ = fail;
}

bool MemoryPort::dtr() const {
    std::lock_guard lock(mutex_);
    return dtr_;
}

bool MemoryPort::rts() const {
    std::lock_guard lock(mutex_);
    return rts_;
}

CommState MemoryPort::lastState() const {
    std::lock_guard lock(mutex_);
    return state_;
}

CommTimeouts MemoryPort::lastTimeouts() const {
    std::lock_guard lock(mutex_);
    return timeouts_;
}

bool MemoryPort::getState(CommState& state) {
    std::lock_guard lock(mutex_);
    state = state_;
    return true;
}

bool MemoryPort::setState(const CommState& state) {
    std::lock_guard lock(mutex_);
    state_ = state;
    return true;
}

bool MemoryPort::setupQueues(std::uint32_t, std::uint32_t) {
    return true;
}

bool MemoryPort::escape(CommEscape function) {
    std::lock_guard lock(mutex_);
    if (function == CommEscape::SetDtr)
        dtr_ = true;
    else
        rts_ = true;
    return true;
}

bool MemoryPort::setTimeouts(const CommTimeouts& timeouts) {
    std::lock_guard lock(mutex_);
    timeouts_ = timeouts;
    return true;
}

bool MemoryPort::modemStatus(std::uint32_t& status) {
    std::lock_guard lock(mutex_);
    if (failModemStatus_) {
        errno = ENOTTY;
        return false;
    }
    status = dsr_ ? kModemStatusDsr : 0;
    return true;
}

bool MemoryPort::setEventMask(std::uint32_t mask) {
    std::lock_guard lock(mutex_);
    eventMask_ = mask;
    pendingEvents_ &= mask; // a new mask starts without the events it no longer asks for
    return true;
}

WaitOutcome MemoryPort::waitEvent(std::uint32_t& events, int timeoutMs) {
    events = 0;
    std::unique_lock lock(mutex_);
    if (eventMask_ == 0) {
        errno = EINVAL; // a wait with nothing to wait for would never end
        return WaitOutcome::Failed;
    }
    const auto pending = [this] { return pendingEvents_ != 0; };
    if (timeoutMs < 0) {
        cv_.wait(lock, pending);
    } else if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), pending)) {
        return WaitOutcome::TimedOut;
    }
    events = pendingEvents_;
    pendingEvents_ = 0;
    return WaitOutcome::Event;
}

bool MemoryPort::read(std::uint8_t* buffer, std::size_t size, std::size_t& bytesRead) {
    bytesRead = 0;
    std::unique_lock lock(mutex_);
    if (size == 0) return true;
    cv_.wait_for(lock, std::chrono::milliseconds(timeouts_.readTotalConstant),
                 [this] { return !input_.empty(); });
    while (bytesRead < size && !input_.empty()) {
        buffer[bytesRead++] = input_.front();
        input_.pop_front();
    }
    return true;
}

bool MemoryPort::write(const std::uint8_t* bytes, std::size_t size, std::size_t& bytesWritten) {
    {
        std::lock_guard lock(mutex_);
        written_.insert(written_.end(), bytes, bytes + size);
        totalWritten_ += size;
    }
    bytesWritten = size;
    cv_.notify_all();
    return true;
}

} // namespace farlink::platform
