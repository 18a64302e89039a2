#include "service/agent_run.h"

#include "config/agent_settings.h"
#include "link/serial_setup.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/threads.h"
#include "service/events.h"
#include "service/stop_flag.h"

#include <string_view>

namespace farlink::service {

namespace {

// Readers notice the stop flag within a second; give them a little more before leaving.
constexpr int kStopGraceMs = 1500;
constexpr int kStopPollMs = 50;

int runUntilStopped() {
    platform::blockStopSignals();
    registerEventSource();
    config::readAgentSettings();
    platform::startThread([] { link::outOfBandThread(); });
    platform::waitForStopSignal();
    stopFlag.store(1, std::memory_order_relaxed);
    for (int waited = 0; platform::runningThreads() > 0 && waited < kStopGraceMs;
         waited += kStopPollMs)
        platform::sleepMs(kStopPollMs);
    deregisterEventSource();
    // A modem monitor may still sit in its wait; nothing of the process is needed any more.
    platform::exitProcess(0);
}

} // namespace

int agentMain(int argc, const char* const* argv) {
    if (argc > 1) {
        platform::printText(std::string_view(argv[1]) == "-v" ? kBanner : kUsage);
        return 1;
    }
    return runUntilStopped();
}

} // namespace farlink::service
