#include "platform/message_box.h"

#include <cstdio>
#include <string>
#include <syslog.h>

namespace farlink::platform {

// Nobody can answer a question here, so the style (OK or question) changes nothing: the caller
// goes on as if the message had been acknowledged.
void messageBox(std::string_view text, std::string_view caption, std::uint32_t /*style*/) {
    std::string line(caption);
    line += ": ";
    line.append(text);

    // One write, so that the message is not split by another thread's output.
    const std::string shown = line + '\n';
    std::fwrite(shown.data(), 1, shown.size(), stderr);
    std::fflush(stderr);

    // The journal shows one entry per line: a line break inside the text would split it.
    for (char& c : line) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    // The identity is a literal because syslog keeps the pointer for the life of the process.
    ::openlog("FARLINK", LOG_PID, LOG_DAEMON);
    ::syslog(LOG_DAEMON | LOG_CRIT, "%s", line.c_str());
}

} // namespace farlink::platform
