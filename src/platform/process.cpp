#include "platform/process.h"

#include <cstdio>
#include <unistd.h>

namespace farlink::platform {

void exitProcess(int code) {
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(code);
}

} // namespace farlink::platform
