// systemd as the host's service manager: whether it runs the system, and short systemctl calls.
#pragma once

#include <initializer_list>
#include <string>

namespace farlink::platform {

// True when systemd runs the system (its runtime directory /run/systemd/system exists).
bool systemdRunsHost();

// Runs `systemctl <arguments>` and waits at most timeoutMs for it to end; a call that takes longer
// is killed. Returns the exit status, or -1 (errno set) when it could not run or was killed.
// When output is given it receives the first bytes the program writes to standard output.
int runSystemctl(std::initializer_list<const char*> arguments, std::string* output, int timeoutMs);

} // namespace farlink::platform
