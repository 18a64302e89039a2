#include "service/service_main.h"

#include "platform/event_log.h"
#include "platform/service_host.h"
#include "runtime/events.h"
#include "runtime/koru.h"
#include "runtime/stop_flag.h"
#include "service/startup.h"

#include <mutex>

namespace farlink::service {

namespace {

constexpr std::uint32_t kPendingWaitHintMs = 3000;
constexpr std::uint32_t kAcceptStopAndShutdown = 5;

// The handler (on the dispatcher's thread) and the main routine both report; one lock keeps the
// record whole and the reports in the order their values were stored.
std::mutex statusMutex;
platform::ServiceStatus serviceStatus;

platform::Event stopEventObject{true};

void setControlsAccepted(std::uint32_t controls) {
    std::lock_guard lock(statusMutex);
    serviceStatus.controlsAccepted = controls;
}

// The stop flag is set before anyone is woken by the event: whoever wakes finds it set.
void stopOnControl(bool shutdown) {
    reportStatus(platform::kStateStopPending, 0, 1, kPendingWaitHintMs);
    runtime::stopFlag.store(1);
    if (shutdown) runtime::sendShutdownRequest();
    stopEventObject.set();
}

void cleanUp(bool handlerRegistered) {
    if (platform::eventSourceOpen()) runtime::deregisterEventSource();
    if (handlerRegistered) reportStatus(platform::kStateStopped, 0, 0, 0);
}

} // namespace

platform::Event& stopEvent() {
    return stopEventObject;
}

bool reportStatus(std::uint32_t state, std::uint32_t exitCode, std::uint32_t checkPoint,
                  std::uint32_t waitHint) {
    bool delivered;
    {
        std::lock_guard lock(statusMutex);
        serviceStatus.currentState = state;
        serviceStatus.win32ExitCode = exitCode;
        serviceStatus.checkPoint = checkPoint;
        serviceStatus.waitHint = waitHint;
        delivered = platform::setServiceStatus(serviceStatus);
    }
    if (!delivered) stopEventObject.set();
    return delivered;
}

void controlHandler(std::uint32_t control) {
    switch (control) {
    case platform::kControlStop:
        stopOnControl(false);
        break;
    case platform::kControlShutdown:
        stopOnControl(true);
        break;
    default:
        break;
    }
}

void serviceMain() {
    // Running means the service has started its work; ready means it serves, which the start-up
    // worker says once its checks have passed and its threads run.
    platform::deferReadiness();
    if (!platform::registerControlHandler(runtime::kServiceName, controlHandler)) {
        cleanUp(false);
        return;
    }
    {
        std::lock_guard lock(statusMutex);
        serviceStatus.serviceType = 0x10;
        serviceStatus.serviceSpecificExitCode = 0;
        serviceStatus.controlsAccepted = 0;
    }
    if (!reportStatus(platform::kStateStartPending, 0, 1, kPendingWaitHintMs)) {
        cleanUp(true);
        return;
    }
    // The event starts unsignalled; a stop that came before this point has set the flag already
    // and is carried over, so it is not lost.
    stopEventObject.reset();
    if (runtime::stopFlag.load() == 1) stopEventObject.set();
    if (!reportStatus(platform::kStateStartPending, 0, 2, kPendingWaitHintMs)) {
        cleanUp(true);
        return;
    }
    if (!startAgentThread([] { startUpWorker(); })) {
        cleanUp(true);
        return;
    }
    setControlsAccepted(kAcceptStopAndShutdown);
    if (!reportStatus(platform::kStateRunning, 0, 0, 0)) {
        cleanUp(true);
        return;
    }
    stopEventObject.wait(-1);
    cleanUp(true);
}

} // namespace farlink::service
