#include "runtime/stop_flag.h"

namespace farlink::runtime {

std::atomic<std::uint32_t> stopFlag{0};

} // namespace farlink::runtime
