// Console lines, diagnostic texts and the last system error: the agent's lesser outputs.
#pragma once

#include <string>
#include <string_view>

namespace farlink::platform {

// Writes text to standard output as it stands (the caller supplies any line end) and flushes.
void printText(std::string_view text);

// Writes text and a line end to standard output, then pauses for one character from standard
// input, but only when standard input is a terminal: an operator at a console gets the pause,
// a service or a test never blocks on it.
void printLineAndPause(std::string_view text);

// Silences printText and printLineAndPause (benchmarks and tests that flood them).
void setConsoleQuiet(bool quiet);

// A diagnostic text: formatted by the agent for a person debugging it, read by nobody while it
// runs as a service. Goes to syslog at debug priority when FARLINK_DEBUG is set, else nowhere.
void diagnostic(std::string_view text);

// The last system error code of the calling thread (errno on this platform).
int lastError();
void setLastError(int code);

// printf-style formatting into a std::string for the agent's fixed message texts.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The system's own words for an error code ("No such file or directory").
std::string errorText(int code);

} // namespace farlink::platform
