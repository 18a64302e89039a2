#include "service/stop_flag.h"

namespace farlink::service {

std::atomic<std::uint32_t> stopFlag{0};

} // namespace farlink::service
