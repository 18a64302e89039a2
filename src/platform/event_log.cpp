#include "platform/event_log.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <syslog.h>
#include <unistd.h>

namespace farlink::platform {

namespace {

constexpr std::uint16_t kErrorType = 1;
constexpr std::uint16_t kInformationType = 4;

enum class Backend { Closed, Syslog, File, Memory };

// One lock over the backend choice, the file and the in-memory list: entries come from many
// threads, and a close must not pull the file from under a write.
struct EventLogState {
    std::mutex mutex;
    Backend backend = Backend::Closed;
    int fd = -1;
    std::vector<LoggedEvent> memory;
};

EventLogState& state() {
    static EventLogState s;
    return s;
}

std::string entryLine(std::string line, std::string_view text) {
    // One entry is one line: a line break inside the text would split it for every reader of
    // the file, so it is written as a blank.
    for (char c : text)
        line += (c == '\n' || c == '\r') ? ' ' : c;
    return line;
}

// The whole line goes out in one write: with O_APPEND the kernel places it at the end as one
// piece, so entries of several threads or processes never interleave within a line.
bool appendLine(int fd, const std::string& line) {
    std::string out = line + '\n';
    ssize_t n;
    do {
        n = ::write(fd, out.data(), out.size());
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(out.size());
}

// The fake clock of the tests. It is set before the threads under test start and moved between
// their steps, so each field on its own being atomic is all the consistency it needs.
struct FakeClock {
    std::atomic<bool> active{false};
    std::atomic<std::uint64_t> startMs{0};
    std::atomic<std::uint64_t> nowMs{0};
    std::atomic<std::uint32_t> startSecondsOfDay{0};
};

FakeClock& fakeClock() {
    static FakeClock clock;
    return clock;
}

constexpr std::uint32_t kSecondsPerDay = 24 * 60 * 60;

} // namespace

bool openEventSource(std::string_view /*sourceName*/) {
    EventLogState& s = state();
    std::lock_guard lock(s.mutex);
    if (s.backend != Backend::Closed) return true; // already registered (or in memory)
    const char* file = std::getenv("FARLINK_EVENTLOG");
    if (file != nullptr && *file != '\0') {
        const int fd = ::open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0) return false;
        s.fd = fd;
        s.backend = Backend::File;
        return true;
    }
    // The identity is fixed and a literal: syslog keeps the pointer, and the journal groups
    // the agent's entries under this one name whatever the source was called.
    ::openlog("FARLINK", LOG_PID, LOG_DAEMON);
    s.backend = Backend::Syslog;
    return true;
}

void closeEventSource() {
    EventLogState& s = state();
    std::lock_guard lock(s.mutex);
    if (s.backend == Backend::File) ::close(s.fd);
    s.fd = -1;
    // The syslog connection is left to the C library: closing it would also drop the identity
    // that the diagnostics share. The in-memory list stays open for the test that chose it.
    if (s.backend != Backend::Memory) s.backend = Backend::Closed;
}

bool eventSourceOpen() {
    EventLogState& s = state();
    std::lock_guard lock(s.mutex);
    return s.backend != Backend::Closed;
}

namespace {

std::string eventPrefix(std::uint32_t eventId) {
    char id[16];
    std::snprintf(id, sizeof id, "0x%08X ", static_cast<unsigned>(eventId));
    return id;
}

bool writeEntry(std::uint32_t eventId, std::uint16_t type, std::string_view text) {
    EventLogState& s = state();
    std::lock_guard lock(s.mutex);
    const std::string prefix = type == kErrorType ? eventPrefix(eventId) : std::string("info ");
    switch (s.backend) {
    case Backend::Closed:
        return false;
    case Backend::Syslog: {
        const std::string line = entryLine(prefix, text);
        ::syslog(LOG_DAEMON | (type == kErrorType ? LOG_ERR : LOG_INFO), "%s", line.c_str());
        return true;
    }
    case Backend::File:
        return appendLine(s.fd, entryLine(prefix, text));
    case Backend::Memory:
        s.memory.push_back(LoggedEvent{eventId, type, 0, {std::string(text)}});
        return true;
    }
    return false;
}

} // namespace

bool writeEventEntry(std::uint32_t eventId, std::string_view text) {
    return writeEntry(eventId, kErrorType, text);
}

bool writeInfoEntry(std::string_view text) {
    return writeEntry(0, kInformationType, text);
}

void useMemoryEventLog() {
    EventLogState& s = state();
    std::lock_guard lock(s.mutex);
    if (s.backend == Backend::File) ::close(s.fd);
    s.fd = -1;
    s.backend = Backend::Memory;
}

std::vector<LoggedEvent> loggedEvents() {
    EventLogState& s = state();
    std::lock_guard lock(s.mutex);
    return s.memory;
}

void clearLoggedEvents() {
    EventLogState& s = state();
    std::lock_guard lock(s.mutex);
    s.memory.clear();
}

std::uint64_t monotonicMs() {
    const FakeClock& fake = fakeClock();
    if (fake.active.load(std::memory_order_relaxed))
        return fake.nowMs.load(std::memory_order_relaxed);
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000 +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000;
}

std::string localTimeOfDay() {
    int hour = 0;
    int minute = 0;
    int second = 0;
    const FakeClock& fake = fakeClock();
    if (fake.active.load(std::memory_order_relaxed)) {
        const std::uint64_t elapsed = fake.nowMs.load(std::memory_order_relaxed) -
                                      fake.startMs.load(std::memory_order_relaxed);
        const auto ofDay = static_cast<std::uint32_t>(
            (fake.startSecondsOfDay.load(std::memory_order_relaxed) + elapsed / 1000) %
            kSecondsPerDay);
        hour = static_cast<int>(ofDay / 3600);
        minute = static_cast<int>(ofDay / 60 % 60);
        second = static_cast<int>(ofDay % 60);
    } else {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        if (::localtime_r(&now, &local) != nullptr) {
            hour = local.tm_hour;
            minute = local.tm_min;
            second = local.tm_sec;
        }
    }
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", hour, minute, second);
    return text;
}

void useFakeClock(std::uint64_t ms, std::uint32_t secondsOfDay) {
    FakeClock& fake = fakeClock();
    fake.startMs.store(ms, std::memory_order_relaxed);
    fake.nowMs.store(ms, std::memory_order_relaxed);
    fake.startSecondsOfDay.store(secondsOfDay % kSecondsPerDay, std::memory_order_relaxed);
    fake.active.store(true, std::memory_order_relaxed);
}

void advanceFakeClock(std::uint64_t ms) {
    fakeClock().nowMs.fetch_add(ms, std::memory_order_relaxed);
}

void useRealClock() {
    fakeClock().active.store(false, std::memory_order_relaxed);
}

} // namespace farlink::platform
