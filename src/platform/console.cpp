#include "platform/console.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <syslog.h>
#include <unistd.h>

namespace farlink::platform {

namespace {

std::atomic<bool> consoleQuiet{false};

// Several threads print; a line must not be cut by another thread's line.
std::mutex& consoleMutex() {
    static std::mutex mutex;
    return mutex;
}

void writeOut(std::string_view text) {
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
}

bool debugWanted() {
    const char* value = std::getenv("FARLINK_DEBUG");
    return value != nullptr && *value != '\0';
}

} // namespace

void printText(std::string_view text) {
    if (consoleQuiet.load(std::memory_order_relaxed)) return;
    std::lock_guard lock(consoleMutex());
    writeOut(text);
    std::fflush(stdout);
}

void printLineAndPause(std::string_view text) {
    if (consoleQuiet.load(std::memory_order_relaxed)) return;
    {
        std::lock_guard lock(consoleMutex());
        writeOut(text);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    // Only an operator at a terminal can answer the pause; a service's standard input is
    // /dev/null or a pipe, and waiting on it would hang the agent.
    if (::isatty(STDIN_FILENO)) {
        char c;
        ssize_t n;
        do {
            n = ::read(STDIN_FILENO, &c, 1);
        } while (n < 0 && errno == EINTR);
    }
}

void setConsoleQuiet(bool quiet) {
    consoleQuiet.store(quiet, std::memory_order_relaxed);
}

void diagnostic(std::string_view text) {
    if (!debugWanted()) return;
    const int savedErrno = errno; // a diagnostic must not disturb the caller's error code
    // The identity is a literal because syslog keeps the pointer for the life of the process.
    static std::once_flag opened;
    std::call_once(opened, [] { ::openlog("FARLINK", LOG_PID, LOG_DAEMON); });
    ::syslog(LOG_DAEMON | LOG_DEBUG, "%.*s", static_cast<int>(text.size()), text.data());
    errno = savedErrno;
}

int lastError() {
    return errno;
}

void setLastError(int code) {
    errno = code;
}

std::string formatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string out;
    if (needed > 0) {
        out.resize(static_cast<std::size_t>(needed));
        std::vsnprintf(out.data(), out.size() + 1, format, again);
    }
    va_end(again);
    return out;
}

std::string errorText(int code) {
    char buffer[128];
    // The GNU form returns a pointer that may or may not be the buffer.
    return ::strerror_r(code, buffer, sizeof buffer);
}

} // namespace farlink::platform
