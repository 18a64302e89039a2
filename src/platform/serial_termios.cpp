#include "platform/serial.h"
#include "platform/serial_speed.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace farlink::platform {

namespace {

constexpr std::uint32_t kModemStatusCts = 0x10;
constexpr std::uint32_t kModemStatusRing = 0x40;
constexpr std::uint32_t kModemStatusRlsd = 0x80;

// How often a bounded wait for a DSR change samples the line.
constexpr int kDsrPollMs = 100;

struct SpeedCode {
    std::uint32_t baud;
    speed_t code;
};

// Rates with a termios constant; any other rate goes through the exact-speed interface.
constexpr std::array<SpeedCode, 11> kSpeedCodes{{
    {110, B110},
    {300, B300},
    {600, B600},
    {1200, B1200},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
}};

bool speedCodeFor(std::uint32_t baud, speed_t& code) {
    for (const SpeedCode& entry : kSpeedCodes) {
        if (entry.baud == baud) {
            code = entry.code;
            return true;
        }
    }
    return false;
}

bool baudFor(speed_t code, std::uint32_t& baud) {
    for (const SpeedCode& entry : kSpeedCodes) {
        if (entry.code == code) {
            baud = entry.baud;
            return true;
        }
    }
    return false;
}

// The line flags that setState decides; they must read back as written.
constexpr tcflag_t kLineFlags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CLOCAL | CREAD;
// The character framing. A pseudo-terminal carries whole bytes with no wire to frame them, and
// the kernel may hold it at eight bits without parity whatever is asked.
constexpr tcflag_t kFramingFlags = CSIZE | PARENB | PARODD | CMSPAR;

// Unix 98 pseudo-terminal slaves have these device majors.
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;

bool isPseudoTerminal(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) return false;
    const unsigned major = ::major(info.st_rdev);
    return major >= kPtySlaveMajorFirst && major <= kPtySlaveMajorLast;
}

// Writes the settings and judges the outcome by what the device then holds: tcsetattr reports
// success when any part applied, and on a pseudo-terminal it can report a failure for a part it
// did apply. Settings that read back as written are a success, anything else a failure; on a
// pseudo-terminal the framing it cannot hold is not asked of it.
bool applySettings(int fd, const termios& wanted, bool compareSpeed) {
    const int rc = ::tcsetattr(fd, TCSANOW, &wanted);
    const int setErrno = errno;
    termios actual{};
    if (::tcgetattr(fd, &actual) != 0) return false;
    const tcflag_t compared = isPseudoTerminal(fd) ? kLineFlags & ~kFramingFlags : kLineFlags;
    const bool same = (actual.c_cflag & compared) == (wanted.c_cflag & compared) &&
                      actual.c_iflag == wanted.c_iflag && actual.c_oflag == wanted.c_oflag &&
                      actual.c_lflag == wanted.c_lflag &&
                      (!compareSpeed || ::cfgetospeed(&actual) == ::cfgetospeed(&wanted));
    if (same) return true;
    errno = rc != 0 ? setErrno : EINVAL;
    return false;
}

// The modem lines; false (errno set) on a device that has none, such as a pseudo-terminal.
bool modemLines(int fd, int& bits) {
    return ::ioctl(fd, TIOCMGET, &bits) == 0;
}

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, INT_MAX));
}

// A Win32 total time-out: multiplier per byte plus constant, in milliseconds.
int totalTimeoutMs(std::uint32_t multiplier, std::uint32_t constant, std::size_t size) {
    const unsigned long long total = static_cast<unsigned long long>(multiplier) * size +
                                     static_cast<unsigned long long>(constant);
    return static_cast<int>(std::min<unsigned long long>(total, INT_MAX));
}

class TermiosPort final : public SerialPort {
  public:
    TermiosPort(int fd, std::string device) : fd_(fd), device_(std::move(device)) {}
    ~TermiosPort() override { ::close(fd_); }
    TermiosPort(const TermiosPort&) = delete;
    TermiosPort& operator=(const TermiosPort&) = delete;

    bool getState(CommState& state) override {
        termios settings{};
        if (::tcgetattr(fd_, &settings) != 0) return false;
        std::uint32_t baud = 0;
        if (!baudFor(::cfgetospeed(&settings), baud) && !readExactLineSpeed(fd_, baud)) {
            return false;
        }
        state.baudRate = baud;
        switch (settings.c_cflag & CSIZE) {
        case CS5:
            state.byteSize = 5;
            break;
        case CS6:
            state.byteSize = 6;
            break;
        case CS7:
            state.byteSize = 7;
            break;
        default:
            state.byteSize = 8;
            break;
        }
        if (!(settings.c_cflag & PARENB))
            state.parity = 0;
        else if (settings.c_cflag & CMSPAR)
            state.parity = (settings.c_cflag & PARODD) ? 3 : 4;
        else
            state.parity = (settings.c_cflag & PARODD) ? 1 : 2;
        state.stopBits = (settings.c_cflag & CSTOPB) ? 2 : 0;
        state.dsrSensitivity = dsrSensitivity_.load(std::memory_order_relaxed);
        return true;
    }

    bool setState(const CommState& state) override {
        tcflag_t size = 0;
        switch (state.byteSize) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        case 8:
            size = CS8;
            break;
        default: // 4 data bits (which the line accepts on other systems) cannot be had here
            errno = EINVAL;
            return false;
        }
        tcflag_t parity = 0;
        switch (state.parity) {
        case 0:
            break;
        case 1:
            parity = PARENB | PARODD;
            break;
        case 2:
            parity = PARENB;
            break;
        case 3:
            parity = PARENB | CMSPAR | PARODD;
            break;
        case 4:
            parity = PARENB | CMSPAR;
            break;
        default:
            errno = EINVAL;
            return false;
        }
        // One and a half stop bits have no termios setting.
        if (state.stopBits != 0 && state.stopBits != 2) {
            errno = EINVAL;
            return false;
        }
        // Rate 0 would mean "hang up" to the terminal layer.
        if (state.baudRate == 0) {
            errno = EINVAL;
            return false;
        }

        termios settings{};
        if (::tcgetattr(fd_, &settings) != 0) return false;
        settings.c_cflag &= ~kLineFlags;
        settings.c_cflag |= size | parity | CLOCAL | CREAD;
        if (state.stopBits == 2) settings.c_cflag |= CSTOPB;
        speed_t code;
        const bool standardRate = speedCodeFor(state.baudRate, code);
        if (standardRate && ::cfsetspeed(&settings, code) != 0) return false;
        if (!applySettings(fd_, settings, standardRate)) return false;
        if (!standardRate && !setExactLineSpeed(fd_, state.baudRate)) return false;
        dsrSensitivity_.store(state.dsrSensitivity, std::memory_order_relaxed);
        return true;
    }

    // The kernel's queues are fixed; the agent's sizes are what they already hold.
    bool setupQueues(std::uint32_t, std::uint32_t) override { return true; }

    bool escape(CommEscape function) override {
        const int bit = function == CommEscape::SetDtr ? TIOCM_DTR : TIOCM_RTS;
        if (::ioctl(fd_, TIOCMBIS, &bit) == 0) return true;
        // A device without modem lines has nothing to assert, and its line works without them.
        return errno == ENOTTY || errno == EINVAL;
    }

    bool setTimeouts(const CommTimeouts& timeouts) override {
        std::lock_guard lock(timeoutsMutex_);
        timeouts_ = timeouts;
        return true;
    }

    bool modemStatus(std::uint32_t& status) override {
        int bits = 0;
        if (!modemLines(fd_, bits)) return false;
        status = 0;
        if (bits & TIOCM_CTS) status |= kModemStatusCts;
        if (bits & TIOCM_DSR) status |= kModemStatusDsr;
        if (bits & TIOCM_RNG) status |= kModemStatusRing;
        if (bits & TIOCM_CD) status |= kModemStatusRlsd;
        return true;
    }

    bool setEventMask(std::uint32_t mask) override {
        int bits = 0;
        if (!modemLines(fd_, bits)) return false;
        lastDsr_.store((bits & TIOCM_DSR) != 0, std::memory_order_relaxed);
        eventMask_.store(mask, std::memory_order_relaxed);
        return true;
    }

    WaitOutcome waitEvent(std::uint32_t& events, int timeoutMs) override {
        events = 0;
        if (!(eventMask_.load(std::memory_order_relaxed) & kCommEventDsr)) {
            errno = EINVAL; // nothing to wait for: DSR changes are the only events kept
            return WaitOutcome::Failed;
        }
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            // A change since the mask was set or since the last wait counts at once, so a change
            // that falls between two bounded waits is not lost.
            bool dsr = false;
            if (!dsrOn(dsr)) return WaitOutcome::Failed;
            if (dsr != lastDsr_.load(std::memory_order_relaxed)) {
                lastDsr_.store(dsr, std::memory_order_relaxed);
                events = kCommEventDsr;
                return WaitOutcome::Event;
            }
            if (timeoutMs < 0) break;
            const int left = millisecondsLeft(deadline);
            if (left == 0) return WaitOutcome::TimedOut;
            ::poll(nullptr, 0, std::min(left, kDsrPollMs));
        }
        // Without a limit the kernel wakes us at the change.
        while (::ioctl(fd_, TIOCMIWAIT, TIOCM_DSR) != 0) {
            if (errno != EINTR) return WaitOutcome::Failed;
        }
        bool dsr = false;
        if (dsrOn(dsr)) lastDsr_.store(dsr, std::memory_order_relaxed);
        events = kCommEventDsr;
        return WaitOutcome::Event;
    }

    bool read(std::uint8_t* buffer, std::size_t size, std::size_t& bytesRead) override {
        bytesRead = 0;
        if (size == 0) return true;
        CommTimeouts timeouts;
        {
            std::lock_guard lock(timeoutsMutex_);
            timeouts = timeouts_;
        }
        const Clock::time_point deadline =
            Clock::now() + std::chrono::milliseconds(totalTimeoutMs(
                               timeouts.readTotalMultiplier, timeouts.readTotalConstant, size));
        for (;;) {
            pollfd entry{fd_, POLLIN, 0};
            const int ready = ::poll(&entry, 1, millisecondsLeft(deadline));
            if (ready < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            if (ready == 0) return true; // time-out: nothing arrived
            const ssize_t n = ::read(fd_, buffer, size);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
                return false; // EIO once the other end has gone, among others
            }
            if (n == 0) {
                // Readable yet empty: the line was hung up.
                errno = EIO;
                return false;
            }
            if (!droppingInput()) {
                bytesRead = static_cast<std::size_t>(n);
                return true;
            }
            // DSR is off and the port is sensitive to it: what came is noise, wait on.
            if (millisecondsLeft(deadline) == 0) return true;
        }
    }

    bool write(const std::uint8_t* bytes, std::size_t size, std::size_t& bytesWritten) override {
        bytesWritten = 0;
        CommTimeouts timeouts;
        {
            std::lock_guard lock(timeoutsMutex_);
            timeouts = timeouts_;
        }
        const int limit =
            totalTimeoutMs(timeouts.writeTotalMultiplier, timeouts.writeTotalConstant, size);
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limit);
        // The reader's replies and the monitor's init strings share the line; each write goes
        // out whole before the other's starts.
        std::lock_guard lock(writeMutex_);
        while (bytesWritten < size) {
            const ssize_t n = ::write(fd_, bytes + bytesWritten, size - bytesWritten);
            if (n > 0) {
                bytesWritten += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
            // The output queue is full: wait until the line has taken some of it. A zero total
            // time-out means no limit, as on the system the agent was made for.
            pollfd entry{fd_, POLLOUT, 0};
            const int ready = ::poll(&entry, 1, limit == 0 ? -1 : millisecondsLeft(deadline));
            if (ready < 0 && errno != EINTR) return false;
            if (ready == 0) {
                errno = ETIMEDOUT;
                return false;
            }
            if (ready > 0 && (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) &&
                !(entry.revents & POLLOUT)) {
                errno = EIO;
                return false;
            }
        }
        return true;
    }

    std::string deviceName() const override { return device_; }

  private:
    bool dsrOn(bool& on) {
        int bits = 0;
        if (!modemLines(fd_, bits)) return false;
        on = (bits & TIOCM_DSR) != 0;
        return true;
    }

    // True while received bytes are to be thrown away: DSR off on a port sensitive to it. A
    // device without modem lines never drops anything, and once it has shown it has none it is
    // not asked again on every read.
    bool droppingInput() {
        if (!dsrSensitivity_.load(std::memory_order_relaxed) ||
            withoutModemLines_.load(std::memory_order_relaxed))
            return false;
        bool dsr = true;
        if (dsrOn(dsr)) return !dsr;
        if (errno == ENOTTY || errno == EINVAL)
            withoutModemLines_.store(true, std::memory_order_relaxed);
        return false;
    }

    const int fd_;
    const std::string device_;
    std::mutex timeoutsMutex_;
    CommTimeouts timeouts_{};
    std::mutex writeMutex_;
    std::atomic<bool> dsrSensitivity_{false};
    std::atomic<bool> withoutModemLines_{false};
    std::atomic<std::uint32_t> eventMask_{0};
    std::atomic<bool> lastDsr_{false};
};

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

} // namespace

std::string serialDevicePath(std::string_view portName) {
    std::string name;
    for (char c : portName)
        name += upperAscii(c);
    if (name.size() != 4 || name.compare(0, 3, "COM") != 0 || name[3] < '1' || name[3] > '4') {
        return {};
    }
    const std::string variable = "FARLINK_" + name;
    const char* configured = std::getenv(variable.c_str());
    if (configured != nullptr && *configured != '\0') return configured;
    return std::string("/dev/ttyS") + static_cast<char>(name[3] - 1);
}

PortHandle openSerialPort(std::string_view portName) {
    const std::string device = serialDevicePath(portName);
    if (device.empty()) {
        errno = ENOENT; // no such port, as for a name the system does not know
        return nullptr;
    }
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    const auto fail = [fd](int code) -> PortHandle {
        ::close(fd);
        errno = code;
        return nullptr;
    };
    // Not shared: a second opener, in this process or another, is turned away. The lock holds
    // for any user; TIOCEXCL also keeps out programs that do not take the lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno);
    if (::ioctl(fd, TIOCEXCL) != 0) return fail(errno);

    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) return fail(errno);
    ::cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~CRTSCTS;
    // One byte satisfies a read; the port's own time-outs bound the waiting, through poll.
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (!applySettings(fd, settings, true)) return fail(errno);
    auto* port = new (std::nothrow) TermiosPort(fd, device);
    if (port == nullptr) return fail(ENOMEM);
    return port;
}

void closeSerialPort(PortHandle port) {
    delete port;
}

} // namespace farlink::platform
