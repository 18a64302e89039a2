// The service host: how this program runs as a service and hears its controls.
//
// Under systemd (NOTIFY_SOCKET set; unit Type=notify) states are reported with sd_notify:
// start pending -> "STATUS=Starting", running -> "READY=1", stop pending -> "STOPPING=1",
// stopped -> "STATUS=Stopped". Outside systemd the same runs in the foreground and reports
// nothing. Controls: SIGTERM and SIGINT are stop (1); SIGPWR, and a SIGTERM that arrives while
// systemd reports the system as stopping, are shut-down (5).
#pragma once

#include <cstdint>
#include <string_view>

namespace farlink::platform {

inline constexpr std::uint32_t kControlStop = 1;
inline constexpr std::uint32_t kControlInterrogate = 4;
inline constexpr std::uint32_t kControlShutdown = 5;

inline constexpr std::uint32_t kStateStopped = 1;
inline constexpr std::uint32_t kStateStartPending = 2;
inline constexpr std::uint32_t kStateStopPending = 3;
inline constexpr std::uint32_t kStateRunning = 4;

struct ServiceStatus {
    std::uint32_t serviceType = 0x10;
    std::uint32_t currentState = 0;
    std::uint32_t controlsAccepted = 0;
    std::uint32_t win32ExitCode = 0;
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;
};

using ServiceMainRoutine = void (*)();
using ControlHandler = void (*)(std::uint32_t control);

// Runs the service main routine on the calling thread; controls are turned into calls of the
// registered handler on a dispatcher thread of their own. Returns when the routine returns;
// false when the dispatcher cannot start.
bool startServiceDispatcher(std::string_view serviceName, ServiceMainRoutine serviceMain);

// Registers the control handler; false when it cannot be registered.
bool registerControlHandler(std::string_view serviceName, ControlHandler handler);

// Reports the status; false when the report cannot be delivered.
bool setServiceStatus(const ServiceStatus& status);

// A program that must not be called ready before it serves calls this before it reports the
// running state: from then on the running state sends only "STATUS=Running", and reportReady
// sends "READY=1" once the program serves.
void deferReadiness();

// "READY=1", with a status line for the operator ("STATUS=<text>") unless the text is empty.
bool reportReady(std::string_view statusText);

// A status line for the operator alone; systemctl status shows the latest.
bool reportStatusText(std::string_view statusText);

// Test hooks: deliver a control as if the system had sent it, and see the last status reported
// and the sd_notify lines sent.
void deliverControl(std::uint32_t control);
ServiceStatus lastReportedStatus();

} // namespace farlink::platform
