// The two temperature limits the KORU driver holds, and the agent's copy of them ("temp1" and
// "temp2" of the agent settings).
#pragma once

#include <cstdint>

namespace farlink::system {

// The driver takes a limit as 16 bits; a value that does not fit would reach it changed, so it
// is refused before anything is sent.
bool fitsTemperatureLimit(std::int32_t value);

// Sends (low, high) to the driver in the order that never leaves the driver with a lower limit
// above its upper one: low first when the current upper limit is at least low, else high first.
// The first refused request stops the other. Each limit of the settings changes only when its
// own request was taken. False when high < low, a value does not fit, or a request failed.
bool setTemperatureLimits(std::int32_t low, std::int32_t high);

} // namespace farlink::system
