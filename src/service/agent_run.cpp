#include "service/agent_run.h"

#include "config/config_thread.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/service_host.h"
#include "runtime/events.h"
#include "service/service_main.h"

#include <string_view>

namespace farlink::service {

int agentMain(int argc, const char* const* argv) {
    if (argc > 1) {
        platform::printText(std::string_view(argv[1]) == "-v" ? kBanner : kUsage);
        return 1;
    }
    if (!platform::startServiceDispatcher(runtime::kServiceName, serviceMain)) return 1;
    // A SET answered just before the stop may still wait for the configuration thread's next
    // turn: it reaches the file before the process ends.
    config::writePendingConfiguration();
    // The service has reported itself stopped. The port readers see the stop flag within a
    // second, but nothing they hold needs an orderly end, and the configuration thread never
    // ends: the process ends here with them.
    platform::exitProcess(0);
}

} // namespace farlink::service
