// The service entry: the service main routine, the control handler and the status reports.
#pragma once

#include "platform/threads.h"

#include <cstdint>

namespace farlink::service {

// Reports the start, starts the start-up worker, and returns once the service is told to stop
// (or a step of the start fails), having reported it stopped.
void serviceMain();

// Stop (1) and shut-down (5): stop pending, the stop flag, on shut-down the driver's request,
// then the stop event. Every other control is ignored.
void controlHandler(std::uint32_t control);

// Stores the values in the service status and reports it; when the report cannot be delivered
// the stop event is set, so that the service ends. False in that case.
bool reportStatus(std::uint32_t state, std::uint32_t exitCode, std::uint32_t checkPoint,
                  std::uint32_t waitHint);

// The manual-reset event the service main routine waits on.
platform::Event& stopEvent();

} // namespace farlink::service
