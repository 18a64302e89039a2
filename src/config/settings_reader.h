// Reading the agent settings from the configuration file.
#pragma once

namespace farlink::config {

// Reads "environment", "threshold", "NIC Threshold" and "Event.n" once, after the adapters have
// been counted.
void readAgentSettings();

} // namespace farlink::config
