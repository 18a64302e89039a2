// The services list and the start and stop of named services.
#pragma once

#include "platform/services.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace farlink::system {

// Takes the list of active drivers once, at start-up, and keeps it (names and display names) for
// the groups that serve it; returns the driver count, 0 when the list cannot be taken.
std::int32_t takeActiveDriverList();

// The list and count of the last take; empty before the first.
std::span<const platform::ServiceEntry> activeDrivers();
std::int32_t activeDriverCount();

// Nonzero on success, 0 on failure.
int startService(std::string_view name);
int stopService(std::string_view name);

} // namespace farlink::system
