#include "platform/service_host.h"

#include "platform/systemd_host.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace farlink::platform {

namespace {

constexpr int kErrorInvalidParameter = 87;

// Asking systemd whether the system goes down must not hold a stop for long.
constexpr int kSystemStateTimeoutMs = 1000;

std::atomic<ControlHandler> registeredHandler{nullptr};
std::atomic<bool> readinessDeferred{false};

// The start-up worker may pass its checks before the main thread has said Running; what it says
// then is held and sent after Running, so systemd never sees "ready" before "running" nor a
// "Serving ..." status overwritten by "Running".
std::mutex readinessMutex;
bool runningReported = false;
std::vector<std::string> heldMessages;

std::mutex& statusMutex() {
    static std::mutex mutex;
    return mutex;
}
ServiceStatus reportedStatus;

std::mutex& dispatcherMutex() {
    static std::mutex mutex;
    return mutex;
}
bool dispatcherRunning = false;

sigset_t controlSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGPWR);
    return set;
}

// systemd stops every service with SIGTERM, at a shut-down as well as at a plain stop; only its
// own state tells the two apart.
bool systemGoingDown() {
    if (!systemdRunsHost()) return false;
    std::string state;
    runSystemctl({"is-system-running"}, &state, kSystemStateTimeoutMs);
    while (!state.empty() && (state.back() == '\n' || state.back() == ' '))
        state.pop_back();
    return state == "stopping";
}

std::uint32_t controlForSignal(int signalNumber) {
    if (signalNumber == SIGPWR) return kControlShutdown;
    if (signalNumber == SIGTERM && systemGoingDown()) return kControlShutdown;
    return kControlStop;
}

// The dispatcher lives until the process ends: it is detached and, once the service routine has
// returned, the process ends around it.
void* dispatcherMain(void*) {
    const sigset_t set = controlSignals();
    for (;;) {
        int signalNumber = 0;
        if (sigwait(&set, &signalNumber) != 0) continue;
        deliverControl(controlForSignal(signalNumber));
    }
    return nullptr;
}

bool startDispatcher() {
    std::lock_guard lock(dispatcherMutex());
    if (dispatcherRunning) return true;
    pthread_attr_t attributes;
    int rc = pthread_attr_init(&attributes);
    if (rc == 0) {
        rc = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        pthread_t thread;
        if (rc == 0) rc = pthread_create(&thread, &attributes, dispatcherMain, nullptr);
        pthread_attr_destroy(&attributes);
    }
    if (rc != 0) {
        errno = rc;
        return false;
    }
    dispatcherRunning = true;
    return true;
}

// The sd_notify lines for a state; empty for states systemd has no word for.
std::string notifyMessage(std::uint32_t state) {
    switch (state) {
    case kStateStartPending:
        return "STATUS=Starting";
    case kStateRunning:
        return readinessDeferred.load(std::memory_order_relaxed) ? "STATUS=Running"
                                                                 : "READY=1\nSTATUS=Running";
    case kStateStopPending:
        return "STOPPING=1\nSTATUS=Stopping";
    case kStateStopped:
        return "STATUS=Stopped";
    default:
        return {};
    }
}

// One datagram to the socket systemd named; a name starting with '@' is in the abstract
// namespace, written with a leading zero byte.
bool sendNotify(const char* socketName, const std::string& message) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t length = std::strlen(socketName);
    if ((socketName[0] != '/' && socketName[0] != '@') || length < 2) {
        errno = EAFNOSUPPORT;
        return false;
    }
    if (length > sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(address.sun_path, socketName, length);
    if (address.sun_path[0] == '@') address.sun_path[0] = '\0';
    const auto addressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);

    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ssize_t sent;
    do {
        sent = ::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&address), addressLength);
    } while (sent < 0 && errno == EINTR);
    const int sendError = errno;
    ::close(fd);
    if (sent != static_cast<ssize_t>(message.size())) {
        errno = sent < 0 ? sendError : EMSGSIZE;
        return false;
    }
    return true;
}

// Sends the lines to the socket systemd named; outside systemd nobody listens and the lines
// count as delivered.
bool notify(const std::string& message) {
    const char* socketName = std::getenv("NOTIFY_SOCKET");
    if (socketName == nullptr || *socketName == '\0') return true;
    return sendNotify(socketName, message);
}

// A status text is one line of the notify message.
std::string statusLine(std::string_view text) {
    std::string line = "STATUS=";
    for (char c : text)
        line += (c == '\n' || c == '\r') ? ' ' : c;
    return line;
}

bool notifyOrHold(std::string message) {
    std::lock_guard lock(readinessMutex);
    if (readinessDeferred.load(std::memory_order_relaxed) && !runningReported) {
        heldMessages.push_back(std::move(message));
        return true;
    }
    return notify(message);
}

} // namespace

// The controls arrive as signals. They are blocked here, before any other thread exists, so
// every thread the service starts inherits the block and only the dispatcher's sigwait takes
// them; a thread without it would let the default action end the process without an orderly
// stop.
bool startServiceDispatcher(std::string_view /*serviceName*/, ServiceMainRoutine serviceMain) {
    // One process is one service under systemd, so the name selects nothing here.
    if (serviceMain == nullptr) {
        errno = kErrorInvalidParameter;
        return false;
    }
    const sigset_t set = controlSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    if (!startDispatcher()) return false;
    serviceMain();
    return true;
}

bool registerControlHandler(std::string_view /*serviceName*/, ControlHandler handler) {
    if (handler == nullptr) {
        errno = kErrorInvalidParameter;
        return false;
    }
    registeredHandler.store(handler, std::memory_order_relaxed);
    return true;
}

bool setServiceStatus(const ServiceStatus& status) {
    {
        std::lock_guard lock(statusMutex());
        reportedStatus = status;
    }
    const std::string message = notifyMessage(status.currentState);
    // The report is kept whether or not anybody listens.
    if (message.empty()) return true;
    if (status.currentState != kStateRunning) return notify(message);
    std::lock_guard lock(readinessMutex);
    bool sent = notify(message);
    runningReported = true;
    for (const std::string& held : heldMessages)
        sent = notify(held) && sent;
    heldMessages.clear();
    return sent;
}

void deferReadiness() {
    std::lock_guard lock(readinessMutex);
    readinessDeferred.store(true, std::memory_order_relaxed);
    runningReported = false;
    heldMessages.clear();
}

bool reportReady(std::string_view statusText) {
    return notifyOrHold(statusText.empty() ? std::string("READY=1")
                                           : "READY=1\n" + statusLine(statusText));
}

bool reportStatusText(std::string_view statusText) {
    return notifyOrHold(statusLine(statusText));
}

void deliverControl(std::uint32_t control) {
    const ControlHandler handler = registeredHandler.load(std::memory_order_relaxed);
    if (handler != nullptr) handler(control);
}

ServiceStatus lastReportedStatus() {
    std::lock_guard lock(statusMutex());
    return reportedStatus;
}

} // namespace farlink::platform
