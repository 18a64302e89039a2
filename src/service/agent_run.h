// Running the agent in the foreground until it is told to stop.
#pragma once

namespace farlink::service {

inline constexpr const char* kBanner = "Koru Agent for Windows NT OOB Server V1.2a\n";
inline constexpr const char* kUsage = "Input Format:FARLINK -v\n";

// The command line: -v prints the banner, any other argument the usage line; both exit 1.
// Without arguments the agent runs until SIGTERM or SIGINT.
int agentMain(int argc, const char* const* argv);

} // namespace farlink::service
