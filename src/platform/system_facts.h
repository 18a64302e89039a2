// Facts about the machine and the agent's process that the system groups serve.
//
// On a Linux host they come from the system itself; with FARLINK_MACHINE from the image's
// system/facts file, one "name=value" per line (blank lines and lines starting with '#' are
// passed by): "user" the account the agent runs under, "memory" the physical memory in bytes.
#pragma once

#include <cstdint>
#include <string>

namespace farlink::platform {

// The name of the account the process runs as; false (last error set) when it cannot be told.
// Host: the password database's name of the effective user, else the user id in decimal.
bool processUserName(std::string& name);

// The machine's physical memory in bytes; 0 when it is not known.
std::uint64_t physicalMemoryBytes();

} // namespace farlink::platform
